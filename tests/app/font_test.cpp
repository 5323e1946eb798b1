// The family the pages draw with, of the families the shipped font file
// registers: beside the built program the file is the Chinese face alone;
// installed, it is a link to Debian's Noto Sans CJK collection.
#include <QFontDatabase>
#include <QTest>

#include "app_font.h"

class FontTest : public QObject {
    Q_OBJECT

private slots:
    void family_data()
    {
        QTest::addColumn<QStringList>("families");
        QTest::addColumn<QString>("family");
        QTest::newRow("the Chinese face alone") << QStringList{"Noto Sans CJK SC"} << "Noto Sans CJK SC";
        QTest::newRow("a collection, Japanese first")
            << QStringList{"Noto Sans CJK JP", "Noto Sans CJK KR", "Noto Sans CJK SC", "Noto Sans CJK TC",
                           "Noto Sans CJK HK"}
            << "Noto Sans CJK SC";
        QTest::newRow("another font") << QStringList{"DejaVu Sans", "DejaVu Sans Mono"} << "DejaVu Sans";
        QTest::newRow("nothing registered") << QStringList{} << QString();
    }

    void family()
    {
        QFETCH(QStringList, families);
        QFETCH(QString, family);
        QCOMPARE(shipped_font_family(families), family);
    }

    // The file the installed program's font links to.
    void debian_collection()
    {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(ZV_NOTO_CJK_FONT));
        QVERIFY(id >= 0);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        QVERIFY2(families.size() > 1, qPrintable(families.join(", ")));
        QCOMPARE(shipped_font_family(families), QStringLiteral("Noto Sans CJK SC"));
        QFontDatabase::removeApplicationFont(id);
    }
};

QObject *make_font_test()
{
    return new FontTest();
}

#include "font_test.moc"
