// The in-process GUI test program: one main window for the whole program
// (its pages are process-wide singletons), built against the scripted model.
#ifndef APP_GUI_TESTS_H
#define APP_GUI_TESTS_H

#include <QMainWindow>
#include <QMetaObject>
#include <QTest>

#include "app_test_support.h"
#include "fake_disk.h"

namespace apptest {

QMainWindow *window();

// A widget of the code under test by its object name; fails the test
// program when there is none.
template <class T> T *child(QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("no child %s", name);
    return found;
}

// Shows a page as the pages' signals do.
inline void show_page(int index)
{
    QMetaObject::invokeMethod(window(), "change_show_widget", Qt::DirectConnection, Q_ARG(int, index));
}

} // namespace apptest

#endif
