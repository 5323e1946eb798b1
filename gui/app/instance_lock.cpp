/*
 * The single-instance lock. The file lives in the shared /tmp, where any
 * user may put a symbolic link or a FIFO under its name first: the file is
 * opened without following links and without blocking, and must be a
 * regular file.
 */
#include "instance_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

INSTANCE_LOCK_E acquire_instance_lock(const char *v_path, int *v_fd)
{
    int fd = open(v_path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return INSTANCE_LOCK_OPEN_FAILED;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return INSTANCE_LOCK_OPEN_FAILED;
    }
    if (lockf(fd, F_TLOCK, 0) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return INSTANCE_LOCK_BUSY;
    }
    *v_fd = fd;
    return INSTANCE_LOCK_HELD;
}
