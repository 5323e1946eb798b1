/*
 * One copy of the program per machine, whichever user runs it: a lock held
 * on a fixed file for the life of the process. The file is never removed
 * and nothing is written to it; the operating system releases the lock
 * however the process ends.
 */
#ifndef GUI_INSTANCE_LOCK_H
#define GUI_INSTANCE_LOCK_H

#define ZV_LOCK_FILE "/tmp/zvsecuritylockfile.txt"

enum INSTANCE_LOCK_E {
    INSTANCE_LOCK_HELD = 0,        /* this process holds the lock */
    INSTANCE_LOCK_OPEN_FAILED = 1, /* the file cannot be opened (or is a link, or no regular file) */
    INSTANCE_LOCK_BUSY = 2,        /* another process holds the lock */
    INSTANCE_LOCK_FAILED = 3,      /* the file is open but cannot be locked */
};

/**
 * Opens v_path, never through a symbolic link and without blocking, and
 * takes an exclusive flock on it without waiting. An existing file is
 * opened read-write when this user may, read-only otherwise (the first user
 * of the machine owns it; flock needs no write access); a missing one is
 * created with mode 0644 whatever the umask, so that every user can open
 * it. An existing file is never opened with O_CREAT: where
 * fs.protected_regular is set, that fails on another user's file in /tmp.
 * The descriptor stays open while the lock is held, and is closed
 * otherwise. errno tells the cause of a failure.
 * @param v_fd receives the open descriptor when the lock is held
 */
INSTANCE_LOCK_E acquire_instance_lock(const char *v_path, int *v_fd);

#endif /* GUI_INSTANCE_LOCK_H */
