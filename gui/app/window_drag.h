/*
 * Moving a frameless window by dragging its surface, shared by the main
 * window and the message dialogs. A press with the left button hands the
 * move to the window system (QWindow::startSystemMove): the only way on
 * Wayland, where a client cannot place its own windows, and the window
 * manager's own move on X11. Where the platform cannot (X11 without a
 * window manager, other buttons), the window follows the pointer itself.
 * Only a press that reached the window itself starts a drag: a button that
 * took the press passes the release on once the pointer has left it, and
 * that must not move the window.
 */
#ifndef WINDOW_DRAG_H
#define WINDOW_DRAG_H

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPoint>
#include <QWidget>
#include <QWindow>

/* Whether the window system, not the program, decides where a window
 * opens: on Wayland a client's move() is not honoured, and the windows are
 * placed by the compositor (a dialog beside its transient parent). */
inline bool window_system_places_windows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

class WindowDrag
{
public:
    void press(QWidget *window, const QMouseEvent *event)
    {
        anchor = event->screenPos().toPoint();
        QWindow *handle = window->windowHandle();
        active = !(event->button() == Qt::LeftButton && handle != nullptr && handle->startSystemMove());
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
