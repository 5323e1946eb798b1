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
    /* 0 when the disk is ready; else the failing step's code, or
     * ZV_APP_SERVICE_UNREACHABLE. */
    void resultReady(int exit_code);

protected:
    void run() override;

private:
    QString password;
    QString prompt;
};

#endif /* GUI_FORMATTHREAD_H */
