/*
 * The login page (index 1): the password of a disk that carries one, a
 * login button (and Return), the stored password prompt, and a reset that
 * leads to the set-password page after a warning about the formatting.
 */
#ifndef GUI_INPUTPASSWORD_H
#define GUI_INPUTPASSWORD_H

#include <QWidget>

#include "ui_inputpassword.h"

class VerifyPasswordThread;

class inputpassword : public QWidget
{
    Q_OBJECT

public:
    /* The page; created on the first call with that parent. */
    static inputpassword *GetInstance(QWidget *parent);

    /* Clears the password, enables the buttons and shows the page. */
    void display();
    /* Enables or disables the login, reset and prompt buttons together. */
    void control_push_button(bool enable);

signals:
    void change_mainwindows_signal(int index);

public slots:
    void on_login_push_button_clicked();
    void on_reset_password_push_button_clicked();
    void on_password_prompt_push_button_clicked();
    void verify_password_slots(int exit_code, int error_times);

private:
    /* Gives the focus back to widget while the page shows. */
    void keep_focus_on(QWidget *widget);

    explicit inputpassword(QWidget *parent);
    ~inputpassword() override;
    /* Tells that the disk service cannot be reached and ends the program. */
    void report_service_unreachable();

    Ui_inputpassword *ui;
    VerifyPasswordThread *verify_thread;
};

#endif /* GUI_INPUTPASSWORD_H */
