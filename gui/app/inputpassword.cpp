/*
 * The login page. A login pauses the disk model's watchdog until its result
 * has arrived: the disk leaves the bus while it is reset after a match.
 */
#include "inputpassword.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>

#include "app_codes.h"
#include "app_font.h"
#include "messagedialog.h"
#include "page_index.h"
#include "screen_size.h"
#include "service_probe.h"
#include "setpassword.h"
#include "verifypasswordthread.h"
#include "zvsecurity_disk.h"

/* Up to this many tries left, a wrong password tells how many remain. */
#define ZV_TRIES_SHOWN_MAX 3

inputpassword *inputpassword::GetInstance(QWidget *parent)
{
    static inputpassword *handle = new inputpassword(parent);
    return handle;
}

inputpassword::inputpassword(QWidget *parent) : QWidget(parent), ui(new Ui_inputpassword), verify_thread(nullptr)
{
    setAttribute(Qt::WA_StyledBackground);
    ui->setupUi(this);

    verify_thread = new VerifyPasswordThread();
    connect(verify_thread, SIGNAL(resultReady(int, int)), this, SLOT(verify_password_slots(int, int)));

    resize(page_width(), ZV_PAGE_HEIGHT);

    ui->input_password_line_edit->setEchoMode(QLineEdit::Password);
    ui->input_password_line_edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    QAction *password_icon = new QAction(QIcon(QStringLiteral(":/image/image/lineedit_password.png")), QString(), this);
    ui->input_password_line_edit->addAction(password_icon, QLineEdit::LeadingPosition);

    const QFont font = page_font();
    ui->input_password_line_edit->setFont(font);
    ui->login_push_button->setFont(font);
    ui->password_prompt_push_button->setFont(font);
    ui->reset_password_push_button->setFont(font);

    ui->input_password_line_edit->setToolTip(tr("Please enter an 8-16 digit password"));
    ui->input_password_line_edit->setAccessibleName(tr("Password"));
    ui->input_password_line_edit->setFocus();
}

inputpassword::~inputpassword()
{
    /* A verification still running is one bounded bus call. */
    verify_thread->wait();
    delete verify_thread;
    delete ui;
}

void inputpassword::display()
{
    ui->input_password_line_edit->clear();
    control_push_button(true);
    show();
    ui->input_password_line_edit->setFocus();
}

void inputpassword::control_push_button(bool enable)
{
    ui->login_push_button->setEnabled(enable);
    ui->reset_password_push_button->setEnabled(enable);
    ui->password_prompt_push_button->setEnabled(enable);
}

void inputpassword::report_service_unreachable()
{
    messagebox_critical(this, tr("ZV Security"),
                        tr("The disk service is not reachable: zvsecurity-dbus is not running or does not "
                           "let you use it. Please start it, or ask your administrator to allow you to use it, "
                           "and re-open the program."),
                        tr("Ok"), QString());
    qCritical("disk service unreachable. application exit.");
    ZVSecurityDisk::GetInstance()->exit();
}

void inputpassword::on_login_push_button_clicked()
{
    ZVSecurityDisk *disk = ZVSecurityDisk::GetInstance();
    control_push_button(false);
    disk->set_watchdog(false);
    const QString password = ui->input_password_line_edit->text();
    if (password.isEmpty()) {
        disk->set_watchdog(true);
        messagebox_warning(this, tr("ZV Security"), tr("input password is empty."), tr("ok"), QString());
        control_push_button(true);
        return;
    }
    verify_thread->set_password(password);
    verify_thread->start();
}

void inputpassword::verify_password_slots(int exit_code, int error_times)
{
    ZVSecurityDisk *disk = ZVSecurityDisk::GetInstance();
    disk->set_watchdog(true);
    const QString title = tr("ZV Security");
    if (exit_code == 0) {
        qCritical("unlock disk  successful. application exit.");
        QCoreApplication::exit(0);
    } else if (exit_code == ZV_APP_SERVICE_UNREACHABLE) {
        report_service_unreachable();
    } else if (error_times < 0) {
        messagebox_critical(this, title,
                            tr("Password verification cannot be completed, please unplug the U disk and operate "
                               "again."),
                            tr("Ok"), QString());
        qCritical("Password verification cannot be completed. application exit.");
        disk->exit();
    } else if (error_times > ZV_TRIES_SHOWN_MAX) {
        messagebox_warning(this, title, tr("The password is wrong, please reenter it."), tr("Ok"), QString());
    } else {
        messagebox_warning(this, title,
                           tr("The password is wrong, please reenter it.Retry the remaining") +
                               QString::number(error_times) + tr("times."),
                           tr("Ok"), QString());
        if (error_times == 0) {
            messagebox_critical(this, title,
                                tr("The maximum number of password retries has been reached and the data has "
                                   "been cleared.Please reconfigure the password and use it."),
                                tr("Ok"), QString());
            setpassword::GetInstance(nullptr)->active_cancel(false);
            emit change_mainwindows_signal(PAGE_SET_PASSWORD);
        }
    }
    control_push_button(true);
    keep_focus_on(ui->input_password_line_edit);
}

void inputpassword::on_reset_password_push_button_clicked()
{
    control_push_button(false);
    const int answer = messagebox_warning(this, tr("ZV Security"),
                                          tr("User data will be formatted and all data will be erased and "
                                             "unrecoverable. Do you want to enter a new password and format it?"),
                                          tr("ok"), tr("cancel"));
    if (answer == 0) {
        setpassword::GetInstance(nullptr)->active_cancel(true);
        emit change_mainwindows_signal(PAGE_SET_PASSWORD);
    }
    control_push_button(true);
    keep_focus_on(ui->reset_password_push_button);
}

void inputpassword::on_password_prompt_push_button_clicked()
{
    control_push_button(false);
    QString prompt;
    if (ZVSecurityDisk::GetInstance()->get_password_prompt(prompt) == 0) {
        messagebox_warning(this, QStringLiteral("Question"), prompt, tr("Ok"), QString());
    } else if (!disk_service_reachable()) {
        report_service_unreachable();
    } else {
        messagebox_critical(this, tr("ZV Security"),
                            tr("Failed to get password prompt message, please check the disk connection status."),
                            tr("ok"), QString());
    }
    control_push_button(true);
    keep_focus_on(ui->password_prompt_push_button);
}

void inputpassword::keep_focus_on(QWidget *widget)
{
    /* The buttons were disabled while a dialog or a verification ran, and
     * the focus went elsewhere; the keyboard user goes on from where they
     * were. */
    if (isVisible())
        widget->setFocus();
}
