/*
 * The font of the pages and dialogs: the application font, in the family
 * of the font file shipped beside the program.
 */
#ifndef GUI_APP_FONT_H
#define GUI_APP_FONT_H

#include <QFont>

#define ZV_FONT_FILE "SourceHanSansCN-Medium.ttf"

/* The application font, its family replaced by the first family of
 * "<program directory>/SourceHanSansCN-Medium.ttf" when that file
 * registers; the file is registered once per process. */
QFont page_font();

#endif /* GUI_APP_FONT_H */
