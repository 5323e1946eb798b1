/*
 * The set-password page. The entered secrets are checked here and handed
 * to the set-up thread; they never reach the log.
 */
#include "setpassword.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QRegularExpression>

#include "app_codes.h"
#include "app_font.h"
#include "formatthread.h"
#include "messagedialog.h"
#include "page_index.h"
#include "screen_size.h"
#include "zvsecurity_disk.h"

bool IsMatchRegX(const QString &text)
{
    static const QRegularExpression rule(QStringLiteral("^(?=.*[a-zA-Z])(?=.*[0-9]).{8,16}$"));
    const QRegularExpressionMatch match = rule.match(text);
    return match.hasMatch() && match.capturedLength() == text.length();
}

setpassword *setpassword::GetInstance(QWidget *parent)
{
    static setpassword *handle = new setpassword(parent);
    return handle;
}

setpassword::setpassword(QWidget *parent)
    : QWidget(parent), ui(new Ui_setpassword), cancel_allowed(false), format_thread(nullptr)
{
    setAttribute(Qt::WA_StyledBackground);
    ui->setupUi(this);
    format_thread = new FormatThread();

    ui->input_new_password_line_edit->setEchoMode(QLineEdit::Password);
    ui->input_new_password_line_edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->input_new_password_line_edit_again->setEchoMode(QLineEdit::Password);
    ui->input_new_password_line_edit_again->setAttribute(Qt::WA_InputMethodEnabled, false);

    resize(page_width(), ZV_PAGE_HEIGHT);

    show_progress(tr("The USB driver is in the process of resetting"));
    ui->lineEdit_warning->setReadOnly(true);

    QAction *password_icon = new QAction(QIcon(QStringLiteral(":/image/image/lineedit_password.png")), QString(), this);
    ui->input_new_password_line_edit->addAction(password_icon, QLineEdit::LeadingPosition);
    ui->input_new_password_line_edit_again->addAction(password_icon, QLineEdit::LeadingPosition);
    QAction *blank_icon = new QAction(QIcon(QStringLiteral(":/image/image/lineedit_password_null.png")), QString(), this);
    ui->password_prompt_line_edit->addAction(blank_icon, QLineEdit::LeadingPosition);

    control_hide(true);

    connect(format_thread, SIGNAL(resultReady(int)), this, SLOT(format_slot(int)));
    connect(format_thread, SIGNAL(stepStarted(int, int)), this, SLOT(format_step_slot(int, int)));

    const QFont font = page_font();
    ui->cancel_push_button->setFont(font);
    ui->ok_push_button->setFont(font);
    ui->lineEdit_warning->setFont(font);
    ui->input_new_password_line_edit->setFont(font);
    ui->input_new_password_line_edit_again->setFont(font);
    ui->password_prompt_line_edit->setFont(font);
    ui->label->setFont(font);
    ui->label_4->setFont(font);

    ui->input_new_password_line_edit->setToolTip(ui->input_new_password_line_edit->placeholderText());
    ui->input_new_password_line_edit_again->setToolTip(ui->input_new_password_line_edit_again->placeholderText());
    ui->password_prompt_line_edit->setToolTip(ui->password_prompt_line_edit->placeholderText());
    ui->input_new_password_line_edit->setAccessibleName(ui->input_new_password_line_edit->placeholderText());
    ui->input_new_password_line_edit_again->setAccessibleName(
        ui->input_new_password_line_edit_again->placeholderText());
    ui->password_prompt_line_edit->setAccessibleName(ui->password_prompt_line_edit->placeholderText());
    ui->lineEdit_warning->setAccessibleName(tr("Progress of the set-up"));
    ui->progress_bar->setAccessibleName(tr("Progress of the set-up"));
    ui->input_new_password_line_edit->setFocus();
}

QString setpassword::step_text(int step, int attempt)
{
    switch (step) {
    case FORMAT_STEP_PROMPT:
        return tr("Writing the prompt...");
    case FORMAT_STEP_PASSWORD:
        return tr("Setting the password...");
    case FORMAT_STEP_UNLOCK:
        return tr("Unlocking the disk...");
    case FORMAT_STEP_WAIT_DISK:
        return tr("Waiting for the disk (%1 of %2)...").arg(attempt).arg(ZV_SCAN_ATTEMPTS);
    case FORMAT_STEP_FORMAT:
        return tr("Formatting the disk...");
    case FORMAT_STEP_UNLOCK_AGAIN:
        return tr("Unlocking once more...");
    default:
        return QString();
    }
}

void setpassword::show_progress(const QString &step)
{
    ui->lineEdit_warning->clear();
    ui->lineEdit_warning->appendPlainText(QStringLiteral("\n \n \n"));
    ui->lineEdit_warning->appendPlainText(tr("Please do not pull out the USB driver \n"));
    ui->lineEdit_warning->appendPlainText(step);
}

void setpassword::format_step_slot(int step, int attempt)
{
    qDebug("set-up step %d, attempt %d", step, attempt);
    const QString text = step_text(step, attempt);
    if (!text.isEmpty())
        show_progress(text);
}

