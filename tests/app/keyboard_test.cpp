// The keyboard and the screen reader: where the focus starts on each page,
// the order in which Tab walks through its controls, the frame that shows
// the focus, the names a screen reader reads for controls without text,
// and the contrast of the licence text.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QColor>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include <cmath>

#include "gui_tests.h"
#include "setpassword.h"

namespace {

// WCAG relative luminance of an sRGB colour.
double luminance(const QColor &c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour a widget shows in the middle of its top edge, where the
// focus frame runs.
QColor top_middle(QWidget *widget)
{
    return widget->grab().toImage().pixelColor(widget->width() / 2, 0);
}

QString focus_name()
{
    QWidget *focus = QApplication::focusWidget();
    return focus != nullptr ? focus->objectName() : QString("<none>");
}

} // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

    void activate()
    {
        apptest::window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(apptest::window()));
    }

private slots:
    void init()
    {
        fakedisk::reset();
        apptest::use_chinese(false);
        setpassword *set = setpassword::GetInstance(nullptr);
        set->formating(false);
        set->active_cancel(true);
        set->control_push_button(true);
    }

    void the_first_field_has_the_focus_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("field");
        QTest::newRow("login") << 1 << "input_password_line_edit";
        QTest::newRow("set password") << 2 << "input_new_password_line_edit";
    }

    // Whichever control had the focus before, the page opens ready to type.
    void the_first_field_has_the_focus()
    {
        QFETCH(int, page);
        QFETCH(QString, field);
        activate();
        apptest::show_page(0);
        apptest::child<QWidget>(apptest::window(), "accept_check_box")->setFocus();
        apptest::show_page(page);
        QCOMPARE(focus_name(), field);
    }

    void tab_walks_the_fields_then_the_buttons_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("order");
        QTest::addColumn<QStringList>("frames"); // the focus frame of each, #rrggbb
        QTest::newRow("licence") << 0
                                 << QStringList({"textBrowser", "accept_check_box", "cancel_push_button",
                                                 "next_push_button"})
                                 << QStringList({"#f12727", "#cc131c", "#6e0000", "#6e0000"});
        QTest::newRow("login") << 1
                               << QStringList({"input_password_line_edit", "login_push_button",
                                               "password_prompt_push_button", "reset_password_push_button"})
                               << QStringList({"#f12727", "#6e0000", "#f12727", "#f12727"});
        QTest::newRow("set password")
            << 2
            << QStringList({"input_new_password_line_edit", "input_new_password_line_edit_again",
                            "password_prompt_line_edit", "cancel_push_button", "ok_push_button"})
            << QStringList({"#f12727", "#f12727", "#f12727", "#6e0000", "#6e0000"});
    }

    // Tab goes round the page's controls in order and back to the first;
    // Shift+Tab goes back. The control with the focus wears its frame, and
    // loses it with the focus.
    void tab_walks_the_fields_then_the_buttons()
    {
        QFETCH(int, page);
        QFETCH(QStringList, order);
        QFETCH(QStringList, frames);
        activate();
        apptest::show_page(page);
        if (page == 0) {
            QTest::mouseClick(apptest::child<QAbstractButton>(apptest::window(), "accept_check_box"), Qt::LeftButton,
                              Qt::NoModifier, QPoint(5, 5));
            QVERIFY(apptest::child<QPushButton>(apptest::window(), "next_push_button")->isEnabled());
            apptest::child<QWidget>(apptest::window(), "textBrowser")->setFocus(Qt::TabFocusReason);
        }
        QStringList walked = {focus_name()};
        for (int i = 0; i < order.size(); i++) {
            QWidget *here = QApplication::focusWidget();
            QVERIFY(here != nullptr);
            const int at = walked.size() - 1;
            QCOMPARE(top_middle(here).name(), frames.at(at));
            QTest::keyClick(here, Qt::Key_Tab);
            QVERIFY2(top_middle(here).name() != frames.at(at), qPrintable(here->objectName() + " kept its frame"));
            walked << focus_name();
        }
        QCOMPARE(walked, QStringList(order) << order.first());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focus_name(), order.last());
        if (page == 0)
            QTest::mouseClick(apptest::child<QAbstractButton>(apptest::window(), "accept_check_box"), Qt::LeftButton,
                              Qt::NoModifier, QPoint(5, 5));
    }

    // What a screen reader reads for the controls that show no text.
    void controls_without_text_have_names_and_tips()
    {
        QWidget *min = apptest::child<QWidget>(apptest::window(), "min");
        QWidget *close = apptest::child<QWidget>(apptest::window(), "close");
        QCOMPARE(QAccessible::queryAccessibleInterface(min)->text(QAccessible::Name), QString("Minimise"));
        QCOMPARE(QAccessible::queryAccessibleInterface(close)->text(QAccessible::Name), QString("Close"));
        QCOMPARE(min->toolTip(), QString("Minimise"));
        QCOMPARE(close->toolTip(), QString("Close"));
        int checked = 0;
        for (QWidget *w : apptest::window()->findChildren<QWidget *>()) {
            QAbstractButton *button = qobject_cast<QAbstractButton *>(w);
            const bool without_text = (button != nullptr && button->text().isEmpty()) ||
                                      qobject_cast<QLineEdit *>(w) != nullptr ||
                                      w->inherits("QAbstractScrollArea") || w->inherits("QProgressBar");
            // The fields' icons are pictures that do nothing.
            if (!without_text || w->inherits("QLineEditIconButton"))
                continue;
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY(a != nullptr);
            QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(w->objectName() + " (" + w->metaObject()->className() + ") has no name"));
            checked++;
        }
        QVERIFY2(checked >= 9, "the fields, the agreement, the panel and the window's buttons");
    }

    // Every piece of the licence text, headings included, against the white
    // of the agreement: at least 4.5:1.
    void the_licence_text_is_readable()
    {
        QTextBrowser *browser = apptest::child<QTextBrowser>(apptest::window(), "textBrowser");
        const QColor paper(255, 255, 255);
        int pieces = 0;
        double worst = 21.0;
        for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment piece = it.fragment();
                if (!piece.isValid() || piece.text().trimmed().isEmpty())
                    continue;
                const QBrush brush = piece.charFormat().foreground();
                const QColor ink = brush.style() == Qt::NoBrush ? browser->palette().color(QPalette::Text)
                                                                : brush.color();
                worst = std::min(worst, contrast(ink, paper));
                pieces++;
            }
        }
        QVERIFY(pieces > 20);
        QVERIFY2(worst >= 4.5, qPrintable(QString("contrast %1:1").arg(worst)));
    }
};

QObject *make_keyboard_test()
{
    return new KeyboardTest();
}

#include "keyboard_test.moc"
