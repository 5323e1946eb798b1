/*
 * The one dialog of every message and question: a frameless red card with
 * a warning picture, the text and one or two white buttons, run modally by
 * the three messagebox functions.
 */
#ifndef GUI_MESSAGEDIALOG_H
#define GUI_MESSAGEDIALOG_H

#include "window_drag.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include "ui_messagedialog.h"

class QAction;
class QMouseEvent;
class QPushButton;

class messagedialog : public QDialog
{
    Q_OBJECT

public:
    /* The title is not shown. An empty button text hides that button;
     * with a parent the dialog opens on the parent's top-left corner. */
    messagedialog(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                  const QString &button1);
    ~messagedialog() override;

public slots:
    /* Escape and closing the window: the safe answer. */
    void reject() override;

private slots:
    void onButton0Clicked();
    void onButton1Clicked();
    void oncolseClicked();
    /* Return and keypad Enter: the first button's answer when it has the
     * focus, the safe answer otherwise. */
    void onReturnPressed();
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    /* The second button when there is one, else the only one. */
    QPushButton *safe_button();

    Ui_messagedialog ui;
    WindowDrag drag;
    QAction *return_action;
};

/*
 * Run one messagedialog with exec() and return its result: 0 for the first
 * button, 1 for the second; Return, keypad Enter and Escape give 1 (0 when
 * there is one button) unless the user has moved the focus to the first
 * button. The three differ only in the kind of message their names tell.
 */
int messagebox_warning(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                       const QString &button1);
int messagebox_critical(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                        const QString &button1);
int messagebox_information(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                           const QString &button1);

#endif /* GUI_MESSAGEDIALOG_H */
