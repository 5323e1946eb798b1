/*
 * The sizes that follow from the primary screen: the window is 535 pixels
 * high with the screen's aspect ratio, and the page host, the pages and the
 * message dialogs are a third of its width.
 */
#ifndef GUI_SCREEN_SIZE_H
#define GUI_SCREEN_SIZE_H

#include <QSize>

#define ZV_WINDOW_HEIGHT 535
#define ZV_PAGE_HEIGHT 304
#define ZV_DIALOG_HEIGHT 267

/* (W / H x 535, 535) for a W x H screen, in single precision, truncated. */
QSize window_size_for(const QSize &v_screen);
/* The window's width for a W x H screen times 0.33, truncated. */
int page_width_for(const QSize &v_screen);

/* The same for the primary screen. */
QSize setApp();
int page_width();

#endif /* GUI_SCREEN_SIZE_H */
