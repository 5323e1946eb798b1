/*
 * Pieces of the program's start-up that follow from its inputs alone: the
 * drive letter of the command line and the splash picture for the screen.
 */
#ifndef GUI_STARTUP_H
#define GUI_STARTUP_H

#include <QPixmap>
#include <QSize>

#define ZV_SPLASH_MS 3000

/* With exactly one argument, its first character: true and *v_drive set. */
bool drive_argument(int argc, char **argv, char *v_drive);

/* The splash picture scaled to fit the window size of a v_screen screen,
 * aspect ratio kept, fast transformation. */
QPixmap splash_picture(const QPixmap &v_picture, const QSize &v_screen);

#endif /* GUI_STARTUP_H */
