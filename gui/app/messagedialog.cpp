/*
 * The message dialog. Return runs the action's three slots in turn, so its
 * result is the second button's; Escape is the dialog's own rejection, the
 * first button's result.
 */
#include "messagedialog.h"

#include <QAction>
#include <QKeySequence>
#include <QMouseEvent>
#include <QTextCursor>

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
    if (parent != nullptr)
        move(parent->mapToGlobal(QPoint(0, 0)));

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
    ui.btn0->setFocus();

    return_action = new QAction(this);
    return_action->setShortcut(QKeySequence(QStringLiteral("Return")));
    addAction(return_action);

    resize(page_width(), ZV_DIALOG_HEIGHT);

    connect(return_action, SIGNAL(triggered()), this, SLOT(onButton0Clicked()));
    connect(return_action, SIGNAL(triggered()), this, SLOT(onButton1Clicked()));
    connect(return_action, SIGNAL(triggered()), this, SLOT(oncolseClicked()));
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

void messagedialog::mousePressEvent(QMouseEvent *event)
{
    drag.press(event);
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
