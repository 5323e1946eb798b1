// What the in-process tests of the GUI share: answering the modal message
// dialogs the code under test opens, running code that may end the
// application inside an event loop of its own, the program's log messages,
// and the Chinese catalogue.
#ifndef APP_TEST_SUPPORT_H
#define APP_TEST_SUPPORT_H

#include <QObject>
#include <QPointer>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

#include <functional>
#include <vector>

class QWidget;

namespace apptest {

// One message dialog as the user saw it.
struct SeenDialog {
    QString text;
    QString button0;
    QString button1;
    bool button0_visible = false;
    bool button1_visible = false;
    int button0_x = 0; // left edges, in the dialog
    int button1_x = 0;
    QPoint position;
    int width = 0;
    int height = 0;
    bool read_only = false;
    int cursor_position = -1;
    int scroll_value = -1;
    int scroll_maximum = -1;
    QString focus; // object name of the widget that has the focus in it
};

// How the user answers a dialog.
enum Answer { ClickButton0, ClickButton1, PressReturn, PressEscape, PressKeypadEnter, TabThenReturn };

// Answers every messagedialog that opens while it lives, with the answers
// given, in turn (the first button once they are used up), and keeps what
// each one showed.
class DialogAnswerer : public QObject {
    Q_OBJECT
public:
    explicit DialogAnswerer(std::vector<Answer> answers = {});
    ~DialogAnswerer() override;
    const std::vector<SeenDialog> &seen() const { return seen_; }
    QStringList texts() const;
    // Waits (handling events) until count dialogs were answered.
    bool wait_for(size_t count);

private:
    void poll();

    std::vector<Answer> answers_;
    std::vector<SeenDialog> seen_;
    QPointer<QWidget> current_;
    QTimer timer_;
};

// Runs action inside QCoreApplication::exec() and returns the exit code
// with which the code under test ended the event loop; -1000 if it did not
// end it while the work it started (the threads it waits for) went on.
int run_until_exit(const std::function<void()> &action);

// Qt messages of the code under test, kept by a handler that these install.
void capture_messages();
// Forgets the kept messages (and installs the handler again).
void clear_messages();
QStringList messages(QtMsgType type);
// Every kept message, of any type.
QStringList all_messages();

// Installs or removes the embedded Chinese catalogue.
void use_chinese(bool on);

// Handles events until predicate holds (false when it never did).
bool wait_until(const std::function<bool()> &predicate);

} // namespace apptest

#endif
