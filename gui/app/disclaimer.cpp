/*
 * The licence-agreement page.
 */
#include "disclaimer.h"

#include "app_font.h"
#include "messagedialog.h"
#include "page_index.h"
#include "screen_size.h"
#include "setpassword.h"
#include "zvsecurity_disk.h"

disclaimer *disclaimer::GetInstance(QWidget *parent)
{
    static disclaimer *handle = new disclaimer(parent);
    return handle;
}

disclaimer::disclaimer(QWidget *parent) : QWidget(parent), ui(new Ui_disclaimer)
{
    setAttribute(Qt::WA_StyledBackground);
    ui->setupUi(this);
    resize(page_width(), ZV_PAGE_HEIGHT);
    const QFont font = page_font();
    ui->next_push_button->setFont(font);
    ui->cancel_push_button->setFont(font);
    ui->textBrowser->setAccessibleName(tr("Licence agreement"));
}

disclaimer::~disclaimer()
{
    delete ui;
}

void disclaimer::display()
{
    on_accept_check_box_stateChanged(ui->accept_check_box->checkState());
    show();
}

void disclaimer::on_accept_check_box_stateChanged(int state)
{
    ui->next_push_button->setEnabled(state == Qt::Checked);
}

void disclaimer::on_next_push_button_clicked()
{
    if (ui->accept_check_box->isChecked()) {
        setpassword::GetInstance(nullptr)->active_cancel(false);
        emit change_mainwindows_signal(PAGE_SET_PASSWORD);
        return;
    }
    messagebox_information(this, tr("ZV Security"), tr("Please read the disclaimer and agree to change the agreement."),
                           tr("ok"), QString());
}

void disclaimer::on_cancel_push_button_clicked()
{
    ZVSecurityDisk::GetInstance()->exit();
}
