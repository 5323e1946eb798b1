// The message dialog as the user meets it: which result each way of
// closing it gives (the keyboard's answers to a question are its safe
// second button unless the user moves to the first), its buttons and their
// focus frame, a long text, and where it opens, as a transient window of
// its parent's.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "gui_tests.h"
#include "messagedialog.h"

using apptest::Answer;
using apptest::DialogAnswerer;

namespace {

// The colour a widget shows in the middle of its top edge.
QColor top_middle(QWidget *widget)
{
    return widget->grab().toImage().pixelColor(widget->width() / 2, 0);
}

} // namespace

class MessageDialogTest : public QObject {
    Q_OBJECT

private slots:
    void result_of_each_answer_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("question");
        QTest::addColumn<int>("result");
        QTest::newRow("first button") << int(apptest::ClickButton0) << true << 0;
        QTest::newRow("second button") << int(apptest::ClickButton1) << true << 1;
        // The keyboard's answers to a question: the safe one.
        QTest::newRow("Return") << int(apptest::PressReturn) << true << 1;
        QTest::newRow("Escape") << int(apptest::PressEscape) << true << 1;
        QTest::newRow("keypad Enter") << int(apptest::PressKeypadEnter) << true << 1;
        // Unless the user tabs to the first button and presses Return there.
        QTest::newRow("Tab, then Return") << int(apptest::TabThenReturn) << true << 0;
        // A message with one button: every key answers with it.
        QTest::newRow("one button, Return") << int(apptest::PressReturn) << false << 0;
        QTest::newRow("one button, Escape") << int(apptest::PressEscape) << false << 0;
        QTest::newRow("one button, keypad Enter") << int(apptest::PressKeypadEnter) << false << 0;
    }

    void result_of_each_answer()
    {
        QFETCH(int, answer);
        QFETCH(bool, question);
        QFETCH(int, result);
        DialogAnswerer answerer({Answer(answer)});
        QCOMPARE(messagebox_warning(nullptr, "ZV Security", "Do you want to go on?", "ok",
                                    question ? QString("cancel") : QString()),
                 result);
        QCOMPARE(answerer.seen().size(), size_t(1));
        QCOMPARE(answerer.seen().at(0).focus, question ? QString("btn1") : QString("btn0"));
    }

    // The button with the focus wears a dark frame; the other has none.
    void the_focused_button_is_framed()
    {
        bool checked = false;
        QTimer::singleShot(0, [&checked] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (dialog == nullptr)
                return;
            dialog->activateWindow();
            if (!QTest::qWaitForWindowActive(dialog))
                return;
            QPushButton *btn0 = dialog->findChild<QPushButton *>("btn0");
            QPushButton *btn1 = dialog->findChild<QPushButton *>("btn1");
            const QColor frame(110, 0, 0);
            checked = btn1->hasFocus() && top_middle(btn1) == frame && top_middle(btn0) != frame;
            QTest::keyClick(btn1, Qt::Key_Tab);
            checked = checked && btn0->hasFocus() && top_middle(btn0) == frame && top_middle(btn1) != frame;
            QTest::keyClick(btn0, Qt::Key_Escape);
        });
        QCOMPARE(messagebox_warning(nullptr, "t", "Do you want to go on?", "ok", "cancel"), 1);
        QVERIFY(checked);
    }

    // Where the window system places the windows itself (Wayland), the
    // dialog belongs to its parent's window.
    void is_a_transient_window_of_its_parents()
    {
        QWidget parent;
        parent.setGeometry(QRect(QPoint(40, 50), QSize(200, 150)));
        QLabel inner(&parent);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QWindow *transient = nullptr;
        QTimer::singleShot(0, [&transient] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (dialog != nullptr) {
                transient = dialog->windowHandle()->transientParent();
                QTest::keyClick(dialog, Qt::Key_Escape);
            }
        });
        messagebox_warning(&inner, "title", "text", "ok", QString());
        QCOMPARE(transient, parent.windowHandle());
    }

    void the_three_functions_show_the_same_dialog()
    {
        DialogAnswerer answerer({apptest::ClickButton1, apptest::ClickButton1, apptest::ClickButton1});
        QCOMPARE(messagebox_warning(nullptr, "t", "warning text", "ok", "cancel"), 1);
        QCOMPARE(messagebox_critical(nullptr, "t", "critical text", "ok", "cancel"), 1);
        QCOMPARE(messagebox_information(nullptr, "t", "information text", "ok", "cancel"), 1);
        QCOMPARE(answerer.texts(), QStringList({"warning text", "critical text", "information text"}));
    }

    void two_buttons_with_cancel_left_of_ok()
    {
        DialogAnswerer answerer;
        messagebox_warning(nullptr, "title", "text", "ok", "cancel");
        const apptest::SeenDialog &d = answerer.seen().at(0);
        QVERIFY(d.button0_visible);
        QVERIFY(d.button1_visible);
        QCOMPARE(d.button0, QString("ok"));
        QCOMPARE(d.button1, QString("cancel"));
        QVERIFY2(d.button1_x < d.button0_x, "the second button stands left of the first");
    }

    void an_empty_second_button_leaves_one_button()
    {
        DialogAnswerer answerer({apptest::ClickButton0});
        QCOMPARE(messagebox_critical(nullptr, "title", "Only one way out.", "Ok", QString()), 0);
        const apptest::SeenDialog &d = answerer.seen().at(0);
        QVERIFY(d.button0_visible);
        QVERIFY(!d.button1_visible);
        QCOMPARE(d.button0, QString("Ok"));
        QCOMPARE(d.text, QString("Only one way out."));
    }

    void a_long_message_scrolls_from_its_first_line()
    {
        QStringList lines;
        for (int i = 1; i <= 60; i++)
            lines << QString("line %1 of a message that does not fit the dialog").arg(i);
        DialogAnswerer answerer;
        messagebox_information(nullptr, "title", lines.join('\n'), "ok", QString());
        const apptest::SeenDialog &d = answerer.seen().at(0);
        QCOMPARE(d.text, lines.join('\n'));
        QVERIFY2(d.scroll_maximum > 0, "the text is longer than the area");
        QCOMPARE(d.scroll_value, 0);
        QCOMPARE(d.cursor_position, 0);
        QVERIFY(d.read_only);
    }

    void opens_on_its_parents_top_left_corner_data()
    {
        QTest::addColumn<QPoint>("parent_at");
        QTest::newRow("near the origin") << QPoint(10, 20);
        QTest::newRow("further away") << QPoint(300, 170);
    }

    void opens_on_its_parents_top_left_corner()
    {
        QFETCH(QPoint, parent_at);
        QWidget parent;
        parent.setWindowFlags(Qt::FramelessWindowHint);
        parent.setGeometry(QRect(parent_at, QSize(200, 150)));
        QLabel inner(&parent);
        inner.setGeometry(25, 35, 50, 40);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        DialogAnswerer answerer;
        messagebox_warning(&inner, "title", "text", "ok", QString());
        QCOMPARE(answerer.seen().at(0).position, inner.mapToGlobal(QPoint(0, 0)));
    }

    void is_as_wide_as_the_page_host()
    {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(800, 600));
        DialogAnswerer answerer;
        messagebox_warning(nullptr, "title", "text", "ok", QString());
        // 800 / 600 x 535 = 713.3, x 0.33 = 235.4
        QCOMPARE(answerer.seen().at(0).width, 235);
        QCOMPARE(answerer.seen().at(0).height, 267);
    }
};

QObject *make_message_dialog_test()
{
    return new MessageDialogTest();
}

#include "messagedialog_test.moc"
