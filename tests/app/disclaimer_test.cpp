// The licence page: the check box decides the next button; next leads to
// the set-password page without a way back; cancel ends the program.
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "disclaimer.h"
#include "gui_tests.h"
#include "setpassword.h"

using apptest::child;

class DisclaimerTest : public QObject {
    Q_OBJECT

    disclaimer *page() { return disclaimer::GetInstance(nullptr); }
    QCheckBox *box() { return child<QCheckBox>(page(), "accept_check_box"); }
    QPushButton *next() { return child<QPushButton>(page(), "next_push_button"); }

private slots:
    void init()
    {
        fakedisk::reset();
        apptest::clear_messages();
        box()->setChecked(false);
        apptest::show_page(0);
    }

    void first_display_is_unticked_with_next_disabled()
    {
        QVERIFY(page()->isVisible());
        QVERIFY(!box()->isChecked());
        QVERIFY(!next()->isEnabled());
    }

    void the_box_switches_the_next_button()
    {
        QTest::mouseClick(box(), Qt::LeftButton, Qt::NoModifier, QPoint(5, box()->height() / 2));
        QVERIFY(box()->isChecked());
        QVERIFY(next()->isEnabled());
        QTest::mouseClick(box(), Qt::LeftButton, Qt::NoModifier, QPoint(5, box()->height() / 2));
        QVERIFY(!box()->isChecked());
        QVERIFY(!next()->isEnabled());
    }

    void the_agreement_has_its_eleven_sections()
    {
        const QString text = child<QTextBrowser>(page(), "textBrowser")->toPlainText();
        const char *headings[] = {"1. Foreword",          "2. Definitions",       "3. Software Licence",
                                  "4. Restrictions of Use", "5. Reservation of Rights", "6. Technical Support",
                                  "7. Upgrades",          "8. Limitation of Liability", "9. Termination",
                                  "10. Applicable Law",   "11. Other Provisions"};
        int at = 0;
        for (const char *heading : headings) {
            const int found = text.indexOf(QString::fromLatin1(heading), at);
            QVERIFY2(found >= 0, heading);
            at = found;
        }
        QVERIFY(child<QTextBrowser>(page(), "textBrowser")->isReadOnly());
    }

    void next_with_the_box_ticked_shows_set_password_without_back()
    {
        setpassword::GetInstance(nullptr)->active_cancel(true);
        box()->setChecked(true);
        apptest::DialogAnswerer answerer;
        QTest::mouseClick(next(), Qt::LeftButton);
        setpassword *target = setpassword::GetInstance(nullptr);
        QVERIFY(target->isVisible());
        QVERIFY(!page()->isVisible());
        QVERIFY(!child<QPushButton>(target, "cancel_push_button")->isEnabled());
        QVERIFY(answerer.seen().empty());
    }

    void cancel_ends_the_program_without_a_message()
    {
        apptest::DialogAnswerer answerer;
        const int code = apptest::run_until_exit(
            [this] { QTest::mouseClick(child<QPushButton>(page(), "cancel_push_button"), Qt::LeftButton); });
        QCOMPARE(code, 0);
        QVERIFY(answerer.seen().empty());
        QCOMPARE(fakedisk::count("exit"), 1);
    }
};

QObject *make_disclaimer_test()
{
    return new DisclaimerTest();
}

#include "disclaimer_test.moc"
