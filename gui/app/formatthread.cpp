/*
 * The set-up run. Each step's code ends the run as soon as it is not 0.
 */
#include "formatthread.h"

#include <QtGlobal>

#include <atomic>

#include "app_codes.h"
#include "service_probe.h"
#include "zvsecurity_disk.h"

static std::atomic<unsigned long> scan_wait_ms{ZV_SCAN_WAIT_MS};

FormatThread::FormatThread(QObject *parent) : QThread(parent) {}

void FormatThread::set_param(const FormatThreadParam &param)
{
    password = param.password;
    prompt = param.prompt;
}

void FormatThread::set_scan_wait_ms(unsigned long ms)
{
    scan_wait_ms = ms;
}

void FormatThread::announce(int step, int attempt, int result)
{
    if (result == 0)
        emit stepStarted(step, attempt);
}

/* After a reset: the disk by its serial number, under whatever name. */
int FormatThread::find_disk_again(ZVSecurityDisk *v_disk)
{
    int result = 1;
    for (int attempt = 0; attempt < ZV_SCAN_ATTEMPTS && result != 0; attempt++) {
        announce(FORMAT_STEP_WAIT_DISK, attempt + 1, 0);
        QThread::msleep(scan_wait_ms);
        result = v_disk->scan_disk_by_sn();
    }
    return result;
}

void FormatThread::run()
{
    ZVSecurityDisk *disk = ZVSecurityDisk::GetInstance();
    announce(FORMAT_STEP_PROMPT, 0, 0);
    int result = disk->set_password_prompt(prompt);
    announce(FORMAT_STEP_PASSWORD, 0, result);
    if (result == 0)
        result = disk->set_password(password);
    announce(FORMAT_STEP_UNLOCK, 0, result);
    if (result == 0)
        result = disk->verify_password(password);
    if (result == 0)
        result = find_disk_again(disk);
    announce(FORMAT_STEP_FORMAT, 0, result);
    if (result == 0)
        result = disk->format_disk();
    /* format resets the disk too: it may come back under another name. */
    if (result == 0)
        result = find_disk_again(disk);
    announce(FORMAT_STEP_UNLOCK_AGAIN, 0, result);
    if (result == 0)
        result = disk->verify_password(password);
    QString reason;
    if (result != 0 && !disk_service_reachable(&reason)) {
        qCritical("disk service unreachable: %s", qUtf8Printable(reason));
        result = ZV_APP_SERVICE_UNREACHABLE;
    }
    emit resultReady(result);
}
