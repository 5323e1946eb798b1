/*
 * The single-instance lock. The file lives in the shared /tmp, where any
 * user may put a symbolic link or a FIFO under its name first: the file is
 * opened without following links and without blocking, and must be a
 * regular file.
 */
#include "instance_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#define ZV_LOCK_OPEN_FLAGS (O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
#define ZV_LOCK_FILE_MODE 0644

/* A descriptor of the file at v_path, created if missing; -1 and errno. */
static int open_lock_file(const char *v_path)
{
    /* Two rounds at most: the file may appear or vanish between the tries. */
    for (int round = 0; round < 2; round++) {
        int fd = open(v_path, O_RDWR | ZV_LOCK_OPEN_FLAGS);
        if (fd >= 0)
            return fd;
        if (errno == EACCES || errno == EPERM || errno == EROFS)
            return open(v_path, O_RDONLY | ZV_LOCK_OPEN_FLAGS);
        if (errno != ENOENT)
            return -1;
        fd = open(v_path, O_RDWR | O_CREAT | O_EXCL | ZV_LOCK_OPEN_FLAGS, ZV_LOCK_FILE_MODE);
        if (fd >= 0) {
            /* The umask must not keep the other users out. */
            if (fchmod(fd, ZV_LOCK_FILE_MODE) != 0) {
                int saved = errno;
                close(fd);
                errno = saved;
                return -1;
            }
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

INSTANCE_LOCK_E acquire_instance_lock(const char *v_path, int *v_fd)
{
    int fd = open_lock_file(v_path);
    if (fd < 0)
        return INSTANCE_LOCK_OPEN_FAILED;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return INSTANCE_LOCK_OPEN_FAILED;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return saved == EWOULDBLOCK ? INSTANCE_LOCK_BUSY : INSTANCE_LOCK_FAILED;
    }
    *v_fd = fd;
    return INSTANCE_LOCK_HELD;
}
