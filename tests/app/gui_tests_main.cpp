// The in-process GUI tests on the offscreen platform: the window, pages and
// dialogs of the program against the scripted model. Each test class runs
// in turn on the one main window.
#include <QApplication>
#include <QTest>

#include "formatthread.h"
#include "gui_tests.h"
#include "mainwindow.h"

QObject *make_message_dialog_test();
QObject *make_password_rule_test();
QObject *make_disclaimer_test();
QObject *make_set_password_test();
QObject *make_input_password_test();
QObject *make_main_window_test();
QObject *make_startup_test();
QObject *make_catalogue_test();
QObject *make_font_test();
QObject *make_keyboard_test();

namespace apptest {

static QMainWindow *the_window = nullptr;

QMainWindow *window()
{
    return the_window;
}

} // namespace apptest

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    /* Closing a window must not end the application under test. */
    app.setQuitOnLastWindowClosed(false);
    apptest::capture_messages();
    /* The disk comes back at once here; nothing to wait for. */
    FormatThread::set_scan_wait_ms(0);

    /* A disk with a password and five tries: the window opens on the
     * login page. */
    fakedisk::reset();
    MainWindow *window = new MainWindow();
    apptest::the_window = window;
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        qFatal("the main window was not shown");
    if (!apptest::wait_until([] { return fakedisk::count("status") == 1; }))
        qFatal("the start-up check did not run");

    int failed = 0;
    QObject *(*makers[])() = {make_message_dialog_test, make_password_rule_test, make_disclaimer_test,
                              make_set_password_test,   make_input_password_test, make_main_window_test,
                              make_startup_test,        make_catalogue_test,      make_font_test,
                              make_keyboard_test};
    for (auto make : makers) {
        QObject *test = make();
        failed += QTest::qExec(test, argc, argv);
        delete test;
    }
    delete window;
    return failed == 0 ? 0 : 1;
}
