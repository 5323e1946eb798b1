// The login page: what a login tells the user for each answer of the disk,
// in English and in Chinese, the empty password, Return, the reset and the
// password prompt.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app_codes.h"
#include "gui_tests.h"
#include "inputpassword.h"
#include "setpassword.h"

using apptest::child;

class InputPasswordTest : public QObject {
    Q_OBJECT

    inputpassword *page() { return inputpassword::GetInstance(nullptr); }
    QLineEdit *field() { return child<QLineEdit>(page(), "input_password_line_edit"); }
    QPushButton *login() { return child<QPushButton>(page(), "login_push_button"); }
    QPushButton *reset() { return child<QPushButton>(page(), "reset_password_push_button"); }
    QPushButton *prompt() { return child<QPushButton>(page(), "password_prompt_push_button"); }
    bool buttons_enabled() { return login()->isEnabled() && reset()->isEnabled() && prompt()->isEnabled(); }

    static void script_wrong_password(int tries_left, int status_result)
    {
        fakedisk::Script script;
        script.verify_results = {7};
        script.status = {1, tries_left};
        script.status_result = status_result;
        fakedisk::reset(script);
    }

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

    void a_wrong_password_tells_the_tries_left_data()
    {
        QTest::addColumn<int>("tries");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("to_set_password");
        QTest::newRow("2 tries") << 2 << false
                                 << QStringList({"The password is wrong, please reenter it.Retry the remaining2times."})
                                 << false;
        QTest::newRow("3 tries") << 3 << false
                                 << QStringList({"The password is wrong, please reenter it.Retry the remaining3times."})
                                 << false;
        QTest::newRow("4 tries") << 4 << false << QStringList({"The password is wrong, please reenter it."}) << false;
        QTest::newRow("5 tries") << 5 << false << QStringList({"The password is wrong, please reenter it."}) << false;
        QTest::newRow("0 tries")
            << 0 << false
            << QStringList({"The password is wrong, please reenter it.Retry the remaining0times.",
                            "The maximum number of password retries has been reached and the data has been "
                            "cleared.Please reconfigure the password and use it."})
            << true;
        QTest::newRow("2 tries, Chinese") << 2 << true
                                          << QStringList({QString::fromUtf8("密码错误，请重新输入密码。密码重试剩余2次。")})
                                          << false;
        QTest::newRow("5 tries, Chinese") << 5 << true << QStringList({QString::fromUtf8("密码错误，请重新输入密码。")})
                                          << false;
        QTest::newRow("0 tries, Chinese")
            << 0 << true
            << QStringList({QString::fromUtf8("密码错误，请重新输入密码。密码重试剩余0次。"),
                            QString::fromUtf8("密码重试次数已达上限。为了保护你的数据，将进行格式化，所有数据将被清除。"
                                              "请重新配置新密码并格式化后使用。")})
            << true;
    }

    void a_wrong_password_tells_the_tries_left()
    {
        QFETCH(int, tries);
        QFETCH(bool, chinese);
        QFETCH(QStringList, texts);
        QFETCH(bool, to_set_password);
        script_wrong_password(tries, 0);
        apptest::use_chinese(chinese);
        setpassword::GetInstance(nullptr)->active_cancel(true);
        apptest::DialogAnswerer answerer;
        field()->setText("wrong1234");
        QTest::mouseClick(login(), Qt::LeftButton);
        QVERIFY(answerer.wait_for(size_t(texts.size())));
        QTest::qWait(0);
        QCOMPARE(answerer.texts(), texts);
        QCOMPARE(answerer.seen().at(0).button0, chinese ? QString::fromUtf8("确定") : QString("Ok"));
        QVERIFY(!answerer.seen().at(0).button1_visible);
        QCOMPARE(fakedisk::count("verify:wrong1234"), 1);
        QVERIFY(buttons_enabled());
        QVERIFY(fakedisk::watchdog_on());
        setpassword *target = setpassword::GetInstance(nullptr);
        QCOMPARE(target->isVisible(), to_set_password);
        QCOMPARE(page()->isVisible(), !to_set_password);
        if (to_set_password)
            QVERIFY2(!child<QPushButton>(target, "cancel_push_button")->isEnabled(), "no way back");
    }

