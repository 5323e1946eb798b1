/*
 * The set-up run of the set-password page, on a thread of its own: store
 * the prompt, set the password, unlock with it, find the disk again under
 * its serial number, format its data area and unlock once more.
 */
#ifndef GUI_FORMATTHREAD_H
#define GUI_FORMATTHREAD_H

#include <QString>
#include <QThread>

/* Attempts to find the disk again after the unlock, and the wait before
 * each (the disk leaves the bus and comes back). */
#define ZV_SCAN_ATTEMPTS 6
#define ZV_SCAN_WAIT_MS 10000

/* The steps of a set-up run, in order, as FormatThread::stepStarted names
 * them. */
enum FORMAT_STEP_E {
    FORMAT_STEP_PROMPT = 0,       /* writing the password prompt */
    FORMAT_STEP_PASSWORD = 1,     /* setting the password */
    FORMAT_STEP_UNLOCK = 2,       /* unlocking with it (the disk resets) */
    FORMAT_STEP_WAIT_DISK = 3,    /* waiting for the disk to come back */
    FORMAT_STEP_FORMAT = 4,       /* formatting the data area */
    FORMAT_STEP_UNLOCK_AGAIN = 5, /* unlocking the formatted disk */
};

class ZVSecurityDisk;

struct FormatThreadParam {
    QString password;
    QString prompt;
};

class FormatThread : public QThread
{
    Q_OBJECT

public:
    explicit FormatThread(QObject *parent = nullptr);

    void set_param(const FormatThreadParam &param);
    /* The wait before each scan, ZV_SCAN_WAIT_MS unless set. */
    static void set_scan_wait_ms(unsigned long ms);

signals:
    /* A step begins; attempt counts the waits for the disk from 1, and is
     * 0 for the other steps. */
    void stepStarted(int step, int attempt);
    /* 0 when the disk is ready; else the failing step's code, or
     * ZV_APP_SERVICE_UNREACHABLE. */
    void resultReady(int exit_code);

protected:
    void run() override;

private:
    /* stepStarted, unless an earlier step failed (result not 0). */
    void announce(int step, int attempt, int result);
    /* Scans for the disk by its serial number after a reset, announcing
     * each wait; 0 once found. */
    int find_disk_again(ZVSecurityDisk *v_disk);

    QString password;
    QString prompt;
};

#endif /* GUI_FORMATTHREAD_H */