setpassword::~setpassword()
{
    /* A set-up still running keeps its thread object: destroying a running
     * thread would abort the process in the middle of the disk's set-up. */
    if (!format_thread->isRunning())
        delete format_thread;
    delete ui;
}

void setpassword::display()
{
    ui->input_new_password_line_edit->clear();
    ui->input_new_password_line_edit_again->clear();
    show();
    ui->input_new_password_line_edit->setFocus();
}

void setpassword::active_cancel(bool allowed)
{
    cancel_allowed = allowed;
    ui->cancel_push_button->setEnabled(allowed);
}

void setpassword::control_push_button(bool enable)
{
    ui->ok_push_button->setEnabled(enable);
    if (cancel_allowed)
        ui->cancel_push_button->setEnabled(enable);
}

void setpassword::control_hide(bool inputs)
{
    ui->input_new_password_line_edit->setVisible(inputs);
    ui->input_new_password_line_edit_again->setVisible(inputs);
    ui->password_prompt_line_edit->setVisible(inputs);
    ui->lineEdit_warning->setVisible(!inputs);
    ui->progress_bar->setVisible(!inputs);
}

void setpassword::formating(bool busy)
{
    ui->input_new_password_line_edit->setEnabled(!busy);
    ui->input_new_password_line_edit_again->setEnabled(!busy);
    ui->password_prompt_line_edit->setEnabled(!busy);
    control_hide(!busy);
}

bool setpassword::setup_running() const
{
    return format_thread->isRunning();
}

void setpassword::on_ok_push_button_clicked()
{
    control_push_button(false);
    const QString password = ui->input_new_password_line_edit->text();
    const QString again = ui->input_new_password_line_edit_again->text();
    const QString prompt = ui->password_prompt_line_edit->text();
    format_thread->set_param(FormatThreadParam{password, prompt});

    const QString title = tr("ZV Security");
    const QString ok = tr("ok");
    if (!IsMatchRegX(password)) {
        qDebug("match reg password: the password does not follow the rule.");
        messagebox_warning(this, title,
                           tr("Invalid password. Passwords must contain  letters and numbers, and must be between 8 "
                              "and 16 bits."),
                           ok, QString());
    } else if (!ZVSecurityDisk::password_fits(password)) {
        /* The disk keeps the password's bytes: no shorter password may be
         * stored in its place. */
        const int field = ZVSecurityDisk::password_field_length();
        qDebug("password refused: %d bytes do not fit the disk's %d.", int(password.toUtf8().size()), field);
        messagebox_warning(this, title,
                           tr("The password is too long for the disk: it keeps at most %1 bytes, and a "
                              "character outside A-Z, a-z and 0-9 takes two to four of them. Please choose a "
                              "shorter password.")
                               .arg(field),
                           ok, QString());
    } else if (again != password) {
        qDebug("not match: the confirmation differs from the password.");
        messagebox_warning(this, title, tr("The password is not the same twice."), ok, QString());
    } else if (prompt.contains(password, Qt::CaseSensitive)) {
        messagebox_warning(this, title, tr("The password prompt contains the password."), ok, QString());
    } else {
        formating(true);
        show_progress(tr("The USB driver is in the process of resetting"));
        ZVSecurityDisk::GetInstance()->set_watchdog(false);
        format_thread->start();
        return;
    }
    formating(false);
    ui->input_new_password_line_edit_again->clear();
    ui->input_new_password_line_edit->clear();
    ui->password_prompt_line_edit->clear();
    control_push_button(true);
    ui->input_new_password_line_edit->setFocus();
}

void setpassword::format_slot(int exit_code)
{
    control_hide(true);
    const QString title = tr("ZV Security");
    const QString ok = tr("ok");
    if (exit_code == ZV_APP_SERVICE_UNREACHABLE) {
        messagebox_critical(this, title,
                            tr("The disk service is not reachable: zvsecurity-dbus is not running or does not "
                               "let you use it. Please start it, or ask your administrator to allow you to use it, "
                               "and re-open the program."),
                            ok, QString());
        qInfo("format partition failed. application exit.");
    } else if (exit_code != 0) {
        const QString text = exit_code == ZV_DISK_ERR_SET_PASSWORD
                                 ? tr("set password failed, Please unplug the USB and reset the password.")
                                 : tr("format partition failed, Please unplug the USB and reset the password.");
        messagebox_critical(this, title, text, ok, QString());
        qInfo("format partition failed. application exit.");
    } else {
        messagebox_warning(this, title, tr("program is ready, welcome to use."), ok, QString());
        qInfo("program is ready, welcome to use.");
    }
    QCoreApplication::exit(0);
}

void setpassword::on_cancel_push_button_clicked()
{
    if (cancel_allowed) {
        emit change_mainwindows_signal(PAGE_INPUT_PASSWORD);
        return;
    }
    qInfo("widget cancel. application exit.");
    ZVSecurityDisk::GetInstance()->exit();
}
