// The main window: the page or message for each verdict of the start-up
// check, the window size for the screen, dragging, and the page switch.
#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app_codes.h"
#include "disclaimer.h"
#include "gui_tests.h"
#include "inputpassword.h"
#include "passwordstatusthread.h"
#include "screen_size.h"
#include "setpassword.h"

using apptest::child;

namespace {

void dispatch(int status, int value)
{
    QMetaObject::invokeMethod(apptest::window(), "password_status_slots", Qt::DirectConnection, Q_ARG(int, status),
                              Q_ARG(int, value));
}

// -1 when no page is visible.
int visible_page()
{
    const bool shown[] = {disclaimer::GetInstance(nullptr)->isVisible(), inputpassword::GetInstance(nullptr)->isVisible(),
                          setpassword::GetInstance(nullptr)->isVisible()};
    int page = -1;
    for (int i = 0; i < 3; i++) {
        if (shown[i]) {
            if (page >= 0)
                return -2; // more than one
            page = i;
        }
    }
    return page;
}

// A mouse event at a global position, as the window system delivers it.
void send_mouse(QWidget *target, QEvent::Type type, const QPoint &global)
{
    const QPointF local = target->mapFromGlobal(global);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, local, QPointF(global), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        fakedisk::reset();
        apptest::clear_messages();
        apptest::use_chinese(false);
        apptest::show_page(1);
    }

    void cleanup()
    {
        apptest::use_chinese(false);
    }

