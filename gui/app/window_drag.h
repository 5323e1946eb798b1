/*
 * Moving a frameless window by dragging its surface, shared by the main
 * window and the message dialogs. Only a press that reached the window
 * itself starts a drag: a button that took the press passes the release on
 * once the pointer has left it, and that must not move the window.
 */
#ifndef WINDOW_DRAG_H
#define WINDOW_DRAG_H

#include <QMouseEvent>
#include <QPoint>

class WindowDrag
{
public:
    void press(const QMouseEvent *event)
    {
        anchor = event->screenPos().toPoint();
        active = true;
    }

    /* How far the pointer moved since the last event of this drag; nothing
     * when no drag is under way. */
    QPoint step(const QMouseEvent *event)
    {
        if (!active)
            return QPoint();
        const QPoint global = event->screenPos().toPoint();
        const QPoint delta = global - anchor;
        anchor = global;
        return delta;
    }

    QPoint release(const QMouseEvent *event)
    {
        const QPoint delta = step(event);
        active = false;
        return delta;
    }

private:
    QPoint anchor;
    bool active = false;
};

#endif /* WINDOW_DRAG_H */
