// Takes the program's single-instance lock on the file named by its one
// argument, as zvsecurity does, and prints what came of it on one line:
// "held", "busy", "open-failed: <system error>" or "lock-failed: <system
// error>". Holding the lock, it keeps it until its standard input ends.
// The lock tests run it as other users.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "instance_lock.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s LOCKFILE\n", argv[0]);
        return 2;
    }
    int fd = -1;
    const INSTANCE_LOCK_E result = acquire_instance_lock(argv[1], &fd);
    const int error = errno;
    switch (result) {
    case INSTANCE_LOCK_HELD:
        printf("held\n");
        break;
    case INSTANCE_LOCK_BUSY:
        printf("busy\n");
        break;
    case INSTANCE_LOCK_OPEN_FAILED:
        printf("open-failed: %s\n", strerror(error));
        break;
    case INSTANCE_LOCK_FAILED:
        printf("lock-failed: %s\n", strerror(error));
        break;
    }
    fflush(stdout);
    if (result == INSTANCE_LOCK_HELD) {
        char c;
        while (read(STDIN_FILENO, &c, 1) > 0) {
        }
    }
    return 0;
}
