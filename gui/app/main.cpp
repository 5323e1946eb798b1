/*
 * zvsecurity: the desktop program of the ZV secure disk. Start-up in order:
 * one copy per machine, the splash, the style sheet, the Chinese
 * translation, the log file, the drive letter, then the main window until
 * the disk is unlocked, set up, or the user leaves.
 */
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QSplashScreen>
#include <QThread>
#include <QTranslator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "instance_lock.h"
#include "log_handler.h"
#include "mainwindow.h"
#include "messagedialog.h"
#include "startup.h"
#include "zvsecurity_disk.h"

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);

    int lock_fd = -1;
    const INSTANCE_LOCK_E lock = acquire_instance_lock(ZV_LOCK_FILE, &lock_fd);
    if (lock == INSTANCE_LOCK_BUSY) {
        perror("lock file error");
        messagebox_warning(nullptr, QStringLiteral("瓦罗安全工具"), QStringLiteral("程序已运行，同时只能运行一个。"),
                           QStringLiteral("确定"), QString());
        return 0;
    }
    if (lock != INSTANCE_LOCK_HELD) {
        /* Not another copy: the file itself is in the way. Said in the
         * user's language, so the catalogue is needed this early. */
        const int error = errno;
        perror(lock == INSTANCE_LOCK_OPEN_FAILED ? "open lockfile" : "lock file error");
        const QString reason = QString::fromLocal8Bit(strerror(error));
        QTranslator early;
        early.load(QStringLiteral(":/ts/bin/zvsecurity_zh.qm"));
        app.installTranslator(&early);
        messagebox_critical(nullptr, QStringLiteral("瓦罗安全工具"), lock_file_message(ZV_LOCK_FILE, reason),
                            QCoreApplication::translate("main", "Ok"), QString());
        return 0;
    }

    QSplashScreen *splash = new QSplashScreen();
    const QPixmap welcome(QStringLiteral(":/image/image/welcome.png"));
    splash->setPixmap(splash_picture(welcome, QGuiApplication::primaryScreen()->geometry().size()));
    splash->setEnabled(false);
    splash->show();
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < ZV_SPLASH_MS) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    splash->finish(nullptr);

    QDir::setCurrent(QCoreApplication::applicationDirPath());

    QFile *style = new QFile(QStringLiteral(":/qss/bin/style.qss"));
    if (style->open(QIODevice::ReadOnly)) {
        app.setStyleSheet(QString::fromUtf8(style->readAll()));
        style->close();
    }

    QTranslator *translator = new QTranslator();
    translator->load(QStringLiteral(":/ts/bin/zvsecurity_zh.qm"));
    app.installTranslator(translator);

    logfile = new QFile(log_file_path());
    QString log_error;
    if (!open_log_file(logfile, &log_error))
        fprintf(stderr, "log file %s: %s\n", qUtf8Printable(logfile->fileName()), qUtf8Printable(log_error));
    qInstallMessageHandler(outputMessage);

    char drive = 0;
    if (drive_argument(argc, argv, &drive))
        ZVSecurityDisk::GetInstance()->set_drive(drive);

    MainWindow *window = new MainWindow();
    window->show();
    const int result = app.exec();

    delete window;
    delete translator;
    delete style;
    delete splash;
    return result;
}
