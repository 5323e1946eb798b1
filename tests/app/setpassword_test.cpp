// The set-password page: the checks of what the user entered, the set-up
// run's steps and its outcome as the user reads it, and the back button.
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app_codes.h"
#include "gui_tests.h"
#include "inputpassword.h"
#include "setpassword.h"

using apptest::child;

namespace {

const char kEnglishRule[] =
    "Invalid password. Passwords must contain  letters and numbers, and must be between 8 and 16 bits.";

const char kTooLong[] = "The password is too long for the disk: it keeps at most 32 bytes, and a character outside "
                        "A-Z, a-z and 0-9 takes two to four of them. Please choose a shorter password.";

} // namespace

class SetPasswordTest : public QObject {
    Q_OBJECT

    setpassword *page() { return setpassword::GetInstance(nullptr); }
    QLineEdit *password() { return child<QLineEdit>(page(), "input_new_password_line_edit"); }
    QLineEdit *again() { return child<QLineEdit>(page(), "input_new_password_line_edit_again"); }
    QLineEdit *prompt() { return child<QLineEdit>(page(), "password_prompt_line_edit"); }
    QPushButton *ok() { return child<QPushButton>(page(), "ok_push_button"); }
    QPushButton *back() { return child<QPushButton>(page(), "cancel_push_button"); }

    void fill(const QString &p, const QString &a, const QString &hint)
    {
        password()->setText(p);
        again()->setText(a);
        prompt()->setText(hint);
    }

    // Enters the three texts and presses OK; the set-up, if it starts, must
    // end the program. Returns the dialogs' texts.
    QStringList submit_and_finish(const QString &p, const QString &a, const QString &hint, int *code)
    {
        fill(p, a, hint);
        apptest::DialogAnswerer answerer;
        *code = apptest::run_until_exit([this] { QTest::mouseClick(ok(), Qt::LeftButton); });
        return answerer.texts();
    }

private slots:
    void init()
    {
        fakedisk::reset();
        apptest::clear_messages();
        apptest::use_chinese(false);
        // A set-up run leaves the page as the program ends with it.
        page()->active_cancel(false);
        page()->formating(false);
        page()->control_push_button(true);
        apptest::show_page(2);
        prompt()->clear();
    }

    void cleanup()
    {
        apptest::use_chinese(false);
    }

    void a_refused_entry_warns_and_clears_every_field_data()
    {
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("warning");
        QTest::newRow("rule") << "abcdefgh" << "abcdefgh" << "my hint" << kEnglishRule;
        QTest::newRow("empty") << "" << "" << "" << kEnglishRule;
        QTest::newRow("confirmation one character off")
            << "abcd1234" << "abcd1235" << "my hint" << "The password is not the same twice.";
        QTest::newRow("prompt holds the password")
            << "abcd1234" << "abcd1234" << "it is abcd12345!" << "The password prompt contains the password.";
        QTest::newRow("prompt is the password")
            << "abcd1234" << "abcd1234" << "abcd1234" << "The password prompt contains the password.";
        // Keeps the rule (14 characters) but not the disk's 32-byte field (38 bytes).
        QTest::newRow("beyond the disk's password field")
            << QString::fromUtf8("我的密码是安全的密码啊啊a1") << QString::fromUtf8("我的密码是安全的密码啊啊a1")
            << "my hint" << kTooLong;
    }

    void a_too_long_password_is_refused_in_chinese_too()
    {
        apptest::use_chinese(true);
        const QString chinese = QString::fromUtf8("我的密码是安全的密码啊啊a1");
        fill(chinese, chinese, "");
        apptest::DialogAnswerer answerer;
        QTest::mouseClick(ok(), Qt::LeftButton);
        QCOMPARE(answerer.texts(),
                 QStringList({QString::fromUtf8("密码对U盘来说太长：U盘最多保存32个字节，字母A-Z、a-z和数字0-9以外的字符每个占"
                                                "两到四个字节。请选择较短的密码。")}));
        QCOMPARE(fakedisk::count("set_"), 0);
    }

