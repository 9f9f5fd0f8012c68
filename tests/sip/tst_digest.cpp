// Digest responses follow RFC 2617: its worked example with qop "auth", and
// without qop credentials in Cyrillic hashed as UTF-8 (tests/data/sip/digest.txt).

#include "fixturetable.h"
#include "sipdigest.h"

#include <QtTest>

class TstDigest : public QObject
{
    Q_OBJECT

private slots:
    void responses_data() { fixtureRows("sip/digest.txt"); }
    void responses()
    {
        QFETCH(QString, input);
        const QStringList i = input.split(" , ");
        QTEST(i.size() == 9 ? digestResponseAuth(i[0], i[1], i[2], i[3], i[4], i[5], i[6], i[7], i[8])
                            : digestResponse(i[0], i[1], i[2], i[3], i[4], i[5]),
              "response");
    }
};

QTEST_APPLESS_MAIN(TstDigest)
#include "tst_digest.moc"
