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
        return shipped_font_family(families);
    }();
    return family;
}

} // namespace

QString shipped_font_family(const QStringList &v_families)
{
    for (const QString &family : v_families) {
        if (family.endsWith(QLatin1String(" SC")))
            return family;
    }
    return v_families.isEmpty() ? QString() : v_families.first();
}

QFont page_font()
{
    QFont font = QApplication::font();
    const QString family = shipped_family();
    if (!family.isEmpty())
        font.setFamily(family);
    return font;
}