    void a_refused_entry_warns_and_clears_every_field()
    {
        QFETCH(QString, pass);
        QFETCH(QString, confirmation);
        QFETCH(QString, hint);
        QFETCH(QString, warning);
        fill(pass, confirmation, hint);
        apptest::DialogAnswerer answerer;
        QTest::mouseClick(ok(), Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList({warning}));
        QCOMPARE(answerer.seen().at(0).button0, QString("ok"));
        QVERIFY(!answerer.seen().at(0).button1_visible);
        QVERIFY(password()->text().isEmpty());
        QVERIFY(again()->text().isEmpty());
        QVERIFY(prompt()->text().isEmpty());
        QVERIFY(password()->isVisible());
        QVERIFY(password()->isEnabled());
        QVERIFY(ok()->isEnabled());
        QCOMPARE(fakedisk::count("set_"), 0);
        QVERIFY(fakedisk::watchdog_on());
    }

    void no_secret_reaches_the_log()
    {
        const QString secret = "Secret99";
        fill(secret, secret + "x", "");
        apptest::clear_messages(); // from here on, the two checks only
        apptest::DialogAnswerer answerer;
        QTest::mouseClick(ok(), Qt::LeftButton);
        fill("secretive", "secretive", "");
        QTest::mouseClick(ok(), Qt::LeftButton);
        QCOMPARE(answerer.seen().size(), size_t(2));
        QCOMPARE(apptest::messages(QtDebugMsg).size(), 2);
        for (const QString &line : apptest::all_messages()) {
            QVERIFY2(!line.contains(secret), qPrintable(line));
            QVERIFY2(!line.contains("secretive"), qPrintable(line));
        }
    }

    void the_chinese_warnings()
    {
        apptest::use_chinese(true);
        apptest::DialogAnswerer answerer;
        fill("abc", "abc", "");
        QTest::mouseClick(ok(), Qt::LeftButton);
        fill("abcd1234", "abcd4321", "");
        QTest::mouseClick(ok(), Qt::LeftButton);
        fill("abcd1234", "abcd1234", "xabcd1234");
        QTest::mouseClick(ok(), Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList({QString::fromUtf8("密码无效，密码必须由8-16位数字和字母组成。"),
                                                QString::fromUtf8("两次输入密码必须相同。"),
                                                QString::fromUtf8("密码提示信息不能包含密码。")}));
        QCOMPARE(answerer.seen().at(0).button0, QString::fromUtf8("确定"));
    }

    void the_set_up_runs_every_step_and_reports_ready()
    {
        int code = -1;
        // The prompt holds the password in another case only: accepted.
        const QStringList texts = submit_and_finish("abcd1234", "abcd1234", "ABCD1234 is my hint", &code);
        QCOMPARE(code, 0);
        QCOMPARE(texts, QStringList({"program is ready, welcome to use."}));
        std::vector<std::string> steps;
        for (const std::string &c : fakedisk::calls())
            if (c != "probe")
                steps.push_back(c);
        const std::vector<std::string> expected = {"watchdog:0",        "set_prompt:ABCD1234 is my hint",
                                                   "set_password:abcd1234", "verify:abcd1234",
                                                   "scan",              "format",
                                                   "scan",              "verify:abcd1234"};
        QCOMPARE(steps, expected);
        QCOMPARE(apptest::messages(QtInfoMsg), QStringList({"program is ready, welcome to use."}));
        QVERIFY(!fakedisk::watchdog_on());
    }

