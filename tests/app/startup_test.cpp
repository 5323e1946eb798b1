// Start-up inputs: the drive letter of the command line and the splash
// picture for the screen.
#include <QPixmap>
#include <QTest>

#include "startup.h"

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void the_drive_letter_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("handed_over");
        QTest::addColumn<QString>("drive");
        QTest::newRow("one argument E") << QStringList({"zvsecurity", "E"}) << true << "E";
        QTest::newRow("its first character") << QStringList({"zvsecurity", "F:"}) << true << "F";
        QTest::newRow("none") << QStringList({"zvsecurity"}) << false << "";
        QTest::newRow("two arguments") << QStringList({"zvsecurity", "E", "F"}) << false << "";
    }

    void the_drive_letter()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, handed_over);
        QFETCH(QString, drive);
        std::vector<QByteArray> storage;
        std::vector<char *> argv;
        for (const QString &a : arguments)
            storage.push_back(a.toUtf8());
        for (QByteArray &b : storage)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        char letter = 0;
        QCOMPARE(drive_argument(int(arguments.size()), argv.data(), &letter), handed_over);
        QCOMPARE(handed_over ? QString(QChar(letter)) : QString(), drive);
    }

    void the_splash_fits_the_window_size_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("splash");
        // 960 x 546 into 951 x 535: the height decides, 960 x 535 / 546
        QTest::newRow("1920 x 1080") << QSize(1920, 1080) << QSize(940, 535);
        // into 713 x 535: the width decides, 546 x 713 / 960
        QTest::newRow("1024 x 768") << QSize(1024, 768) << QSize(713, 405);
    }

    void the_splash_fits_the_window_size()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, splash);
        const QPixmap welcome(QStringLiteral(":/image/image/welcome.png"));
        QCOMPARE(welcome.size(), QSize(960, 546));
        QCOMPARE(splash_picture(welcome, screen).size(), splash);
    }
};

QObject *make_startup_test()
{
    return new StartupTest();
}

#include "startup_test.moc"
