/*
 * The start-up check: the service first, since without it every disk
 * would look absent; then the model chooses the disk and reads its
 * password status.
 */
#include "passwordstatusthread.h"

#include <QtGlobal>

#include "app_codes.h"
#include "service_probe.h"
#include "startup_status.h"
#include "zvsecurity_disk.h"

void PasswordStatusThread::run()
{
    QString reason;
    if (!disk_service_reachable(&reason)) {
        qCritical("disk service unreachable: %s", qUtf8Printable(reason));
        emit resultReady(ZV_APP_SERVICE_UNREACHABLE, 0);
        return;
    }
    PasswordStatus status;
    const int result = check_startup_status(ZVSecurityDisk::GetInstance(), &status);
    /* A call the service refused makes every disk look absent or broken. */
    if (!disk_service_reachable(&reason)) {
        qCritical("disk service unreachable: %s", qUtf8Printable(reason));
        emit resultReady(ZV_APP_SERVICE_UNREACHABLE, 0);
        return;
    }
    emit resultReady(result, result == ZV_DISK_PASSWORD_SET ? status.error_times : 0);
}
