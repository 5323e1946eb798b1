/*
 * The verification of one login.
 */
#include "verifypasswordthread.h"

#include <QtGlobal>

#include "app_codes.h"
#include "service_probe.h"
#include "zvsecurity_disk.h"

VerifyPasswordThread::VerifyPasswordThread(QObject *parent) : QThread(parent) {}

void VerifyPasswordThread::set_password(const QString &v_password)
{
    password = v_password;
}

void VerifyPasswordThread::run()
{
    ZVSecurityDisk *disk = ZVSecurityDisk::GetInstance();
    PasswordStatus status;
    status.password_set = -1;
    status.error_times = -1;
    int exit_code = disk->verify_password(password);
    if (exit_code != 0) {
        if (disk->get_password_status(&status) != 0)
            status.error_times = -1;
        QString reason;
        if (status.error_times < 0 && !disk_service_reachable(&reason)) {
            qCritical("disk service unreachable: %s", qUtf8Printable(reason));
            exit_code = ZV_APP_SERVICE_UNREACHABLE;
        }
    }
    emit resultReady(exit_code, status.error_times);
}