    void tries_that_cannot_be_read_end_the_program_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("text");
        QTest::newRow("English") << false
                                 << "Password verification cannot be completed, please unplug the U disk and operate again.";
        QTest::newRow("Chinese") << true << QString::fromUtf8("密码验证无法完成，请拔插U盘后重新运行程序。");
    }

    void tries_that_cannot_be_read_end_the_program()
    {
        QFETCH(bool, chinese);
        QFETCH(QString, text);
        script_wrong_password(3, 9);
        apptest::use_chinese(chinese);
        apptest::DialogAnswerer answerer;
        field()->setText("wrong1234");
        const int code = apptest::run_until_exit([this] { QTest::mouseClick(login(), Qt::LeftButton); });
        QCOMPARE(code, 0);
        QCOMPARE(answerer.texts(), QStringList({text}));
        QCOMPARE(fakedisk::count("exit"), 1);
        QVERIFY(apptest::messages(QtCriticalMsg)
                    .contains("Password verification cannot be completed. application exit."));
    }

    void a_lost_disk_service_is_named()
    {
        script_wrong_password(3, 9);
        fakedisk::update([](fakedisk::Script &s) { s.service_reachable = false; });
        apptest::DialogAnswerer answerer;
        field()->setText("abcd1234");
        const int code = apptest::run_until_exit([this] { QTest::mouseClick(login(), Qt::LeftButton); });
        QCOMPARE(code, 0);
        QCOMPARE(answerer.texts().size(), 1);
        QVERIFY2(answerer.texts().at(0).startsWith("The disk service is not reachable"),
                 qPrintable(answerer.texts().at(0)));
    }

    void the_right_password_ends_the_program_silently()
    {
        apptest::DialogAnswerer answerer;
        field()->setText("abcd1234");
        const int code = apptest::run_until_exit([this] { QTest::mouseClick(login(), Qt::LeftButton); });
        QCOMPARE(code, 0);
        QVERIFY(answerer.seen().empty());
        QCOMPARE(fakedisk::count("verify:abcd1234"), 1);
        QCOMPARE(fakedisk::count("status"), 0);
        QCOMPARE(apptest::messages(QtCriticalMsg), QStringList({"unlock disk  successful. application exit."}));
        const std::vector<std::string> calls = fakedisk::calls();
        QCOMPARE(calls.front(), std::string("watchdog:0"));
        QCOMPARE(calls.back(), std::string("watchdog:1"));
    }

    void return_in_the_field_logs_in()
    {
        apptest::DialogAnswerer answerer;
        field()->setText("abcd1234");
        page()->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page()->window()));
        const int code = apptest::run_until_exit([this] { QTest::keyClick(field(), Qt::Key_Return); });
        QCOMPARE(code, 0);
        QCOMPARE(fakedisk::count("verify:abcd1234"), 1);
    }

    void an_empty_password_is_not_sent()
    {
        apptest::DialogAnswerer answerer;
        field()->clear();
        QTest::mouseClick(login(), Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList({"input password is empty."}));
        QCOMPARE(answerer.seen().at(0).button0, QString("ok"));
        QTest::qWait(20);
        QCOMPARE(fakedisk::count("verify"), 0);
        QVERIFY(fakedisk::watchdog_on());
        QVERIFY(buttons_enabled());
    }

    void reset_confirmed_or_cancelled_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("to_set_password");
        QTest::newRow("first button") << int(apptest::ClickButton0) << true;
        QTest::newRow("second button") << int(apptest::ClickButton1) << false;
        // The question leads to wiping the disk: the keyboard answers with
        // cancel unless the user has moved the focus to ok.
        QTest::newRow("Return") << int(apptest::PressReturn) << false;
        QTest::newRow("Escape") << int(apptest::PressEscape) << false;
        QTest::newRow("keypad Enter") << int(apptest::PressKeypadEnter) << false;
        QTest::newRow("Tab to ok, then Return") << int(apptest::TabThenReturn) << true;
    }

    void reset_confirmed_or_cancelled()
    {
        QFETCH(int, answer);
        QFETCH(bool, to_set_password);
        setpassword::GetInstance(nullptr)->active_cancel(false);
        apptest::DialogAnswerer answerer({apptest::Answer(answer)});
        QTest::mouseClick(reset(), Qt::LeftButton);
        QCOMPARE(answerer.texts(),
                 QStringList({"User data will be formatted and all data will be erased and unrecoverable. Do you "
                              "want to enter a new password and format it?"}));
        QCOMPARE(answerer.seen().at(0).button0, QString("ok"));
        QCOMPARE(answerer.seen().at(0).button1, QString("cancel"));
        setpassword *target = setpassword::GetInstance(nullptr);
        QCOMPARE(target->isVisible(), to_set_password);
        QCOMPARE(page()->isVisible(), !to_set_password);
        if (to_set_password)
            QVERIFY2(child<QPushButton>(target, "cancel_push_button")->isEnabled(), "the way back is open");
        QCOMPARE(fakedisk::calls().size(), size_t(0));
        QVERIFY(buttons_enabled());
    }

    void the_prompt_is_shown_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("text");
        QTest::newRow("stored") << 0 << QString::fromUtf8("my cat's name 猫") << QString::fromUtf8("my cat's name 猫");
        QTest::newRow("empty") << 0 << QString() << QString();
        QTest::newRow("unreadable")
            << 6 << QString() << "Failed to get password prompt message, please check the disk connection status.";
    }

    void the_prompt_is_shown()
    {
        QFETCH(int, result);
        QFETCH(QString, prompt);
        QFETCH(QString, text);
        fakedisk::Script script;
        script.get_prompt_result = result;
        script.prompt = prompt;
        fakedisk::reset(script);
        apptest::DialogAnswerer answerer;
        QTest::mouseClick(this->prompt(), Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList({text}));
        QCOMPARE(answerer.seen().at(0).button0, result == 0 ? QString("Ok") : QString("ok"));
        QVERIFY(page()->isVisible());
        QVERIFY(buttons_enabled());
    }

    void display_clears_the_password()
    {
        field()->setText("abcd1234");
        page()->control_push_button(false);
        apptest::show_page(1);
        QVERIFY(field()->text().isEmpty());
        QVERIFY(buttons_enabled());
        QCOMPARE(field()->echoMode(), QLineEdit::Password);
        QCOMPARE(field()->maxLength(), 16);
    }
};

QObject *make_input_password_test()
{
    return new InputPasswordTest();
}

#include "inputpassword_test.moc"