    void the_set_up_result_texts_data()
    {
        QTest::addColumn<int>("failing_step");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("disk_steps");
        const QString set_failed = "set password failed, Please unplug the USB and reset the password.";
        const QString format_failed = "format partition failed, Please unplug the USB and reset the password.";
        // failing_step: 0 set password, 1 prompt, 2 format
        QTest::newRow("set password, 3") << 0 << 3 << false << set_failed << 2;
        QTest::newRow("prompt, 5") << 1 << 5 << false << format_failed << 1;
        QTest::newRow("format, service status") << 2 << 260 << false << format_failed << 5;
        QTest::newRow("set password, 3, Chinese")
            << 0 << 3 << true << QString::fromUtf8("设置密码失败，请拔插U盘后重新运行程序。") << 2;
        QTest::newRow("prompt, 5, Chinese") << 1 << 5 << true << QString::fromUtf8("格式化失败，请拔插U盘后重新运行程序。")
                                             << 1;
    }

    void the_set_up_result_texts()
    {
        QFETCH(int, failing_step);
        QFETCH(int, code);
        QFETCH(bool, chinese);
        QFETCH(QString, text);
        QFETCH(int, disk_steps);
        fakedisk::Script script;
        if (failing_step == 0)
            script.set_password_result = code;
        else if (failing_step == 1)
            script.set_prompt_result = code;
        else
            script.format_result = code;
        fakedisk::reset(script);
        apptest::use_chinese(chinese);
        int exit_code = -1;
        const QStringList texts = submit_and_finish("abcd1234", "abcd1234", "", &exit_code);
        QCOMPARE(exit_code, 0);
        QCOMPARE(texts, QStringList({text}));
        QCOMPARE(fakedisk::count("set_") + fakedisk::count("verify") + fakedisk::count("scan") +
                     fakedisk::count("format"),
                 disk_steps);
        QCOMPARE(apptest::messages(QtInfoMsg), QStringList({"format partition failed. application exit."}));
    }

    void a_disk_that_never_comes_back_is_a_failure()
    {
        fakedisk::Script script;
        script.scan_results = {1, 1, 1, 1, 1, 1};
        fakedisk::reset(script);
        int code = -1;
        const QStringList texts = submit_and_finish("abcd1234", "abcd1234", "", &code);
        QCOMPARE(code, 0);
        QCOMPARE(texts, QStringList({"format partition failed, Please unplug the USB and reset the password."}));
        QCOMPARE(fakedisk::count("scan"), 6);
        QCOMPARE(fakedisk::count("format"), 0);
    }

    void closing_the_window_during_the_set_up_is_refused()
    {
        fakedisk::Script script;
        script.format_ms = 1500;
        fakedisk::reset(script);
        fill("abcd1234", "abcd1234", "");
        apptest::DialogAnswerer answerer;
        bool button_refused = false, close_refused = false, progress_shown = false, inputs_hidden = false;
        const int code = apptest::run_until_exit([&] {
            QTest::mouseClick(ok(), Qt::LeftButton);
            QTimer::singleShot(300, [&] {
                // The window's own close button, then a window-manager close (Alt+F4).
                QTest::mouseClick(child<QPushButton>(apptest::window(), "close"), Qt::LeftButton);
                button_refused = apptest::window()->isVisible();
                close_refused = !apptest::window()->close();
                progress_shown = child<QPlainTextEdit>(page(), "lineEdit_warning")->isVisible();
                inputs_hidden = !password()->isVisible();
            });
        });
        QCOMPARE(code, 0);
        QVERIFY(button_refused);
        QVERIFY(close_refused);
        QVERIFY(progress_shown);
        QVERIFY(inputs_hidden);
        QVERIFY(apptest::window()->isVisible());
        // The set-up went on to its end.
        QCOMPARE(answerer.texts(), QStringList({"program is ready, welcome to use."}));
        QCOMPARE(fakedisk::count("verify"), 2);
        QCOMPARE(apptest::messages(QtInfoMsg).count("close refused: the disk's set-up is running."), 2);
    }

