/*
 * Pieces of the program's start-up that follow from its inputs alone: the
 * drive letter of the command line, the splash picture for the screen and
 * the message about an unusable lock file.
 */
#ifndef GUI_STARTUP_H
#define GUI_STARTUP_H

#include <QPixmap>
#include <QSize>
#include <QString>

#define ZV_SPLASH_MS 3000

/* With exactly one argument, its first character: true and *v_drive set. */
bool drive_argument(int argc, char **argv, char *v_drive);

/* The splash picture scaled to fit the window size of a v_screen screen,
 * aspect ratio kept, fast transformation. */
QPixmap splash_picture(const QPixmap &v_picture, const QSize &v_screen);

/* What the user reads when the lock file v_path can be neither opened nor
 * locked (another copy running has a message of its own); v_reason is the
 * system's error text. Translated in the context "main". */
QString lock_file_message(const char *v_path, const QString &v_reason);

#endif /* GUI_STARTUP_H */
