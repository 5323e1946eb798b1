/*
 * The font of the pages and dialogs: the application font, in the family
 * of the font file shipped beside the program.
 */
#ifndef GUI_APP_FONT_H
#define GUI_APP_FONT_H

#include <QFont>
#include <QStringList>

#define ZV_FONT_FILE "SourceHanSansCN-Medium.ttf"

/* The application font, its family replaced by the family of
 * "<program directory>/SourceHanSansCN-Medium.ttf" (see shipped_font_family)
 * when that file registers; the file is registered once per process. */
QFont page_font();

/* The family to draw with, of the families a font file registered: the
 * Simplified Chinese one (" SC") when the file is a collection of regional
 * faces, as Debian's Noto Sans CJK that the installed program links to;
 * otherwise the first; empty when there is none. */
QString shipped_font_family(const QStringList &v_families);

#endif /* GUI_APP_FONT_H */
