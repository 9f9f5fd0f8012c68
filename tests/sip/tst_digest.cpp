// Digest responses follow RFC 2617: its worked example with qop "auth", and
// without qop credentials in Cyrillic hashed as UTF-8.

#include "sipdigest.h"

#include <QtTest>

class TstDigest : public QObject
{
    Q_OBJECT

private slots:
    void responses_data();
    void responses();
};

void TstDigest::responses_data()
{
    QTest::addColumn<QStringList>("input"); // method, user, password, realm, uri, nonce[, cnonce, nc, qop]
    QTest::addColumn<QString>("response");
    QTest::newRow("RFC 2617 3.5, qop auth")
        << QStringList{"GET", "Mufasa", "Circle Of Life", "testrealm@host.com", "/dir/index.html",
                       "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b", "00000001", "auth"}
        << "6629fae49393a05397450978507c4ef1";
    QTest::newRow("no qop, UTF-8 credentials")
        << QStringList{"REGISTER", QString::fromUtf8("Иван"), QString::fromUtf8("пароль"), "r", "sip:x", "n"}
        << "20e8451b8a1e4ac68ff55d786d635dff";
}

void TstDigest::responses()
{
    QFETCH(QStringList, input);
    QFETCH(QString, response);
    const QStringList &i = input;
    QCOMPARE(i.size() == 9 ? digestResponseAuth(i[0], i[1], i[2], i[3], i[4], i[5], i[6], i[7], i[8])
                           : digestResponse(i[0], i[1], i[2], i[3], i[4], i[5]),
             response);
}

QTEST_APPLESS_MAIN(TstDigest)
#include "tst_digest.moc"
