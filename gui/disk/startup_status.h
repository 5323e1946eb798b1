/*
 * The start-up verdict on the secure disk: which page the GUI opens with.
 */
#ifndef GUI_STARTUP_STATUS_H
#define GUI_STARTUP_STATUS_H

#include "zvsecurity_disk.h"

/**
 * Chooses the disk and reads its password status.
 * @param v_status filled with the status read (both -1 when none was read)
 * @return 10 no password set; 11 a password is set (error_times holds the
 *         tries left); otherwise the failing code of init or
 *         get_password_status (2, 15, 9, 12)
 */
int check_startup_status(ZVSecurityDisk *v_disk, PasswordStatus *v_status);

#endif /* GUI_STARTUP_STATUS_H */
