// The shared helpers of the in-process GUI tests.
#include "app_test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTranslator>

#include "messagedialog.h"

namespace apptest {

namespace {

// Long enough for any step of the code under test; it only bounds a test
// that would otherwise hang, it measures nothing.
const int kPatienceMs = 60000;
const int kExitNotCalled = -1000;

QMutex message_mutex;
std::vector<std::pair<QtMsgType, QString>> kept_messages;

void keep_message(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker lock(&message_mutex);
    kept_messages.emplace_back(type, msg);
}

} // namespace

DialogAnswerer::DialogAnswerer(std::vector<Answer> answers) : answers_(std::move(answers))
{
    connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::poll);
    timer_.start(5);
}

DialogAnswerer::~DialogAnswerer() = default;

QStringList DialogAnswerer::texts() const
{
    QStringList list;
    for (const SeenDialog &d : seen_)
        list << d.text;
    return list;
}

bool DialogAnswerer::wait_for(size_t count)
{
    return wait_until([this, count] { return seen_.size() >= count; });
}

void DialogAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    messagedialog *dialog = qobject_cast<messagedialog *>(modal);
    if (dialog == nullptr || !dialog->isVisible() || dialog == current_.data())
        return;
    current_ = dialog;

    QPlainTextEdit *content = dialog->findChild<QPlainTextEdit *>(QStringLiteral("pop_content"));
    QPushButton *btn0 = dialog->findChild<QPushButton *>(QStringLiteral("btn0"));
    QPushButton *btn1 = dialog->findChild<QPushButton *>(QStringLiteral("btn1"));
    SeenDialog seen;
    seen.text = content->toPlainText();
    seen.button0 = btn0->text();
    seen.button1 = btn1->text();
    seen.button0_visible = btn0->isVisible();
    seen.button1_visible = btn1->isVisible();
    seen.button0_x = btn0->x();
    seen.button1_x = btn1->x();
    seen.read_only = content->isReadOnly();
    seen.cursor_position = content->textCursor().position();
    seen.scroll_value = content->verticalScrollBar()->value();
    seen.scroll_maximum = content->verticalScrollBar()->maximum();
    seen.focus = dialog->focusWidget() != nullptr ? dialog->focusWidget()->objectName() : QString();
    seen.position = dialog->pos();
    seen.width = dialog->width();
    seen.height = dialog->height();
    seen_.push_back(seen);

    const Answer answer = seen_.size() <= answers_.size() ? answers_[seen_.size() - 1] : ClickButton0;
    switch (answer) {
    case ClickButton0:
        QTest::mouseClick(btn0, Qt::LeftButton);
        break;
    case ClickButton1:
        QTest::mouseClick(btn1, Qt::LeftButton);
        break;
    case PressReturn:
    case PressEscape:
    case PressKeypadEnter:
    case TabThenReturn: {
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog))
            qCritical("the dialog did not become the active window");
        auto focus = [dialog] {
            return QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : dialog;
        };
        if (answer == TabThenReturn)
            QTest::keyClick(focus(), Qt::Key_Tab);
        if (answer == PressKeypadEnter)
            QTest::keyClick(focus(), Qt::Key_Enter, Qt::KeypadModifier);
        else
            QTest::keyClick(focus(), answer == PressEscape ? Qt::Key_Escape : Qt::Key_Return);
        break;
    }
    }
}

int run_until_exit(const std::function<void()> &action)
{
    QTimer::singleShot(0, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kExitNotCalled); });
    guard.start(kPatienceMs);
    return QCoreApplication::exec();
}

void capture_messages()
{
    qInstallMessageHandler(keep_message);
}

void clear_messages()
{
    /* QTest installs a handler of its own for each test class. */
    qInstallMessageHandler(keep_message);
    QMutexLocker lock(&message_mutex);
    kept_messages.clear();
}

QStringList messages(QtMsgType type)
{
    QMutexLocker lock(&message_mutex);
    QStringList list;
    for (const auto &m : kept_messages)
        if (m.first == type)
            list << m.second;
    return list;
}

QStringList all_messages()
{
    QMutexLocker lock(&message_mutex);
    QStringList list;
    for (const auto &m : kept_messages)
        list << m.second;
    return list;
}

void use_chinese(bool on)
{
    static QTranslator *translator = nullptr;
    if (on && translator == nullptr) {
        translator = new QTranslator();
        if (!translator->load(QStringLiteral(":/ts/bin/zvsecurity_zh.qm")))
            qFatal("the embedded catalogue did not load");
        QCoreApplication::installTranslator(translator);
    } else if (!on && translator != nullptr) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
        translator = nullptr;
    }
}

bool wait_until(const std::function<bool()> &predicate)
{
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > kPatienceMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace apptest
