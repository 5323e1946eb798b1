/*
 * The model of the one secure disk the GUI works on: it picks the disk among
 * the machine's disks, keeps its device path and serial number, runs the
 * password operations through the command wrappers, and as a thread watches
 * that the disk still answers, ending the application when it is gone.
 */
#ifndef GUI_ZVSECURITY_DISK_H
#define GUI_ZVSECURITY_DISK_H

#include <QMap>
#include <QString>
#include <QThread>

#include <atomic>
#include <stdint.h>

/* The codes the window and pages act on. */
enum ZV_DISK_CODE_E {
    ZV_DISK_OK = 0,
    ZV_DISK_ERR_GET_SN = 2,           /* the chosen disk did not answer identify for its serial number */
    ZV_DISK_ERR_SET_PASSWORD = 3,
    ZV_DISK_ERR_SET_PROMPT = 5,       /* prompt write failed, or the prompt is over ZV_PROMPT_MAX_BYTES */
    ZV_DISK_ERR_GET_PROMPT = 6,
    ZV_DISK_ERR_VERIFY = 7,           /* wrong password, any other verify failure, or the reset failed */
    ZV_DISK_ERR_IDENTIFY = 9,
    ZV_DISK_NO_PASSWORD = 10,         /* start-up verdict: no password set */
    ZV_DISK_PASSWORD_SET = 11,        /* start-up verdict: a password is set, with the tries left */
    ZV_DISK_ERR_NOT_SECURITY_DISK = 12,
    ZV_DISK_ERR_NO_DISK = 15,         /* no security disk in public status */
};

/* Identify data of the secure disk, byte offsets in the 512-byte page. */
#define ZV_ID_SERIAL_OFFSET 20
#define ZV_ID_SERIAL_LEN 20
#define ZV_ID_SECTORS_OFFSET 200   /* 64-bit little-endian */
#define ZV_ID_SIGNATURE_OFFSET 262 /* 16-bit little-endian */
#define ZV_ID_SIGNATURE 0x5344
#define ZV_ID_TRIES_LEFT_OFFSET 442
#define ZV_ID_PASSWORD_SET_OFFSET 443
/* A disk of at most this many sectors is in public status (locked). */
#define ZV_PUBLIC_MAX_SECTORS 0x80000ull

/* Longest prompt the prompt sector holds, in UTF-8 bytes. */
#define ZV_PROMPT_MAX_BYTES 504
#define ZV_DISK_NAME_SIZE 32
#define ZV_WATCHDOG_PERIOD_MS 5000
#define ZV_FORMAT_TRIES 3
#define ZV_FORMAT_RETRY_WAIT_S 3

struct PasswordStatus {
    int32_t password_set; /* identify byte 443, sign-extended; non-zero once a password is set */
    int32_t error_times;  /* identify byte 442, sign-extended; tries left, 0 = data cleared */
};

class ZVSecurityDisk : public QThread
{
    Q_OBJECT

public:
    static ZVSecurityDisk *GetInstance();

    explicit ZVSecurityDisk(QThread *parent = nullptr);
    ~ZVSecurityDisk() override;

    /* Chooses the last security disk in public status in path order and
     * reads its serial number: 0, 2 or 15. The watchdog is on after 0. */
    int init();
    /* 0, 9 (identify failed) or 12 (no signature; the record is filled). */
    int get_password_status(PasswordStatus *v_status);
    /* Whether the password's UTF-8 bytes fit the catalogue's password field
     * (of both the set and the verify entry); set and verify send exactly
     * those bytes. */
    static bool password_fits(const QString &v_password);
    /* The set entry's password field length in bytes (0: no catalogue). */
    static int password_field_length();
    int set_password(QString v_password);    /* 0 or 3 */
    int verify_password(QString v_password); /* 0 or 7; resets the disk after a match */
    int set_password_prompt(QString v_prompt);  /* 0 or 5 */
    int get_password_prompt(QString &v_prompt); /* 0 or 6 */
    /* Up to three tries, 3 s after each failure: 0 or the last status. */
    int format_disk();
    /* Finds the disk of disk_sn again, maybe under a new path: 0 or 1. */
    int scan_disk_by_sn();
    /* Every security disk, with whether it is out of public status: 0 when
     * at least one was found, 1 otherwise. */
    int get_zvsecuritydisk_list(QMap<QString, bool> &v_disks);
    /* Bytes 20 to 39 of v_path's identify data into v_sn: 0 or 2. */
    int get_disk_sn(const char *v_path, char *v_sn);
    /* 1 when the disk answers; 0 when not, ending the application if the
     * watchdog is on. */
    int access_disk_status();
    void set_watchdog(bool v_on);
    void set_drive(char v_drive);
    char *get_disk_name();
    /* Ends the application's event loop with code 0 (from any thread). */
    void exit();

protected:
    /* The watchdog: every five seconds, while it is on, checks the disk. */
    void run() override;

private:
    int read_identify(const char *v_path, uint8_t *v_page);

    char disk_name[ZV_DISK_NAME_SIZE];
    char disk_sn[ZV_ID_SERIAL_LEN];
    char drive;
    /* Written by the pages, read by the watchdog thread. */
    std::atomic<bool> watchdog;
    QMap<QString, bool> disk_list;
};

#endif /* GUI_ZVSECURITY_DISK_H */
