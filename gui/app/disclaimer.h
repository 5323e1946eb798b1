/*
 * The licence-agreement page (index 0): the agreement, read-only, a check
 * box that accepts it, a button that ends the program and one that goes on
 * to the set-password page while the box is ticked.
 */
#ifndef GUI_DISCLAIMER_H
#define GUI_DISCLAIMER_H

#include <QWidget>

#include "ui_disclaimer.h"

class disclaimer : public QWidget
{
    Q_OBJECT

public:
    /* The page; created on the first call with that parent. */
    static disclaimer *GetInstance(QWidget *parent);
    /* Brings the next button in line with the check box and shows the page. */
    void display();

signals:
    void change_mainwindows_signal(int index);

private slots:
    void on_cancel_push_button_clicked();
    void on_next_push_button_clicked();
    void on_accept_check_box_stateChanged(int state);

private:
    explicit disclaimer(QWidget *parent);
    ~disclaimer() override;

    Ui_disclaimer *ui;
};

#endif /* GUI_DISCLAIMER_H */
