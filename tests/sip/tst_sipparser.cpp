// Which datagrams become a delivered message and what it holds, and what the others came to and why: start
// lines, header values, folding, the body rule, the bounds on line length and header count, one message per
// datagram, and a processSip that throws. The datagrams are in tests/data/sip/datagrams.txt.

#include "capturingparser.h"
#include "fixturetable.h"
#include "sipheader.h"
#include "sippacket.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "sipuri.h"

#include <QLoggingCategory>
#include <QtTest>

namespace {
QString fact(SipPacket *m, const QString &name)
{
    SipHeader *content = m->getHeader("Content");
    const QString wire = m->packetType == PacketRequest ? static_cast<SipRequest *>(m)->toString()
                                            : static_cast<SipResponse *>(m)->toString();
    const QMap<QString, QString> facts{
        {"type", QString::number(m->packetType)}, {"version", m->version}, {"method", m->method},
        {"status", m->statusCode}, {"reason", m->reasonPhrase}, {"headers", QString::number(m->headers.size())},
        {"uri", m->requestUri ? m->requestUri->toString() : QString()},
        {"body", !content ? "none" : content->headerType == SipHeader::Content ? content->headerValue : "not a body"},
        {"wire", wire == m->rawText ? "same" : wire}};
    return facts.value(name, m->getHeaderString(name.section('#', 0, 0), qMax(1, name.section('#', 1).toInt())));
}
} // namespace

class TstSipParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void datagrams_data() { fixtureRows("sip/datagrams.txt"); }
    void datagrams()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        CapturingParser parser;
        const int delivered = parser.feed(text);
        const SipParseResult::Status status = parser.result.status;
        QCOMPARE(delivered, int(status == SipParseResult::Status::Complete));
        if (!delivered) { // what it came to, and why
            QCOMPARE((QString(status == SipParseResult::Status::Malformed ? "malformed " : "incomplete ") + parser.result.reason).trimmed(), expected);
            return;
        }
        SipPacket *m = parser.packets.first();
        QCOMPARE(m->rawText + m->serverIp + ":" + m->serverPort, text + "127.0.0.1:5060");
        for (const QString &pair : expected.split('|'))
            QCOMPARE(pair.section('=', 0, 0) + "=" + fact(m, pair.section('=', 0, 0)), pair);
    }

    void failingProcessing()
    {
        const QString ok = "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\n\r\n";
        CapturingParser parser;
        parser.throwOnDelivery = true;
        QCOMPARE(parser.feed(ok), 1);
        // the parser is still usable and starts afresh
        QCOMPARE(parser.feed(ok), 1);
        QCOMPARE(parser.packets.first()->getHeaderString("CSeq", 1), QString("1 REGISTER"));
    }
};

QTEST_GUILESS_MAIN(TstSipParser)
#include "tst_sipparser.moc"
