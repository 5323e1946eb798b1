/*
 * The shipped font, registered on first use. The file is some 16 MB, so
 * the pages and dialogs share one registration instead of adding the same
 * face to the font database again for each of them.
 */
#include "app_font.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

namespace {

QString shipped_family()
{
    static const QString family = [] {
        const QString path = QStringLiteral("%1/" ZV_FONT_FILE).arg(QCoreApplication::applicationDirPath());
        const int id = QFontDatabase::addApplicationFont(path);
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QString() : families.first();
    }();
    return family;
}

} // namespace

QFont page_font()
{
    QFont font = QApplication::font();
    const QString family = shipped_family();
    if (!family.isEmpty())
        font.setFamily(family);
    return font;
}
