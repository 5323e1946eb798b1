// The rule a new password must follow.
#include <QTest>

#include "setpassword.h"

class PasswordRuleTest : public QObject {
    Q_OBJECT

private slots:
    void rule_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("eight, letters and digits") << "abcd1234" << true;
        QTest::newRow("sixteen") << "Abcdefgh12345678" << true;
        QTest::newRow("digit first, one letter") << "1234567a" << true;
        QTest::newRow("upper-case letter") << "1234567Z" << true;
        QTest::newRow("a blank is a character") << "abc 1234" << true;
        QTest::newRow("punctuation is a character") << "a1!@#$%^" << true;
        QTest::newRow("eight letters") << "abcdefgh" << false;
        QTest::newRow("eight digits") << "12345678" << false;
        QTest::newRow("seven") << "abc1234" << false;
        QTest::newRow("seventeen") << "abcdefgh123456789" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("non-ASCII letters do not count") << QString::fromUtf8("密码密码1234") << false;
        QTest::newRow("non-ASCII digits do not count") << QString::fromUtf8("abcdefg\u0661") << false;
        QTest::newRow("a line break is not a character") << "abcd\n1234" << false;
    }

    void rule()
    {
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        QCOMPARE(IsMatchRegX(password), accepted);
    }
};

QObject *make_password_rule_test()
{
    return new PasswordRuleTest();
}

#include "password_rule_test.moc"
