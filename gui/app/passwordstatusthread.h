/*
 * The start-up check of the main window, on a thread of its own: which
 * secure disk, and whether it carries a password.
 */
#ifndef GUI_PASSWORDSTATUSTHREAD_H
#define GUI_PASSWORDSTATUSTHREAD_H

#include <QThread>

class PasswordStatusThread : public QThread
{
    Q_OBJECT

public:
    using QThread::QThread;

signals:
    /* 10 no password; 11 with the tries left in value; else the failing
     * model code (2, 9, 12, 15) or ZV_APP_SERVICE_UNREACHABLE, value 0. */
    void resultReady(int status, int value);

protected:
    void run() override;
};

#endif /* GUI_PASSWORDSTATUSTHREAD_H */
