/*
 * The security disk model. Each operation is one request record handed to a
 * command wrapper; the command is named by its catalogue sub-name.
 */
#include "zvsecurity_disk.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstring>
#include <sys/stat.h>

#include "disk_discovery.h"
#include "security_cmd.h"

namespace {

uint64_t get_le64(const uint8_t *v_bytes)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; i--)
        value = (value << 8) | v_bytes[i];
    return value;
}

uint16_t get_le16(const uint8_t *v_bytes)
{
    return static_cast<uint16_t>(v_bytes[0] | (v_bytes[1] << 8));
}

bool has_signature(const uint8_t *v_page)
{
    return get_le16(v_page + ZV_ID_SIGNATURE_OFFSET) == ZV_ID_SIGNATURE;
}

/* A request record for v_dev: zeroed, then named. */
void prepare(_USER_DATA_ &v_data, const char *v_dev, const char *v_cmd, const char *v_sub)
{
    memset(&v_data, 0, sizeof(v_data));
    v_data.dev_name = v_dev;
    v_data.cmd_name = v_cmd;
    v_data.sub_name = v_sub;
}

/* The password's whole UTF-8 byte string; the zeroed record terminates it.
 * False, with nothing placed, when it does not fit the catalogue entry's
 * field (so that no shorter password would be sent in its place). */
