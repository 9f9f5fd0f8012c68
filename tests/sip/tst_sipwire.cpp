// The SIP wire, its cases tables in tests/data/sip: datagrams parsed or refused and why; byte streams framed and
// carried over TCP; typed header fields, URIs, built text and RFC 2617 Digest; the session description written,
// read and answered; RFC 4028 session timers negotiated and scheduled. SRTP keying: SDES lines as read and
// written, and the crypto of a call's offer and answer under each "Шифров. медиа" choice: what is offered (fresh
// keys), which line is taken, what is refused with 488, what ends the call, what goes clear.

#include "capturingparser.h"
#include "fixturetable.h"
#include "sdescrypto.h"
#include "sdpcrypto.h"
#include "sdpsession.h"
#include "sessiontimer.h"
#include "sipcontactheader.h"
#include "sipcseqheader.h"
#include "sipdigest.h"
#include "sipheaderfactory.h"
#include "sipchallengeheader.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "sipsessionexpiresheader.h"
#include "sipstreamframer.h"
#include "sipuri.h"
#include "sipviaheader.h"
#include "tcpsiptransport.h"

#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

namespace {
QString formats(const SdpSession &s)
{
    QStringList out;
    for (const SdpFormat &f : s.formats)
        out << QStringLiteral("%1 %2/%3%4%5").arg(f.payloadType).arg(f.encoding).arg(f.clockRate)
                   .arg(f.channels > 1 ? "/" + QString::number(f.channels) : QString())
                   .arg(f.fmtp.isEmpty() ? QString() : " " + f.fmtp);
    return "[" + out.join(',') + "]";
}

QString describe(const SdpSession &s)
{
    return QStringLiteral("%1:%2 %3 %4 ptime=%5 recv=%6 send=%7 crypto=%8")
        .arg(s.address()).arg(s.mediaPort).arg(formats(s), sdpDirectionName(s.direction)).arg(s.ptime)
        .arg(s.wantsToReceive()).arg(s.wantsToSend()).arg(s.attributes("crypto").join(';'));
}
const QByteArray registerMsg = "REGISTER sip:sip.test SIP/2.0\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
const QByteArray inviteMsg = "INVITE sip:100@sip.test SIP/2.0\r\nl:  5\r\n\r\nv=0\r\n";
const QByteArray start = "INVITE sip:100@sip.test SIP/2.0\r\n";
const QByteArray okMsg = "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
// Every typed field of a header by its name, so that one table covers all classes.
QMap<QString, QString> fieldsOf(SipHeader *h)
{
    const int type = h->headerType;
    if (type == SipHeader::Via) {
        auto *v = static_cast<SipViaHeader *>(h);
        return {{"protocol", v->protocol}, {"host", v->host}, {"port", v->port}, {"rport", v->rport},
                {"received", v->received}, {"branch", v->branch}};
    }
    if (type == SipHeader::From || type == SipHeader::To || type == SipHeader::Contact || type == SipHeader::RecordRoute) {
        auto *a = static_cast<SipAddressHeader *>(h);
        QMap<QString, QString> f{{"name", a->name}, {"scheme", a->scheme}, {"num", a->num}, {"addr", a->addr},
                                 {"addrIp", a->addrIp}, {"addrPort", a->addrPort}, {"tag", a->tag}};
        if (type == SipHeader::Contact)
            f.insert({{"expires", static_cast<SipContactHeader *>(h)->expires}, {"vireg", static_cast<SipContactHeader *>(h)->vireg}});
        return f;
    }
    if (type == SipHeader::Cseq)
        return {{"number", static_cast<SipCseqHeader *>(h)->number}, {"cseqMethod", static_cast<SipCseqHeader *>(h)->cseqMethod}};
    if (type == SipHeader::SessionExpires)
        return {{"deltaSeconds", static_cast<SipSessionExpiresHeader *>(h)->deltaSeconds},
                {"refresher", static_cast<SipSessionExpiresHeader *>(h)->refresher}};
    if (type != SipHeader::WwwAuthenticate && type != SipHeader::ProxyAuthenticate)
        return {};
    auto *c = static_cast<SipChallengeHeader *>(h);
    return {{"realm", c->realm}, {"nonce", c->nonce}, {"qop", c->qop}, {"opaque", c->opaque}, {"algorithm", c->algorithm}};
}

// What a delivered message holds, by name; any other name is a header's value ("Via#2": the second).
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

const QString key80 = "1 AES_CM_128_HMAC_SHA1_80 inline:gv7xS14xO3GIjB1Z7rMTlIQh63qXhc0mSPLWRfd1";
const QString key32 = "2 AES_CM_128_HMAC_SHA1_32 inline:fpnsoYjYSafCFfAJo5+J/ID0OH9yn5cLIXi+LLKS";
const QString off = "Отключено", required = "SRTP", optional = "SRTP, если возможно"; // "Шифров. медиа"
} // namespace