    void a_disk_lost_after_formatting_is_not_verified()
    {
        // Found after the first reset, never again after the one inside format.
        fakedisk::Script script;
        script.scan_results = {0, 1, 1, 1, 1, 1, 1};
        fakedisk::reset(script);
        int code = -1;
        const QStringList texts = submit_and_finish("abcd1234", "abcd1234", "", &code);
        QCOMPARE(code, 0);
        QCOMPARE(texts, QStringList({"format partition failed, Please unplug the USB and reset the password."}));
        QCOMPARE(fakedisk::count("scan"), 7);
        QCOMPARE(fakedisk::count("format"), 1);
        QCOMPARE(fakedisk::count("verify"), 1); // only the verification before formatting
    }

    void a_lost_disk_service_is_named()
    {
        fakedisk::Script script;
        script.set_prompt_result = 5;
        script.service_reachable = false;
        fakedisk::reset(script);
        int code = -1;
        const QStringList texts = submit_and_finish("abcd1234", "abcd1234", "", &code);
        QCOMPARE(code, 0);
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.at(0).startsWith("The disk service is not reachable"), qPrintable(texts.at(0)));
    }

    void return_acts_as_ok()
    {
        fill("abcd1234", "abcd12", "");
        page()->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page()->window()));
        apptest::DialogAnswerer answerer;
        QTest::keyClick(again(), Qt::Key_Return);
        // A shortcut clicks its button the way a user sees it, pressed for a moment.
        QVERIFY(answerer.wait_for(1));
        QCOMPARE(answerer.texts(), QStringList({"The password is not the same twice."}));
    }

    void the_progress_panel_replaces_the_fields_while_setting_up()
    {
        fakedisk::Script script;
        script.format_result = 5;
        fakedisk::reset(script);
        fill("abcd1234", "abcd1234", "");
        bool panel_seen = false;
        bool fields_hidden = false;
        bool buttons_disabled = false;
        bool indicator_busy = false;
        apptest::DialogAnswerer answerer;
        const int code = apptest::run_until_exit([&] {
            QTest::mouseClick(ok(), Qt::LeftButton);
            QPlainTextEdit *panel = child<QPlainTextEdit>(page(), "lineEdit_warning");
            panel_seen = panel->isVisible() && panel->toPlainText().contains("Please do not pull out the USB driver");
            QProgressBar *bar = child<QProgressBar>(page(), "progress_bar");
            indicator_busy = bar->isVisible() && bar->minimum() == 0 && bar->maximum() == 0;
            fields_hidden = !password()->isVisible() && !again()->isVisible() && !prompt()->isVisible();
            buttons_disabled = !ok()->isEnabled() && !back()->isEnabled();
        });
        QCOMPARE(code, 0);
        QVERIFY(panel_seen);
        QVERIFY(fields_hidden);
        QVERIFY(buttons_disabled);
        QVERIFY2(indicator_busy, "a moving indicator while the set-up runs");
        QVERIFY(password()->isVisible());
        QVERIFY(!child<QPlainTextEdit>(page(), "lineEdit_warning")->isVisible());
        QVERIFY(!child<QProgressBar>(page(), "progress_bar")->isVisible());
    }

    void the_progress_panel_names_each_step_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<int>("missed_scans");
        QTest::addColumn<int>("set_password_result");
        QTest::addColumn<QStringList>("steps");
        const QStringList english = {"The USB driver is in the process of resetting",
                                     "Writing the prompt...",
                                     "Setting the password...",
                                     "Unlocking the disk...",
                                     "Waiting for the disk (1 of 6)...",
                                     "Formatting the disk...",
                                     "Waiting for the disk (1 of 6)...", // formatting resets it too
                                     "Unlocking once more..."};
        QTest::newRow("English") << false << 0 << 0 << english;
        QTest::newRow("Chinese") << true << 0 << 0
                                 << QStringList({QString::fromUtf8("正在配置新密码并格式化..."),
                                                 QString::fromUtf8("正在写入密码提示..."),
                                                 QString::fromUtf8("正在设置密码..."),
                                                 QString::fromUtf8("正在解锁U盘..."),
                                                 QString::fromUtf8("正在等待U盘（1/6）..."),
                                                 QString::fromUtf8("正在格式化U盘..."),
                                                 QString::fromUtf8("正在等待U盘（1/6）..."),
                                                 QString::fromUtf8("正在再次解锁U盘...")});
        QTest::newRow("the disk comes back at the third look")
            << false << 2 << 0
            << QStringList(english.mid(0, 5) + QStringList({"Waiting for the disk (2 of 6)...",
                                                             "Waiting for the disk (3 of 6)..."}) +
                           english.mid(5));
        QTest::newRow("setting the password fails") << false << 0 << 3 << QStringList(english.mid(0, 3));
    }

    // What the panel says while the set-up runs: its warning, then the
    // step under way, one after the other.
    void the_progress_panel_names_each_step()
    {
        QFETCH(bool, chinese);
        QFETCH(int, missed_scans);
        QFETCH(int, set_password_result);
        QFETCH(QStringList, steps);
        fakedisk::Script script;
        script.scan_results = std::deque<int>(missed_scans, 1);
        script.set_password_result = set_password_result;
        fakedisk::reset(script);
        apptest::use_chinese(chinese);
        const QString warning = chinese ? QString::fromUtf8("请勿拔出U盘。") : QString("Please do not pull out the USB driver");
        QPlainTextEdit *panel = child<QPlainTextEdit>(page(), "lineEdit_warning");
        const QString shots = QString(ZV_SCREENSHOT_DIR) + "/set-up-steps";
        QStringList seen;
        bool warned = true;
        QMetaObject::Connection watch = connect(panel, &QPlainTextEdit::textChanged, [&] {
            QStringList lines;
            for (const QString &line : panel->toPlainText().split('\n'))
                if (!line.trimmed().isEmpty())
                    lines << line.trimmed();
            if (lines.size() != 2)
                return; // the panel is being filled
            warned = warned && lines.at(0) == warning;
            if (seen.isEmpty() || seen.last() != lines.at(1)) {
                seen << lines.at(1);
                // The window as it shows the step, kept for people to look at.
                QDir().mkpath(shots);
                apptest::window()->grab().save(
                    QString("%1/%2-%3.png").arg(shots, QString(QTest::currentDataTag()).replace(QChar(0x20), QChar(0x2d))).arg(seen.size(), 2, 10, QChar('0')));
            }
        });
        fill("abcd1234", "abcd1234", "");
        apptest::DialogAnswerer answerer;
        const int code = apptest::run_until_exit([this] { QTest::mouseClick(ok(), Qt::LeftButton); });
        disconnect(watch);
        QCOMPARE(code, 0);
        QCOMPARE(seen, steps);
        QVERIFY2(warned, "the warning stays above the step");
    }

    void back_returns_to_login_when_cancel_is_allowed()
    {
        page()->active_cancel(true);
        QVERIFY(back()->isEnabled());
        QSignalSpy spy(page(), SIGNAL(change_mainwindows_signal(int)));
        QTest::mouseClick(back(), Qt::LeftButton);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 1);
        QVERIFY(inputpassword::GetInstance(nullptr)->isVisible());
        QVERIFY(!page()->isVisible());
    }

    void back_stays_disabled_without_cancel()
    {
        page()->active_cancel(false);
        QVERIFY(!back()->isEnabled());
        page()->control_push_button(true);
        QVERIFY(!back()->isEnabled());
        QVERIFY(ok()->isEnabled());
    }

    void re_entering_keeps_the_prompt_and_clears_the_passwords()
    {
        fill("abcd1234", "abcd1234", "kept hint");
        apptest::show_page(1);
        apptest::show_page(2);
        QVERIFY(password()->text().isEmpty());
        QVERIFY(again()->text().isEmpty());
        QCOMPARE(prompt()->text(), QString("kept hint"));
        QCOMPARE(password()->echoMode(), QLineEdit::Password);
        QCOMPARE(again()->echoMode(), QLineEdit::Password);
    }
};

QObject *make_set_password_test()
{
    return new SetPasswordTest();
}

#include "setpassword_test.moc"
