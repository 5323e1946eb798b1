/*
 * The application's only window: frameless and translucent, a red picture
 * with a white card on its right half, its own minimise and close buttons,
 * dragged from anywhere on its surface. The card's page host shows one of
 * the three pages; the start-up check decides the first one.
 */
#ifndef GUI_MAINWINDOW_H
#define GUI_MAINWINDOW_H

#include "window_drag.h"

#include <QMainWindow>

#include "page_index.h"
#include "ui_mainwindow.h"

class QMouseEvent;
class PasswordStatusThread;
class disclaimer;
class inputpassword;
class setpassword;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void password_status_slots(int status, int value);
    void change_show_widget(int index);
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui_MainWindow *ui;
    setpassword *setpassword_page;
    inputpassword *inputpassword_page;
    disclaimer *disclaimer_page;
    PasswordStatusThread *status_thread;
    WindowDrag drag;
};

#endif /* GUI_MAINWINDOW_H */
