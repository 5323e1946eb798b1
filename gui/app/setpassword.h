/*
 * The set-password page (index 2): a new password twice and an optional
 * prompt, checked here, then the whole set-up on FormatThread. The program
 * ends after reporting the set-up's outcome.
 */
#ifndef GUI_SETPASSWORD_H
#define GUI_SETPASSWORD_H

#include <QString>
#include <QWidget>

#include "ui_setpassword.h"

class FormatThread;

/* The password rule: 8 to 16 characters of any kind, among them at least
 * one ASCII letter and one ASCII digit. */
bool IsMatchRegX(const QString &text);

class setpassword : public QWidget
{
    Q_OBJECT

public:
    /* The page; created on the first call with that parent. */
    static setpassword *GetInstance(QWidget *parent);

    /* Clears the two password fields (the prompt stays) and shows the page. */
    void display();
    /* Whether the back button returns to the login page; disabled if not. */
    void active_cancel(bool allowed);
    /* The OK button, and the back button when cancel is allowed. */
    void control_push_button(bool enable);
    /* true: the three fields shown, the progress panel hidden; false: the
     * other way round. */
    void control_hide(bool inputs);
    /* true: fields disabled and hidden behind the progress panel; false:
     * fields enabled and shown. */
    void formating(bool busy);
    /* True while the set-up run (password, formatting) is under way. */
    bool setup_running() const;

signals:
    void change_mainwindows_signal(int index);

private slots:
    void on_ok_push_button_clicked();
    void on_cancel_push_button_clicked();
    void format_slot(int exit_code);
    /* Names the step of the set-up that runs on the progress panel. */
    void format_step_slot(int step, int attempt);

private:
    explicit setpassword(QWidget *parent);
    ~setpassword() override;

    /* What the progress panel says while step runs; attempt counts the
     * waits for the disk. */
    static QString step_text(int step, int attempt);
    /* The panel: its warning, then the text of the running step. */
    void show_progress(const QString &step);

    Ui_setpassword *ui;
    bool cancel_allowed;
    FormatThread *format_thread;
};

#endif /* GUI_SETPASSWORD_H */
