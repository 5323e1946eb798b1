/*
 * The main window: layout for the screen, the pages, the start-up check
 * and what each of its verdicts shows.
 */
#include "mainwindow.h"

#include <QCloseEvent>

#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QScreen>

#include "app_codes.h"
#include "disclaimer.h"
#include "inputpassword.h"
#include "messagedialog.h"
#include "passwordstatusthread.h"
#include "screen_size.h"
#include "setpassword.h"
#include "zvsecurity_disk.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), setpassword_page(nullptr), inputpassword_page(nullptr),
      disclaimer_page(nullptr), status_thread(nullptr)
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowIcon(QIcon(QStringLiteral(":/image/bin/ZVSecurity.ico")));

    resize(setApp());
    if (!window_system_places_windows()) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        move(screen.center() - rect().center());
    }

    /* Children follow the window's size, each coordinate truncated. */
    const int w = width();
    const int h = height();
    ui->contentWidget->setGeometry(int(0.51 * w), int(0.11 * h), int(0.36 * w), int(0.75 * h));
    ui->loginWidget->setGeometry(int(0.525 * w), int(0.28 * h), int(0.33 * w), int(0.57 * h));
    ui->ZvicoWidget->setGeometry(int(0.66 * w), int(0.15 * h), int(0.1 * h), int(0.1 * h));
    ui->min->setGeometry(int(0.94 * w), 5, 20, 20);
    ui->close->setGeometry(int(0.97 * w), 5, 20, 20);

    status_thread = new PasswordStatusThread();

    setpassword_page = setpassword::GetInstance(ui->loginWidget);
    inputpassword_page = inputpassword::GetInstance(ui->loginWidget);
    disclaimer_page = disclaimer::GetInstance(ui->loginWidget);
    disclaimer_page->hide();
    setpassword_page->hide();

    connect(ui->close, SIGNAL(clicked()), this, SLOT(close()));
    connect(ui->min, SIGNAL(clicked()), this, SLOT(showMinimized()));
    connect(status_thread, SIGNAL(resultReady(int, int)), this, SLOT(password_status_slots(int, int)));
    connect(inputpassword_page, SIGNAL(change_mainwindows_signal(int)), this, SLOT(change_show_widget(int)));
    connect(setpassword_page, SIGNAL(change_mainwindows_signal(int)), this, SLOT(change_show_widget(int)));
    connect(disclaimer_page, SIGNAL(change_mainwindows_signal(int)), this, SLOT(change_show_widget(int)));

    status_thread->start();
    ZVSecurityDisk::GetInstance()->start();
}

MainWindow::~MainWindow()
{
    /* A window closed during the start-up check waits for its one call. */
    status_thread->wait();
    delete status_thread;
    delete ui;
}

void MainWindow::change_show_widget(int index)
{
    qDebug("show page %d", index);
    inputpassword_page->hide();
    setpassword_page->hide();
    disclaimer_page->hide();
    switch (index) {
    case PAGE_DISCLAIMER:
        disclaimer_page->display();
        break;
    case PAGE_INPUT_PASSWORD:
        inputpassword_page->display();
        break;
    case PAGE_SET_PASSWORD:
        setpassword_page->display();
        break;
    default:
        break;
    }
}

void MainWindow::password_status_slots(int status, int value)
{
    ZVSecurityDisk *disk = ZVSecurityDisk::GetInstance();
    const QString title = tr("ZV Security");
    const QString ok = tr("Ok");
    /* The watchdog never ends the program while a start-up message waits
     * for the user; it watches the chosen disk once a page is shown. */
    disk->set_watchdog(false);
    switch (status) {
    case ZV_DISK_ERR_IDENTIFY:
        messagebox_critical(ui->loginWidget, title,
                            tr("Failed to get the U disk password information, please unplug the disk and "
                               "re-open the program."),
                            ok, QString());
        qCritical("get disk password status failed. application exit.");
        disk->exit();
        break;
    case ZV_DISK_NO_PASSWORD:
        disk->set_watchdog(true);
        change_show_widget(PAGE_DISCLAIMER);
        break;
    case ZV_DISK_PASSWORD_SET:
        if (value != 0) {
            disk->set_watchdog(true);
            change_show_widget(PAGE_INPUT_PASSWORD);
            break;
        }
        messagebox_warning(ui->loginWidget, title,
                           tr("The maximum number of password retries has been reached and the data has been "
                              "cleared.Please reconfigure the password and use it."),
                           ok, QString());
        disk->set_watchdog(true);
        setpassword_page->active_cancel(false);
        change_show_widget(PAGE_SET_PASSWORD);
        break;
    case ZV_DISK_ERR_NOT_SECURITY_DISK:
        messagebox_critical(ui->loginWidget, title,
                            tr("The program is not on the secure disk and cannot run. Please use the correct way "
                               "to run."),
                            ok, QString());
        disk->exit();
        break;
    case ZV_DISK_ERR_NO_DISK:
        messagebox_critical(ui->loginWidget, title,
                            tr("The program has not found R27D_Q disk with public status, it will exit."), ok,
                            QString());
        disk->exit();
        break;
    case ZV_DISK_ERR_GET_SN:
        messagebox_critical(ui->loginWidget, title,
                            tr("Failed to get the U disk information, please unplug the disk and re-open the "
                               "program."),
                            ok, QString());
        qCritical("get disk information failed. application exit.");
        disk->exit();
        break;
    case ZV_APP_SERVICE_UNREACHABLE:
        messagebox_critical(ui->loginWidget, title,
                            tr("The disk service is not reachable: zvsecurity-dbus is not running or does not "
                               "let you use it. Please start it, or ask your administrator to allow you to use it, "
                               "and re-open the program."),
                            ok, QString());
        qCritical("disk service unreachable. application exit.");
        disk->exit();
        break;
    default:
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    /* Ending the program in the middle of the set-up would leave the disk
     * with a password and no file system: the window stays, with its
     * progress, until the set-up has ended. */
    if (setpassword_page->setup_running()) {
        qInfo("close refused: the disk's set-up is running.");
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    drag.press(this, event);
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    move(pos() + drag.step(event));
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    move(pos() + drag.release(event));
}
