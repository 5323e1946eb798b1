/*
 * The start-up verdict, as the status worker of the main window reports it.
 */
#include "startup_status.h"

int check_startup_status(ZVSecurityDisk *v_disk, PasswordStatus *v_status)
{
    v_status->password_set = -1;
    v_status->error_times = -1;
    int result = v_disk->init();
    if (result != ZV_DISK_OK)
        return result;
    result = v_disk->get_password_status(v_status);
    if (result != ZV_DISK_OK)
        return result;
    return v_status->password_set != 0 ? ZV_DISK_PASSWORD_SET : ZV_DISK_NO_PASSWORD;
}
