/*
 * One login's verification, on a thread of its own: the password goes to
 * the disk, and after a failure the tries it still allows are read.
 */
#ifndef GUI_VERIFYPASSWORDTHREAD_H
#define GUI_VERIFYPASSWORDTHREAD_H

#include <QString>
#include <QThread>

class VerifyPasswordThread : public QThread
{
    Q_OBJECT

public:
    explicit VerifyPasswordThread(QObject *parent = nullptr);

    /* The password of the next run; set while the thread is not running. */
    void set_password(const QString &password);

signals:
    /* exit_code: the model's verify_password code (0 unlocked), or
     * ZV_APP_SERVICE_UNREACHABLE; error_times: the tries left after a
     * failure, -1 when they could not be read. */
    void resultReady(int exit_code, int error_times);

protected:
    void run() override;

private:
    QString password;
};

#endif /* GUI_VERIFYPASSWORDTHREAD_H */
