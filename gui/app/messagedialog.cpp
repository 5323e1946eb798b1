/*
 * The message dialog. A question's second button is its safe answer (the
 * first one goes on, and may wipe the disk): the dialog opens with the
 * focus on it, and Return, keypad Enter, Escape and closing the window
 * answer with it unless the user has moved the focus to the first button.
 */
#include "messagedialog.h"

#include <QAction>
#include <QKeySequence>
#include <QMouseEvent>
#include <QTextCursor>
#include <QWindow>

#include "app_font.h"
#include "screen_size.h"

#define ZV_DIALOG_BUTTON_WIDTH 95
#define ZV_DIALOG_BUTTON_HEIGHT 41

messagedialog::messagedialog(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                             const QString &button1)
    : QDialog(nullptr), return_action(nullptr)
{
    Q_UNUSED(title);
    ui.setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    if (parent != nullptr) {
        /* A transient window of the parent's: where the compositor places
         * windows itself (Wayland) it keeps the dialog with its parent; on
         * X11 the dialog opens on the parent's top-left corner. */
        create();
        QWidget *top = parent->window();
        if (windowHandle() != nullptr && top->windowHandle() != nullptr)
            windowHandle()->setTransientParent(top->windowHandle());
        if (!window_system_places_windows())
            move(parent->mapToGlobal(QPoint(0, 0)));
    }

    ui.pop_content->appendPlainText(text);
    ui.btn0->setText(button0);
    ui.btn1->setText(button1);
    if (button1.isEmpty()) {
        ui.btn1->hide();
        ui.btn0->setFixedSize(ZV_DIALOG_BUTTON_WIDTH, ZV_DIALOG_BUTTON_HEIGHT);
    }
    if (button0.isEmpty())
        ui.btn0->hide();

    const QFont font = page_font();
    ui.btn0->setFont(font);
    ui.btn1->setFont(font);
    ui.pop_content->setFont(font);

    ui.pop_content->moveCursor(QTextCursor::Start);
    ui.pop_content->setReadOnly(true);
    safe_button()->setFocus();

    return_action = new QAction(this);
    return_action->setShortcuts({QKeySequence(QStringLiteral("Return")), QKeySequence(QStringLiteral("Enter"))});
    addAction(return_action);

    resize(page_width(), ZV_DIALOG_HEIGHT);

    connect(return_action, SIGNAL(triggered()), this, SLOT(onReturnPressed()));
    connect(ui.btn0, SIGNAL(clicked()), this, SLOT(onButton0Clicked()));
    connect(ui.btn1, SIGNAL(clicked()), this, SLOT(onButton1Clicked()));
}

messagedialog::~messagedialog() = default;

void messagedialog::onButton0Clicked()
{
    done(0);
}

void messagedialog::onButton1Clicked()
{
    done(1);
}

void messagedialog::oncolseClicked()
{
}

QPushButton *messagedialog::safe_button()
{
    return ui.btn1->isHidden() ? ui.btn0 : ui.btn1;
}

void messagedialog::onReturnPressed()
{
    done(ui.btn0->hasFocus() || ui.btn1->isHidden() ? 0 : 1);
}

void messagedialog::reject()
{
    done(ui.btn1->isHidden() ? 0 : 1);
}

void messagedialog::mousePressEvent(QMouseEvent *event)
{
    drag.press(this, event);
}

void messagedialog::mouseMoveEvent(QMouseEvent *event)
{
    move(pos() + drag.step(event));
}

void messagedialog::mouseReleaseEvent(QMouseEvent *event)
{
    move(pos() + drag.release(event));
}

static int run_messagedialog(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                             const QString &button1)
{
    messagedialog *dialog = new messagedialog(parent, title, text, button0, button1);
    const int result = dialog->exec();
    delete dialog;
    return result;
}

int messagebox_warning(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                       const QString &button1)
{
    return run_messagedialog(parent, title, text, button0, button1);
}

int messagebox_critical(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                        const QString &button1)
{
    return run_messagedialog(parent, title, text, button0, button1);
}

int messagebox_information(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                           const QString &button1)
{
    return run_messagedialog(parent, title, text, button0, button1);
}
