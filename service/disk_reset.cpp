/*
 * Sending the vendor reset to the secure disk.
 */
#include "disk_reset.h"

#include <syslog.h>

#include "disk_request.h"

int reset_disk(const disk_access *v_access, const QByteArray &v_devname)
{
    PROTOCOL_STATUS status = check_device_name(v_access, v_devname);
    if (status == PTL_SERVICE_OPEN_FAILED)
        syslog(LOG_WARNING, "reset open disk handle failed");
    if (status != PTL_SUCCESS)
        return status;
    int handle = v_access->open(v_devname.constData());
    if (handle == -1) {
        syslog(LOG_WARNING, "reset open disk handle failed");
        return PTL_SERVICE_OPEN_FAILED;
    }
    int result = check_secure_disk(v_access, handle);
    if (result == PTL_SUCCESS)
        result = v_access->send_reset(handle);
    v_access->close(handle);
    return result;
}