bool put_password(_USER_DATA_ &v_data, const QString &v_password)
{
    if (!ZVSecurityDisk::password_fits(v_password))
        return false;
    const QByteArray bytes = v_password.toUtf8();
    memcpy(v_data.in_data, bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

} // namespace

ZVSecurityDisk *ZVSecurityDisk::GetInstance()
{
    static ZVSecurityDisk *handle = new ZVSecurityDisk();
    return handle;
}

ZVSecurityDisk::ZVSecurityDisk(QThread *parent) : QThread(parent), drive(0), watchdog(false)
{
    memset(disk_name, 0, sizeof(disk_name));
    memset(disk_sn, 0, sizeof(disk_sn));
}

ZVSecurityDisk::~ZVSecurityDisk() = default;

int ZVSecurityDisk::read_identify(const char *v_path, uint8_t *v_page)
{
    _USER_DATA_ data;
    prepare(data, v_path, "identify", "identify");
    int status = identify(&data);
    if (status == 0)
        memcpy(v_page, data.out_data, sizeof(data.out_data));
    return status;
}

int ZVSecurityDisk::get_zvsecuritydisk_list(QMap<QString, bool> &v_disks)
{
    v_disks.clear();
    lm_list disks;
    int lm_status = get_disk(&disks);
    if (lm_status != LM_STATUS_SUCCESS) {
        qCritical("get disk queue failed. lm status[0x%X]", lm_status);
        lm_free_disk_list(&disks);
        return 1;
    }
    for (lm_list *link = disks.link_next; link != &disks; link = link->link_next) {
        const char *path = lm_disk_of(link)->dev_path;
        uint8_t page[USER_DATA_SIZE];
        int status = read_identify(path, page);
        if (status != 0) {
            qCritical("get disk[%s]  identify failed. ptl error:0x%X", path, status);
            continue;
        }
        if (!has_signature(page)) {
            qCritical("disk[%s] is not zv security disk", path);
            continue;
        }
        v_disks[QString::fromUtf8(path)] = get_le64(page + ZV_ID_SECTORS_OFFSET) > ZV_PUBLIC_MAX_SECTORS;
    }
    lm_free_disk_list(&disks);
    return v_disks.isEmpty() ? 1 : 0;
}

int ZVSecurityDisk::init()
{
    /* Nothing to watch until a disk is chosen. */
    watchdog = false;
    memset(disk_name, 0, sizeof(disk_name));
    int result = get_zvsecuritydisk_list(disk_list);
    if (result == 0) {
        for (auto it = disk_list.constBegin(); it != disk_list.constEnd(); ++it) {
            const QByteArray path = it.key().toUtf8();
            if (!it.value() && path.size() < ZV_DISK_NAME_SIZE) {
                memset(disk_name, 0, sizeof(disk_name));
                memcpy(disk_name, path.constData(), static_cast<size_t>(path.size()));
            }
        }
    }
    if (disk_name[0] == '\0') {
        qCritical("get device number failed. lm status[0x%X]", result);
        return ZV_DISK_ERR_NO_DISK;
    }
    int status = get_disk_sn(disk_name, disk_sn);
    if (status != 0)
        return status;
    watchdog = true;
    return ZV_DISK_OK;
}

int ZVSecurityDisk::get_disk_sn(const char *v_path, char *v_sn)
{
    uint8_t page[USER_DATA_SIZE];
    int status = read_identify(v_path, page);
    if (status != 0) {
        qCritical("get disk[%s] sn failed. ptl error[0x%x]", v_path, status);
        return ZV_DISK_ERR_GET_SN;
    }
    memcpy(v_sn, page + ZV_ID_SERIAL_OFFSET, ZV_ID_SERIAL_LEN);
    return ZV_DISK_OK;
}

int ZVSecurityDisk::get_password_status(PasswordStatus *v_status)
{
    uint8_t page[USER_DATA_SIZE];
    int status = read_identify(disk_name, page);
    if (status != 0) {
        qCritical("get disk[%s]  identify failed. ptl error:0x%X", disk_name, status);
        return ZV_DISK_ERR_IDENTIFY;
    }
    v_status->password_set = static_cast<int8_t>(page[ZV_ID_PASSWORD_SET_OFFSET]);
    v_status->error_times = static_cast<int8_t>(page[ZV_ID_TRIES_LEFT_OFFSET]);
    if (!has_signature(page)) {
        qCritical("disk[%s] is not zv security disk", disk_name);
        return ZV_DISK_ERR_NOT_SECURITY_DISK;
    }
    return ZV_DISK_OK;
}

int ZVSecurityDisk::set_password(QString v_password)
{
    _USER_DATA_ data;
    prepare(data, disk_name, "sendcmd", "setpwd");
    if (!put_password(data, v_password)) {
        qCritical("set password refused: the password does not fit the command's field.");
        return ZV_DISK_ERR_SET_PASSWORD;
    }
    return send_cmd(&data) == 0 ? ZV_DISK_OK : ZV_DISK_ERR_SET_PASSWORD;
}

int ZVSecurityDisk::verify_password(QString v_password)
{
    _USER_DATA_ data;
    prepare(data, disk_name, "sendcmd", "verifypwd");
    if (!put_password(data, v_password)) {
        qCritical("verify password refused: the password does not fit the command's field.");
        return ZV_DISK_ERR_VERIFY;
    }
    int status = send_cmd(&data);
    if (status != 0) {
        qCritical("verify password disk[%s] failed. verifypwd:%d.", disk_name, status);
        return ZV_DISK_ERR_VERIFY;
    }
    status = reset(&data);
    if (status != 0) {
        qCritical("reset disk[%s] failed. reset:%d", disk_name, status);
        return ZV_DISK_ERR_VERIFY;
    }
    return ZV_DISK_OK;
}

int ZVSecurityDisk::set_password_prompt(QString v_prompt)
{
    const QByteArray prompt = v_prompt.toUtf8();
    /* The prompt sector keeps 504 bytes; a longer prompt is refused whole
     * rather than cut inside a character. */
    if (prompt.size() > ZV_PROMPT_MAX_BYTES)
        return ZV_DISK_ERR_SET_PROMPT;
    _USER_DATA_ data;
    prepare(data, disk_name, "write", "writeparam");
    memcpy(data.in_data, prompt.constData(), static_cast<size_t>(prompt.size()));
    return write(&data) == 0 ? ZV_DISK_OK : ZV_DISK_ERR_SET_PROMPT;
}

int ZVSecurityDisk::get_password_prompt(QString &v_prompt)
{
    _USER_DATA_ data;
    prepare(data, disk_name, "read", "readparam");
    if (read(&data) != 0)
        return ZV_DISK_ERR_GET_PROMPT;
    const char *text = reinterpret_cast<const char *>(data.out_data);
    v_prompt = QString::fromUtf8(text, static_cast<int>(strnlen(text, sizeof(data.out_data))));
    return ZV_DISK_OK;
}

int ZVSecurityDisk::format_disk()
{
    int status = 0;
    for (int i = 0; i < ZV_FORMAT_TRIES; i++) {
        _USER_DATA_ data;
        memset(&data, 0, sizeof(data));
        data.dev_name = disk_name;
        status = format(&data);
        if (status == 0)
            return ZV_DISK_OK;
        QThread::sleep(ZV_FORMAT_RETRY_WAIT_S);
    }
    return status;
}

int ZVSecurityDisk::scan_disk_by_sn()
{
    lm_list disks;
    int lm_status = get_disk(&disks);
    if (lm_status != LM_STATUS_SUCCESS) {
        qCritical("get disk queue failed. lm status[0x%X]", lm_status);
        lm_free_disk_list(&disks);
        return 1;
    }
    int result = 1;
    for (lm_list *link = disks.link_next; link != &disks; link = link->link_next) {
        const char *path = lm_disk_of(link)->dev_path;
        char sn[ZV_ID_SERIAL_LEN];
        if (get_disk_sn(path, sn) != ZV_DISK_OK)
            continue;
        if (memcmp(sn, disk_sn, sizeof(sn)) == 0) {
            memset(disk_name, 0, sizeof(disk_name));
            memcpy(disk_name, path, strnlen(path, sizeof(disk_name) - 1));
            qDebug("scan disk name:%s", disk_name);
            result = 0;
            break;
        }
    }
    lm_free_disk_list(&disks);
    return result;
}

int ZVSecurityDisk::access_disk_status()
{
    uint8_t page[USER_DATA_SIZE];
    if (disk_name[0] == '\0' || read_identify(disk_name, page) == 0)
        return 1;
    /* A disk that is slow to answer (or a busy service) is still there
     * while its node is: only a disk that has gone ends the program. */
    struct stat st;
    if (stat(disk_name, &st) == 0 && S_ISBLK(st.st_mode)) {
        qWarning("disk[%s] did not answer; it is still present.", disk_name);
        return 1;
    }
    qCritical("disk is not exist. application exit.");
    if (watchdog)
        exit();
    return 0;
}

void ZVSecurityDisk::set_watchdog(bool v_on)
{
    watchdog = v_on;
}

void ZVSecurityDisk::set_drive(char v_drive)
{
    drive = v_drive;
}

char *ZVSecurityDisk::get_disk_name()
{
    return disk_name;
}

void ZVSecurityDisk::exit()
{
    /* Queued to the application's own thread: the watchdog calls this. */
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr)
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

void ZVSecurityDisk::run()
{
    for (;;) {
        QThread::msleep(ZV_WATCHDOG_PERIOD_MS);
        if (watchdog)
            GetInstance()->access_disk_status();
    }
}
