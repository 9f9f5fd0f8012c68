// MD5 follows RFC 1321 (its test suite, UTF-8 input, 32 lower-case digits) and
// the digest responses follow RFC 2617, its worked example included.

#include "capturingparser.h"
#include "md5.h"
#include "sipparser.h"
#include "testmain.h"

#include <QCryptographicHash>
#include <cstring>
#include <QtTest>

class TstDigest : public QObject
{
    Q_OBJECT

private slots:
    void md5_data();
    void md5();
    void responses();
};

void TstDigest::md5_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("empty") << QByteArray("") << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("80 digits")
        << QByteArray("12345678901234567890123456789012345678901234567890123456789012345678901234567890")
        << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
    QTest::newRow("stops at the first zero byte") << QByteArray("abc\0def", 7)
                                                  << QByteArray("900150983cd24fb0d6963f7d28e17f72");
}

void TstDigest::md5()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, digest);
    char output[40];
    std::memset(output, 'x', sizeof output);
    MD5(QByteArray(input).append('\0').data(), output);
    QCOMPARE(QByteArray(output), digest);
    // Lengths around the 56- and 64-byte padding boundaries are where MD5
    // implementations go wrong.
    for (int length = 0; length <= 300; ++length) {
        QByteArray text(length, 'a');
        for (int i = 0; i < length; ++i)
            text[i] = char('a' + (i * 7 + length) % 26);
        MD5(QByteArray(text).append('\0').data(), output);
        QCOMPARE(QByteArray(output), QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
    }
}

// RFC 2617 section 3.5; non-ASCII credentials are hashed as UTF-8.
void TstDigest::responses()
{
    CapturingParser parser;
    QCOMPARE(parser.sipAuthenticateResponseAuth("GET", "Mufasa", "Circle Of Life", "testrealm@host.com",
                                                "/dir/index.html", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b",
                                                "00000001", "auth"),
             QString("6629fae49393a05397450978507c4ef1"));
    QCOMPARE(parser.sipAuthenticateResponse("REGISTER", QString::fromUtf8("Иван"), QString::fromUtf8("пароль"), "r",
                                            "sip:x", "n"),
             QString("20e8451b8a1e4ac68ff55d786d635dff"));
}

SORVANTO_TEST_MAIN(TstDigest)
#include "tst_digest.moc"
