// The Chinese catalogue: it holds exactly the texts that the sources and
// forms pass through the translation, each translated, and the embedded
// compiled form gives the Chinese texts of every context.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <map>
#include <utility>

#include "app_test_support.h"

namespace {

using Entry = std::pair<QString, QString>; // context, source

// Every current message of a .ts file with its translation.
std::map<Entry, QString> read_catalogue(const QString &path, QString *error)
{
    std::map<Entry, QString> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return entries;
    }
    QXmlStreamReader xml(&file);
    QString context, source, translation;
    bool current = true;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                const QString type = xml.attributes().value("type").toString();
                current = type != "obsolete" && type != "vanished";
                translation = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            if (current)
                entries[{context, source}] = translation;
            current = true;
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return entries;
}

} // namespace

class CatalogueTest : public QObject {
    Q_OBJECT

private slots:
    void holds_every_translated_text_of_the_sources()
    {
        QString error;
        const std::map<Entry, QString> ours = read_catalogue(ZV_APP_TS, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTemporaryDir dir;
        const QString extracted = dir.filePath("extracted.ts");
        QProcess lupdate;
        lupdate.start(ZV_LUPDATE, {"-silent", "-locations", "none", ZV_APP_SOURCE_DIR, "-ts", extracted});
        QVERIFY(lupdate.waitForFinished(120000));
        QCOMPARE(lupdate.exitCode(), 0);
        const std::map<Entry, QString> sources = read_catalogue(extracted, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(sources.size() > 40);
        for (const auto &e : sources) {
            const QString what = e.first.first + ": " + e.first.second;
            QVERIFY2(ours.count(e.first) == 1, qPrintable("missing from the catalogue: " + what));
            QVERIFY2(!ours.at(e.first).isEmpty(), qPrintable("untranslated: " + what));
        }
        for (const auto &e : ours)
            QVERIFY2(sources.count(e.first) == 1,
                     qPrintable("not in the sources: " + e.first.first + ": " + e.first.second));
    }

    void the_embedded_catalogue_translates_each_context_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("window title") << "MainWindow" << "ZV Security" << QString::fromUtf8("瓦罗安全工具");
        QTest::newRow("licence cancel") << "disclaimer" << "cancel" << QString::fromUtf8("退出");
        QTest::newRow("set-password back") << "setpassword" << "cancel" << QString::fromUtf8("上一步");
        QTest::newRow("reset question cancel") << "inputpassword" << "cancel" << QString::fromUtf8("取消");
        QTest::newRow("progress") << "setpassword" << "The USB driver is in the process of resetting"
                                  << QString::fromUtf8("      正在配置新密码并格式化...");
        QTest::newRow("dialog title") << "messagedialog" << "messagedialog" << QString::fromUtf8("提示");
        QTest::newRow("close button's name") << "MainWindow" << "Close" << QString::fromUtf8("关闭");
        QTest::newRow("minimise button's name") << "MainWindow" << "Minimise" << QString::fromUtf8("最小化");
        QTest::newRow("lock file unusable")
            << "main"
            << "The program cannot use its lock file %1 (%2). Please ask the administrator to remove the file, then "
               "start the program again."
            << QString::fromUtf8("程序无法使用锁文件 %1（%2）。请联系管理员删除该文件，然后重新运行程序。");
        QTest::newRow("same text, two contexts (window)")
            << "MainWindow"
            << "The maximum number of password retries has been reached and the data has been cleared.Please "
               "reconfigure the password and use it."
            << QString::fromUtf8("密码重试次数已达上限且数据已清除，请重新配置密码后使用它。");
    }

    void the_embedded_catalogue_translates_each_context()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, chinese);
        QCOMPARE(QCoreApplication::translate(qPrintable(context), qPrintable(source)), source);
        apptest::use_chinese(true);
        const QString translated = QCoreApplication::translate(qPrintable(context), qPrintable(source));
        apptest::use_chinese(false);
        QCOMPARE(translated, chinese);
    }
};

QObject *make_catalogue_test()
{
    return new CatalogueTest();
}

#include "catalogue_test.moc"