    void the_watchdog_waits_while_a_start_up_message_does_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("watching_after");
        QTest::newRow("10: no password, no message") << 10 << 0 << true;
        QTest::newRow("11 with 3 tries, no message") << 11 << 3 << true;
        QTest::newRow("11 with no try left: message, then the set-up page") << 11 << 0 << true;
    }

    void the_watchdog_waits_while_a_start_up_message_does()
    {
        QFETCH(int, status);
        QFETCH(int, value);
        QFETCH(bool, watching_after);
        bool watching_while_shown = true;
        apptest::DialogAnswerer answerer;
        QTimer peek;
        QObject::connect(&peek, &QTimer::timeout, [&] {
            if (!answerer.seen().empty() || QApplication::activeModalWidget() != nullptr)
                watching_while_shown = watching_while_shown && fakedisk::watchdog_on();
        });
        peek.start(1);
        dispatch(status, value);
        peek.stop();
        if (value == 0 && status == 11) {
            QCOMPARE(answerer.seen().size(), size_t(1));
            QVERIFY(!watching_while_shown);
        }
        QCOMPARE(fakedisk::watchdog_on(), watching_after);
        const std::vector<std::string> calls = fakedisk::calls();
        QVERIFY(!calls.empty());
        QCOMPARE(calls.front(), std::string("watchdog:0"));
    }

    void verdicts_that_show_a_page_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("value");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("page");
        QTest::newRow("10: no password") << 10 << 0 << QStringList() << 0;
        QTest::newRow("11 with 3 tries") << 11 << 3 << QStringList() << 1;
        QTest::newRow("11 with 0 tries")
            << 11 << 0
            << QStringList({"The maximum number of password retries has been reached and the data has been "
                            "cleared.Please reconfigure the password and use it."})
            << 2;
        QTest::newRow("an unknown status changes nothing") << 3 << 0 << QStringList() << 1;
    }

    void verdicts_that_show_a_page()
    {
        QFETCH(int, status);
        QFETCH(int, value);
        QFETCH(QStringList, texts);
        QFETCH(int, page);
        setpassword::GetInstance(nullptr)->active_cancel(true);
        apptest::DialogAnswerer answerer;
        dispatch(status, value);
        QCOMPARE(answerer.texts(), texts);
        QCOMPARE(visible_page(), page);
        if (page == 2)
            QVERIFY2(!child<QPushButton>(setpassword::GetInstance(nullptr), "cancel_push_button")->isEnabled(),
                     "no way back");
        QCOMPARE(fakedisk::count("exit"), 0);
    }

    void verdicts_that_end_the_program_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("log");
        QTest::newRow("9") << 9 << false
                           << "Failed to get the U disk password information, please unplug the disk and re-open "
                              "the program."
                           << "get disk password status failed. application exit.";
        QTest::newRow("12") << 12 << false
                            << "The program is not on the secure disk and cannot run. Please use the correct way to "
                               "run."
                            << QString();
        QTest::newRow("15") << 15 << false
                            << "The program has not found R27D_Q disk with public status, it will exit." << QString();
        QTest::newRow("2: the serial number") << 2 << false
                                              << "Failed to get the U disk information, please unplug the disk and "
                                                 "re-open the program."
                                              << "get disk information failed. application exit.";
        QTest::newRow("no disk service")
            << int(ZV_APP_SERVICE_UNREACHABLE) << false
            << "The disk service is not reachable: zvsecurity-dbus is not running or does not let you use it. Please "
               "start it, or ask your administrator to allow you to use it, and re-open the program."
            << "disk service unreachable. application exit.";
        QTest::newRow("9, Chinese") << 9 << true << QString::fromUtf8("获取U盘密码状态失败，请拔插U盘后重新运行程序。")
                                    << "get disk password status failed. application exit.";
        QTest::newRow("12, Chinese") << 12 << true
                                     << QString::fromUtf8("程序无法在非瓦罗安全盘上运行。请使用正确的方式运行程序。")
                                     << QString();
        QTest::newRow("15, Chinese") << 15 << true
                                     << QString::fromUtf8("当前计算机未发现青岚加密U盘处于公共区，程序即将退出。")
                                     << QString();
        QTest::newRow("2, Chinese") << 2 << true << QString::fromUtf8("获取U盘信息失败，请拔插U盘后重新运行程序。")
                                    << "get disk information failed. application exit.";
        QTest::newRow("no disk service, Chinese")
            << int(ZV_APP_SERVICE_UNREACHABLE) << true
            << QString::fromUtf8("无法连接磁盘服务：zvsecurity-dbus 未运行或不允许您使用。请启动该服务，或请管理员允许您使用，"
                                 "然后重新运行程序。")
            << "disk service unreachable. application exit.";
    }

    void verdicts_that_end_the_program()
    {
        QFETCH(int, status);
        QFETCH(bool, chinese);
        QFETCH(QString, text);
        QFETCH(QString, log);
        apptest::use_chinese(chinese);
        apptest::DialogAnswerer answerer;
        const int code = apptest::run_until_exit([status] { dispatch(status, 0); });
        QCOMPARE(code, 0);
        QCOMPARE(answerer.texts(), QStringList({text}));
        QCOMPARE(answerer.seen().at(0).button0, chinese ? QString::fromUtf8("确定") : QString("Ok"));
        QVERIFY(!answerer.seen().at(0).button1_visible);
        const QWidget *host = child<QWidget>(apptest::window(), "loginWidget");
        QCOMPARE(answerer.seen().at(0).position, host->mapToGlobal(QPoint(0, 0)));
        QCOMPARE(fakedisk::count("exit"), 1);
        QVERIFY(!fakedisk::watchdog_on()); // off while the message waited, and the program ends
        QCOMPARE(fakedisk::count("watchdog:1"), 0);
        QCOMPARE(apptest::messages(QtCriticalMsg), log.isEmpty() ? QStringList() : QStringList({log}));
    }

    void the_start_up_check_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<int>("init_result");
        QTest::addColumn<int>("status_result");
        QTest::addColumn<int>("password_set");
        QTest::addColumn<int>("tries");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("value");
        QTest::newRow("no password") << true << 0 << 0 << 0 << 5 << 10 << 0;
        QTest::newRow("password, 3 tries") << true << 0 << 0 << 1 << 3 << 11 << 3;
        QTest::newRow("password, no tries") << true << 0 << 0 << 1 << 0 << 11 << 0;
        QTest::newRow("no disk") << true << 15 << 0 << 0 << 0 << 15 << 0;
        QTest::newRow("serial number") << true << 2 << 0 << 0 << 0 << 2 << 0;
        QTest::newRow("identify failed") << true << 0 << 9 << 1 << 3 << 9 << 0;
        QTest::newRow("not a secure disk") << true << 0 << 12 << 1 << 3 << 12 << 0;
        QTest::newRow("no disk service") << false << 0 << 0 << 1 << 3 << int(ZV_APP_SERVICE_UNREACHABLE) << 0;
    }

    void the_start_up_check()
    {
        QFETCH(bool, service);
        QFETCH(int, init_result);
        QFETCH(int, status_result);
        QFETCH(int, password_set);
        QFETCH(int, tries);
        QFETCH(int, status);
        QFETCH(int, value);
        fakedisk::Script script;
        script.service_reachable = service;
        script.init_result = init_result;
        script.status_result = status_result;
        script.status = {password_set, tries};
        fakedisk::reset(script);
        PasswordStatusThread worker;
        QSignalSpy spy(&worker, SIGNAL(resultReady(int, int)));
        worker.start();
        QVERIFY(worker.wait());
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), status);
        QCOMPARE(spy.at(0).at(1).toInt(), value);
        // Without the service the disks are not even looked for.
        QCOMPARE(fakedisk::count("init"), service ? 1 : 0);
    }

    void the_window_size_for_the_screen_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<int>("page_width");
        QTest::newRow("1920 x 1080") << QSize(1920, 1080) << QSize(951, 535) << 313;
        QTest::newRow("1024 x 768") << QSize(1024, 768) << QSize(713, 535) << 235;
        QTest::newRow("1366 x 768") << QSize(1366, 768) << QSize(951, 535) << 314;
        QTest::newRow("2560 x 1080") << QSize(2560, 1080) << QSize(1268, 535) << 418;
    }

    void the_window_size_for_the_screen()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, window);
        QFETCH(int, page_width);
        QCOMPARE(window_size_for(screen), window);
        QCOMPARE(page_width_for(screen), page_width);
    }

    void the_window_fits_and_centres_on_the_screen()
    {
        // 800 x 600: 713 x 535, centred by integer halving of both centres.
        QMainWindow *w = apptest::window();
        QCOMPARE(w->size(), QSize(713, 535));
        QCOMPARE(w->pos(), QPoint(399 - 356, 299 - 267));
        QCOMPARE(child<QWidget>(w, "loginWidget")->geometry(), QRect(374, 149, 235, 304));
        QCOMPARE(child<QWidget>(w, "contentWidget")->geometry(), QRect(363, 58, 256, 401));
        QCOMPARE(child<QWidget>(w, "ZvicoWidget")->geometry(), QRect(470, 80, 53, 53));
        QCOMPARE(child<QPushButton>(w, "close")->geometry(), QRect(691, 5, 20, 20));
        QCOMPARE(child<QPushButton>(w, "min")->geometry(), QRect(670, 5, 20, 20));
        QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(w->testAttribute(Qt::WA_TranslucentBackground));
        // The icon file holds renderings for each size the desktop asks for.
        const QIcon icon = w->windowIcon();
        QCOMPARE(icon.pixmap(QSize(256, 256)).size(), QSize(256, 256));
        QCOMPARE(icon.pixmap(QSize(16, 16)).size(), QSize(16, 16));
        QImageReader reader(QStringLiteral(":/image/bin/ZVSecurity.ico"));
        QCOMPARE(reader.imageCount(), 7);
    }

    void dragging_the_background_moves_the_window_by_the_pointer()
    {
        QMainWindow *w = apptest::window();
        const QPoint before = w->pos();
        QWidget *background = w->centralWidget();
        const QPoint press = w->mapToGlobal(QPoint(60, 300));
        send_mouse(background, QEvent::MouseButtonPress, press);
        send_mouse(background, QEvent::MouseMove, press + QPoint(10, -4));
        send_mouse(background, QEvent::MouseMove, press + QPoint(30, -10));
        send_mouse(background, QEvent::MouseButtonRelease, press + QPoint(30, -10));
        QCOMPARE(w->pos(), before + QPoint(30, -10));
        w->move(before);
    }

    void pressing_the_close_button_starts_no_drag()
    {
        QMainWindow *w = apptest::window();
        const QPoint before = w->pos();
        QPushButton *close = child<QPushButton>(w, "close");
        const QPoint press = close->mapToGlobal(QPoint(10, 10));
        send_mouse(close, QEvent::MouseButtonPress, press);
        send_mouse(close, QEvent::MouseMove, press + QPoint(30, -10));
        // Released away from the button: no click either.
        send_mouse(close, QEvent::MouseButtonRelease, press + QPoint(-300, 200));
        QCOMPARE(w->pos(), before);
        QVERIFY(w->isVisible());
    }

    void the_page_switch_shows_one_page_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("page");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("2") << 2 << 2;
        QTest::newRow("3 hides all") << 3 << -1;
        QTest::newRow("-1 hides all") << -1 << -1;
    }

    void the_page_switch_shows_one_page()
    {
        QFETCH(int, index);
        QFETCH(int, page);
        apptest::show_page(index);
        QCOMPARE(visible_page(), page);
    }
};

QObject *make_main_window_test()
{
    return new MainWindowTest();
}

#include "mainwindow_test.moc"