class TstSipWire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }

    // Which datagrams become a delivered message and what it holds, and what the others came to and why: start
    // lines, header values, folding, the body rule, the bounds on line length and header count, one message per
    // datagram; a processSip that throws leaves the parser as it found it.
    void datagrams_data() { fixtureRows("sip/datagrams.txt"); }
    void datagrams()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        CapturingParser parser;
        parser.throwOnDelivery = true;
        parser.feed(text);
        parser.throwOnDelivery = false;
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

    // Typed header fields as the user agent reads them (the factory's class choice included), the SIP URI's
    // acceptance rules, the byte-exact text of built messages. (Headers changed and deleted in an ACK built from
    // its INVITE: tst_processing statusTable.)
    void typedFields_data() { fixtureRows("sip/headers.txt"); }
    void typedFields()
    {
        QFETCH(QString, value);
        std::unique_ptr<SipHeader> header(SipHeaderFactory(nullptr).factory(cell("name"), value));
        const QMap<QString, QString> fields = fieldsOf(header.get());
        for (const QString &pair : cell("expected").split('|')) // a field the class lacks never matches
            QCOMPARE(pair.section('=', 0, 0) + "=" + fields.value(pair.section('=', 0, 0), "(no field)"), pair);
        QCOMPARE(header->headerValue, value.trimmed());
    }

    void uri_data() { fixtureRows("sip/uris.txt"); }
    void uri()
    {
        SipUri uri(nullptr); // a URI refused reads as no parts
        QCOMPARE(uri.parse(cell("text")) ? QStringList({uri.scheme, uri.user, uri.password, uri.host, uri.port, uri.uriParams,
                                                        uri.uriHeaders, uri.toString()}).join('|') : QString(), cell("parts"));
    }

    // Headers added in order to a 180 response; "@From=port,tag" (and Contact, Via) use the address
    // builders for user 100 at 10.0.0.1.
    void serialisation_data() { fixtureRows("sip/built.txt"); }
    void serialisation()
    {
        CapturingParser parser;
        SipResponse response(&parser);
        response.statusCode = "180";
        response.reasonPhrase = "Ringing";
        for (const QString &h : cell("headers").split('|')) {
            const QString name = h.section('=', 0, 0), value = h.section('=', 1), port = value.section(',', 0, 0), tag = value.section(',', 1);
            if (name == "@From")
                response.addFrom("100", "10.0.0.1", port, tag);
            else if (name == "@Contact")
                response.addContact("100", "10.0.0.1", port, tag);
            else if (name == "@Via")
                response.addVia("10.0.0.1", port, tag);
            else
                response.addHeader(name, value);
        }
        QTEST(response.toString(), "wire");
    }

    // Digest responses: RFC 2617's worked example with qop "auth"; without qop, Cyrillic credentials hashed as UTF-8.
    void digest_data() { fixtureRows("sip/digest.txt"); }
    void digest()
    {
        const QStringList i = cell("input").split(" , ");
        QTEST(i.size() == 9 ? digestResponseAuth(i[0], i[1], i[2], i[3], i[4], i[5], i[6], i[7], i[8])
                            : digestResponse(i[0], i[1], i[2], i[3], i[4], i[5]),
              "response");
    }

    // A SIP byte stream becomes the same messages whole or byte by byte (every split point); pings are counted and
    // pongs skipped; a missing or bad Content-Length, an endless line or header section and an oversized body
    // break it.
    void streams_data()
    {
        // The stream; how many of the REGISTER and then the INVITE come out of it; the pings; what the error names.
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("messages");
        QTest::addColumn<int>("pings");
        QTest::addColumn<QString>("error");
        QTest::newRow("ping between messages") << registerMsg + "\r\n\r\n" + inviteMsg << 2 << 1 << "";
        QTest::newRow("two pings") << QByteArray("\r\n\r\n\r\n\r\n") << 0 << 2 << "";
        QTest::newRow("pongs skipped") << "\r\n" + registerMsg + "\r\n" + inviteMsg << 2 << 0 << "";
        QTest::newRow("body still coming") << registerMsg + inviteMsg.chopped(1) << 1 << 0 << "";
        QTest::newRow("no Content-Length") << registerMsg + start + "CSeq: 2 INVITE\r\n\r\n" << 1 << 0 << "Content-Length";
        QTest::newRow("Content-Length not a number") << start + "Content-Length: 5x\r\n\r\nhello" << 0 << 0 << "Content-Length";
        QTest::newRow("two Content-Lengths disagree") << start + "l: 1\r\nContent-Length: 2\r\n\r\nab" << 0 << 0 << "Content-Length";
        QTest::newRow("endless line") << start + QByteArray(sipMaxLineLength + 1, 'a') << 0 << 0 << "line";
        QTest::newRow("endless header lines") << start + QByteArray("X: y\r\n").repeated(sipMaxHeaders + 1) << 0 << 0 << "header lines";
        QTest::newRow("endless header section") << start + (QByteArray(999, 'h') + "\r\n").repeated(66) << 0 << 0 << "header section";
        QTest::newRow("oversized body") << start + "Content-Length: 65536\r\n\r\n" << 0 << 0 << "body";
        QTest::newRow("nothing after a broken message") << start + "\r\n" + registerMsg << 0 << 0 << "Content-Length";
    }

    // Fed whole and byte by byte; what is held never exceeds the bounds.
    void streams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, messages);
        QFETCH(QString, error);
        for (const int step : {stream.size(), 1}) {
            SipStreamFramer framer;
            QList<QByteArray> got;
            int pinged = 0;
            for (int at = 0; at < stream.size(); at += step) {
                framer.feed(stream.mid(at, step));
                got += framer.takeMessages();
                pinged += framer.takePings();
                QVERIFY(framer.buffered() <= SipStreamFramer::maxHeaderBytes + SipStreamFramer::maxBodyBytes);
            }
            QCOMPARE(got, (QList<QByteArray>{registerMsg, inviteMsg}.mid(0, messages)));
            QTEST(pinged, "pings");
            QVERIFY2(framer.failed() == !error.isEmpty() && framer.error().contains(error), qPrintable(framer.error()));
        }
    }

    // Over TCP: a message out, two messages and a ping in one segment (the ping answered with a pong), and a framing
    // error closes the connection, which comes back after the delay. (TLS, its refusals and its wire: tst_phone.)
    void tcp()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TcpSipTransport transport;
        transport.setReconnectDelay(200);
        transport.setServer("sip.test", QHostAddress::LocalHost, server.serverPort());
        QSignalSpy messages(&transport, &SipTransport::messageReceived), pings(&transport, &TcpSipTransport::pingReceived),
            errors(&transport, &SipTransport::transportError);
        transport.sendMessage(registerMsg);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QByteArray received;
        QTRY_COMPARE(received += peer->readAll(), registerMsg);
        QVERIFY(transport.localPort() != 0);
        peer->write(okMsg + "\r\n\r\n" + okMsg);
        QTRY_COMPARE(messages.count(), 2);
        QCOMPARE(messages.at(1).at(0).toByteArray() + QByteArray::number(pings.count()), okMsg + "1");
        QTRY_COMPARE(received += peer->readAll(), registerMsg + "\r\n");
        // No Content-Length on a stream: the connection goes, and comes back by itself.
        peer->write("SIP/2.0 200 OK\r\nCSeq: 2 REGISTER\r\n\r\n");
        QTRY_COMPARE(errors.count(), 1);
        QVERIFY2(errors.at(0).at(0).toString().contains("Content-Length"), qPrintable(errors.at(0).at(0).toString()));
        QCOMPARE(messages.count(), 2);
        QTRY_VERIFY(server.hasPendingConnections());
    }

    // The session description: the exact text written (RFC 4566 order, s=-, telephone-event, refused streams),
    // what is read from far ends' bodies (each way of holding, static types, garbage, bounds), and the answer.
    void sdpWritten_data() { fixtureRows("sip/sdp-written.txt"); }
    void sdpWritten()
    {
        QTEST(SdpSession::fromText(cell("input")).toText(), "written");
    }

    void sdpRead_data() { fixtureRows("sip/sdpsession.txt"); }
    void sdpRead()
    {
        QTEST(describe(SdpSession::fromText(cell("body"))), "read");
    }

    void sdpAnswer_data() { fixtureRows("sip/sdpanswer.txt"); }
    void sdpAnswer()
    {
        SdpFormats ours;
        for (const QString &name : cell("enabled").split(','))
            ours << (name == "opus" ? SdpFormat{111, name, 48000, 2, QString()} : SdpFormat{96, name, 8000, 1, QString()});
        const SdpSession a = SdpSession::answer(SdpSession::fromText(cell("offer")), ours);
        QTEST(formats(a) + " " + sdpDirectionName(a.direction) + " " + a.otherMedia.join(',') + "@"
                  + QString::number(a.audioIndex), "answer");
    }

    // A random session id per call (our offer's text, the version one up in each description: tst_processing wireText).
    void sdpOrigin()
    {
        const SdpOrigin first = SdpOrigin::newSession("10.0.0.1"), second = SdpOrigin::newSession("10.0.0.1");
        QVERIFY(first.sessionId != second.sessionId && first.sessionId > 0 && first.sessionId < (1u << 30));
    }

    // Session timers: what an INVITE's Session-Expires is answered with, what a 2xx settles, and when the session
    // is refreshed and when it ends in ms. (A running session's refreshes, answered and not: tst_processing sessionTimer.)
    void timerNegotiated_data() { fixtureRows("sip/session-timer.txt"); }
    void timerNegotiated()
    {
        const SessionTimer::Outcome o = cell("side") == "uas" ? SessionTimer::answerRequest(cell("sessionExpires"), cell("supported") == "1")
                                                              : SessionTimer::fromAnswer(cell("sessionExpires"));
        QString text = QString::number(o.status);
        if (o.status == 422)
            text += " Min-SE " + QString::number(o.minSe);
        else if (o.interval == 0)
            text += " 0";
        else
            text += " " + SessionTimer::sessionExpiresText(o) + (SessionTimer::requireTimer(o) ? " Require" : "")
                + (o.weRefresh ? " us" : "")
                + QString(" %1/%2").arg(SessionTimer::refreshMs(o.interval)).arg(SessionTimer::expiryMs(o.interval));
        QTEST(text, "outcome");
    }

    // After a 422 the interval asked is its Min-SE, never below 90.
    void timerRetry()
    {
        QCOMPARE(QStringList({QString::number(SessionTimer::retryInterval("300", 90)), QString::number(SessionTimer::retryInterval(" 120 ", 1800)),
                              QString::number(SessionTimer::retryInterval("x", 60))}).join(' '), QString("300 1800 90"));
    }

    void sdes_data() { fixtureRows("media/sdes.txt"); }
    void sdes()
    {
        QFETCH(QString, value);
        SdesCrypto crypto;
        // The tag, the suite's name and the 30-byte key written back as read.
        QCOMPARE(SdesCrypto::parse(value, &crypto) ? crypto.toString() : "refused", cell("taken") == "yes" ? value.section('|', 0, 0) : "refused");
    }

    void offerAnswer_data()
    {
        // The setting; who offers; the far end's profile and crypto lines ("80", "32" by the tag we offered them with,
        // "f8": a suite we lack, "tag7": a tag we never offered, "mismatch": our tag 1 with another suite); the outcome.
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("offerer");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("crypto");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("off, keys offered in AVP: ignored") << off << "far" << "RTP/AVP" << "80" << "clear";
        QTest::newRow("off, SAVP offered") << off << "far" << "RTP/SAVP" << "80" << "488";
        QTest::newRow("off, our offer answered with keys") << off << "we" << "RTP/AVP" << "80" << "clear";
        QTest::newRow("required, SAVP offer") << required << "far" << "RTP/SAVP" << "80" << "srtp 80";
        QTest::newRow("required, keys in AVP, short tag") << required << "far" << "RTP/AVP" << "32" << "srtp 32";
        QTest::newRow("required, offer without a=crypto") << required << "far" << "RTP/AVP" << "" << "488";
        QTest::newRow("required, only a suite we lack") << required << "far" << "RTP/SAVP" << "f8" << "488";
        QTest::newRow("required, the first line we support") << required << "far" << "RTP/SAVP" << "f8,32,80" << "srtp 32";
        QTest::newRow("required, answered") << required << "we" << "RTP/SAVP" << "80" << "srtp 80";
        QTest::newRow("required, answered with the short tag") << required << "we" << "RTP/SAVP" << "32" << "srtp 32";
        QTest::newRow("required, answer without a=crypto") << required << "we" << "RTP/AVP" << "" << "end";
        QTest::newRow("required, answer with a tag never offered") << required << "we" << "RTP/SAVP" << "tag7" << "end";
        QTest::newRow("required, answer with another suite under our tag") << required << "we" << "RTP/SAVP" << "mismatch" << "end";
        QTest::newRow("optional, clear offer") << optional << "far" << "RTP/AVP" << "" << "clear";
        QTest::newRow("optional, keys offered") << optional << "far" << "RTP/AVP" << "80" << "srtp 80";
        QTest::newRow("optional, SAVP with a suite we lack") << optional << "far" << "RTP/SAVP" << "f8" << "488";
        QTest::newRow("optional, answered clear") << optional << "we" << "RTP/AVP" << "" << "clear";
        QTest::newRow("optional, answered with keys") << optional << "we" << "RTP/AVP" << "80" << "srtp 80";
        QTest::newRow("optional, SAVP answer without keys") << optional << "we" << "RTP/SAVP" << "" << "end";
    }

    void offerAnswer()
    {
        QFETCH(QString, setting);
        QFETCH(QString, offerer);
        QFETCH(QString, profile);
        SdpCrypto call(mediaEncryption(setting));
        SdpSession far = SdpSession::offer(SdpOrigin::newSession("127.0.0.2"), 4000, {});
        far.mediaProtocol = profile;
        const QMap<QString, QString> line{{"80", key80}, {"32", key32}, {"f8", "1 F8_128_HMAC_SHA1_80 inline:" + key80.section(':', 1)},
                                          {"tag7", "7" + key80.mid(1)}, {"mismatch", "1" + key32.mid(1)}};
        QStringList farLines;
        for (const QString &name : cell("crypto").split(',', Qt::SkipEmptyParts))
            far.addAttribute("crypto", (farLines << line[name]).last());
        bool taken;
        if (offerer == "we") {
            // Required SRTP offers SAVP, the other choices AVP; keys unless it is off, fresh for each offer.
            SdpSession offer = SdpSession::offer(SdpOrigin::newSession("127.0.0.1"), 5000, {}), earlier = offer;
            call.addToOffer(earlier), call.addToOffer(offer);
            const QStringList lines = offer.attributes("crypto");
            const QString suites = setting == off ? "" : " 1 AES_CM_128_HMAC_SHA1_80 k 2 AES_CM_128_HMAC_SHA1_32 k";
            QCOMPARE(QString(offer.mediaProtocol + ' ' + lines.join(' ')).replace(QRegularExpression("inline:\\S+"), "k").trimmed(),
                     (setting == required ? "RTP/SAVP" : "RTP/AVP") + suites);
            const QStringList keys = QStringList(lines + earlier.attributes("crypto")).replaceInStrings(QRegularExpression(".*inline:"), "");
            QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), 2 * lines.size());
            taken = call.takeAnswer(far);
            // The offerer keeps the key it offered under the answer's tag.
            QVERIFY(!call.active() || lines.contains(call.ours().toString()));
        } else {
            SdpSession answer = SdpSession::answer(far, {});
            taken = call.answerOffer(far, answer);
            // The answer mirrors the offer's profile and carries our own key under the offer's tag.
            QCOMPARE(answer.attributes("crypto"), call.active() ? QStringList{call.ours().toString()} : QStringList());
            QCOMPARE(answer.mediaProtocol, profile);
        }
        QTEST(!taken ? (offerer == "we" ? "end" : "488") : call.active() ? "srtp " + SdesCrypto::suiteName(call.ours().suite).right(2) : "clear", "outcome");
        QVERIFY(!call.active() || (farLines.contains(call.theirs().toString()) && call.ours().suite == call.theirs().suite
                                   && call.ours().keySalt != call.theirs().keySalt && call.ours().keySalt.size() == SdesCrypto::keySaltLength));
    }
};

QTEST_GUILESS_MAIN(TstSipWire)
#include "tst_sipwire.moc"
