/*
 * One copy of the program per machine: a lock held on a fixed file for the
 * life of the process. The file is never removed and nothing is written to
 * it; the operating system releases the lock however the process ends.
 */
#ifndef GUI_INSTANCE_LOCK_H
#define GUI_INSTANCE_LOCK_H

#define ZV_LOCK_FILE "/tmp/zvsecuritylockfile.txt"

enum INSTANCE_LOCK_E {
    INSTANCE_LOCK_HELD = 0,        /* this process holds the lock */
    INSTANCE_LOCK_OPEN_FAILED = 1, /* the file cannot be opened (or is a link, or no regular file) */
    INSTANCE_LOCK_BUSY = 2,        /* another process holds the lock */
};

/**
 * Opens v_path write-only, creating it with mode 0644, never through a
 * symbolic link, and takes the lock without waiting (lockf F_TLOCK). The
 * descriptor stays open while the lock is held, and is closed otherwise.
 * errno tells the cause of a failure.
 * @param v_fd receives the open descriptor when the lock is held
 */
INSTANCE_LOCK_E acquire_instance_lock(const char *v_path, int *v_fd);

#endif /* GUI_INSTANCE_LOCK_H */
