// User-agent figures: digest responses per second beside OpenSSL's MD5
// computing the same values; microseconds from an incoming INVITE datagram to
// its 100 and 180 datagrams (beside SIPp's built-in UAS answering 180); from
// sendSipMsg("invite") to the INVITE datagram; and the time from a dropped
// INVITE and from a dropped 200 OK to their retransmission (T1 = 500 ms),
// beside baresip's; from a key press to its first RFC 4733 event packet on
// the wire, and how long the event lasts there, beside baresip's key in a
// call with this bench. Loopback only.
#include "baresippeer.h"
#include "accountsettings.h"
#include "rtp.h"
#include "rtpheader.h"
#include "telephoneevent.h"
#include "networkenvironment.h"
#include "sip.h"
#include "sipdigest.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>
#include <QUdpSocket>

// The one-shot MD5() is the like-for-like peer of our routine; OpenSSL 3
// deprecates it in favour of EVP, whose per-call setup would skew the figure.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

quint16 freePort(const char *address)
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QString::fromLatin1(address)), 0);
    return probe.localPort();
}

// Whether /proc/net/udp lists a socket bound to this address (kernel hex) and port.
bool udpBound(const QString &hexAddress, quint16 port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = (hexAddress + QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper()).toLatin1();
    return table.readAll().contains(" " + wanted + " ");
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString hexMd5OpenSsl(const QByteArray &input)
{
    unsigned char digest[MD5_DIGEST_LENGTH];
    ::MD5(reinterpret_cast<const unsigned char *>(input.constData()), size_t(input.size()), digest);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), MD5_DIGEST_LENGTH).toHex());
}

QString digestOpenSsl(const QString &nonce, const QString &cnonce)
{
    const QString ha1 = hexMd5OpenSsl(QByteArrayLiteral("100:sorvanto.test:pw100"));
    const QString ha2 = hexMd5OpenSsl(QByteArrayLiteral("INVITE:sip:127.0.0.2"));
    return hexMd5OpenSsl((ha1 + ':' + nonce + ":00000001:" + cnonce + ":auth:" + ha2).toUtf8());
}

QString invite(const QString &callId, quint16 viaPort)
{
    return QStringLiteral("INVITE sip:100@127.0.0.1 SIP/2.0\r\n"
                          "Via: SIP/2.0/UDP 127.0.0.2:%2;rport;branch=z9hG4bK%1\r\n"
                          "From: \"Bench\" <sip:200@127.0.0.2>;tag=b%1\r\n"
                          "To: <sip:100@127.0.0.2>\r\n"
                          "Call-ID: %1\r\n"
                          "CSeq: 1 INVITE\r\n"
                          "Contact: <sip:200@127.0.0.2:%2>\r\n"
                          "Max-Forwards: 70\r\n"
                          "Content-Type: application/sdp\r\n"
                          "Content-Length: 100\r\n\r\n"
                          "v=0\r\no=- 1 1 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\n"
                          "m=audio 41000 RTP/AVP 8\r\n")
        .arg(callId).arg(viaPort);
}

// Waits, spinning the event loop, until `socket` holds `count` datagrams.
bool spinUntil(QUdpSocket &socket, int count, QList<QByteArray> &got, int ms = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(int(socket.pendingDatagramSize()), Qt::Uninitialized);
            socket.readDatagram(datagram.data(), datagram.size());
            got << datagram;
        }
    }
    return got.size() >= count;
}

QString header(const QByteArray &message, const char *name)
{
    const QList<QByteArray> lines = message.split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith(QByteArray(name) + ':'))
            return QString::fromUtf8(line.mid(int(qstrlen(name)) + 1).trimmed());
    return QString();
}

// Milliseconds from the first datagram starting with `prefix` of a call not
// in `calls` to the next one of that call (its retransmission); -1 when none
// came within `ms`. Earlier calls may still be retransmitting: skipped.
double retransmissionGap(QUdpSocket &socket, const QByteArray &prefix, QSet<QString> &calls, int ms = 3000)
{
    QElapsedTimer timer;
    timer.start();
    QString callId;
    qint64 first = 0;
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(int(socket.pendingDatagramSize()), Qt::Uninitialized);
            socket.readDatagram(datagram.data(), datagram.size());
            if (!datagram.startsWith(prefix))
                continue;
            if (callId.isEmpty() && !calls.contains(header(datagram, "Call-ID"))) {
                callId = header(datagram, "Call-ID");
                calls.insert(callId);
                first = timer.nsecsElapsed();
            } else if (header(datagram, "Call-ID") == callId) {
                return (timer.nsecsElapsed() - first) / 1e6;
            }
        }
    }
    return -1;
}

// One key on the wire: from the press to the first event packet, from that
// to the last end packet, and the duration the end packets state, in ms.
struct KeyOnWire { double delay = -1, wire = -1, stated = -1; };

// Presses a key with `press` and reads the event packets (payload type 101)
// arriving at `socket` until the third end packet or `ms`.
KeyOnWire keyOnWire(QUdpSocket &socket, const std::function<void()> &press, int ms = 1500)
{
    while (socket.hasPendingDatagrams())
        socket.readDatagram(nullptr, 0);
    KeyOnWire key;
    QElapsedTimer timer;
    timer.start();
    press();
    int ends = 0;
    while (ends < 3 && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        while (socket.hasPendingDatagrams()) {
            unsigned char datagram[1500];
            const qint64 got = socket.readDatagram(reinterpret_cast<char *>(datagram), sizeof datagram);
            const double now = timer.nsecsElapsed() / 1e6;
            RtpHeader h;
            TelephoneEventPayload e;
            if (got <= 0 || !h.parse(datagram, int(got)) || h.payloadType != 101
                || !e.decode(datagram + h.payloadOffset, h.payloadLength))
                continue;
            if (key.delay < 0)
                key.delay = now;
            if (e.end && ++ends)
                key.wire = now - key.delay, key.stated = e.duration / 8.0;
        }
    }
    return key;
}

// The median of the gaps that were seen, as text; "none" when nothing was sent again.
QString gapFigure(std::vector<double> gaps)
{
    gaps.erase(std::remove(gaps.begin(), gaps.end(), -1.0), gaps.end());
    return gaps.empty() ? QStringLiteral("none") : QString::number(median(gaps), 'f', 1);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    qInstallMessageHandler(quiet);

    const quint16 port = freePort("127.0.0.2");
    AccountSettings settings;
    settings.user = settings.login = QStringLiteral("100");
    settings.password = QStringLiteral("pw100");
    settings.domain = settings.sipServerIp = QStringLiteral("127.0.0.2");
    settings.sipServerPort = QString::number(port);
    settings.mediaIp = QStringLiteral("127.0.0.1");
    settings.transport = QStringLiteral("udp");
    NetworkEnvironment network(settings);
    network.sipServerAddr = settings.sipServerIp;
    Sip *sip = new Sip(settings, network);
    sip->initSession();

    std::printf("%-44s %14s %14s  %s\n", "figure", "Sorvanto", "peer", "unit");

    // Digest responses, qop auth variant (three MD5s and the hex texts).
    {
        const int rounds = 100000;
        QElapsedTimer timer;
        QString sink;
        timer.start();
        for (int i = 0; i < rounds; ++i)
            sink = digestResponseAuth("INVITE", "100", "pw100", "sorvanto.test", "sip:127.0.0.2", QString::number(i),
                                      "0a4f113b", "00000001", "auth");
        const double ours = rounds / (timer.nsecsElapsed() / 1e9);
        timer.restart();
        QString peerSink;
        for (int i = 0; i < rounds; ++i)
            peerSink = digestOpenSsl(QString::number(i), "0a4f113b");
        const double peer = rounds / (timer.nsecsElapsed() / 1e9);
        if (sink != peerSink)
            std::fprintf(stderr, "digest mismatch: %s vs %s\n", qPrintable(sink), qPrintable(peerSink));
        std::printf("%-44s %14.0f %14.0f  %s\n", "digest responses (qop auth) vs OpenSSL MD5", ours, peer,
                    "responses/s");

        QByteArray block(64, 'a');
        const int hashes = 500000;
        QByteArray out;
        timer.restart();
        for (int i = 0; i < hashes; ++i) {
            block[i % 64] = char('a' + i % 26);
            out = QCryptographicHash::hash(block, QCryptographicHash::Md5).toHex();
        }
        const double ourHash = hashes / (timer.nsecsElapsed() / 1e9);
        unsigned char digest[MD5_DIGEST_LENGTH];
        timer.restart();
        for (int i = 0; i < hashes; ++i) {
            block[i % 64] = char('a' + i % 26);
            ::MD5(reinterpret_cast<const unsigned char *>(block.constData()), 64, digest);
        }
        const double peerHash = hashes / (timer.nsecsElapsed() / 1e9);
        std::printf("%-44s %14.0f %14.0f  %s\n", "Qt MD5 of 64 bytes vs OpenSSL MD5", ourHash, peerHash, "hashes/s");
    }

    const int rounds = 200;
    QUdpSocket server;
    server.bind(QHostAddress(QStringLiteral("127.0.0.2")), port,
                QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);

    // Incoming INVITE to 100 and 180 on the wire.
    std::vector<double> provisional;
    for (int i = 0; i < rounds; ++i) {
        sip->dialog.callState = CallState::Idle;
        QList<QByteArray> got;
        QElapsedTimer timer;
        timer.start();
        server.writeDatagram(invite(QStringLiteral("bench%1").arg(i), port).toUtf8(),
                             QHostAddress(QStringLiteral("127.0.0.1")), port);
        if (spinUntil(server, 2, got))
            provisional.push_back(timer.nsecsElapsed() / 1000.0);
    }

    // The same against SIPp's built-in UAS: INVITE to its 180.
    std::vector<double> sippProvisional;
    {
        const quint16 sippPort = freePort("127.0.0.3");
        QProcess sipp;
        sipp.setProcessChannelMode(QProcess::MergedChannels);
        sipp.setStandardOutputFile(QDir::temp().filePath(QStringLiteral("bench_agent_sipp.log")));
        // SIPp's media takes four ports from -mp on; keep the control port clear.
        const quint16 mediaPort = sippPort >= 60000 ? sippPort - 20 : sippPort + 10;
        sipp.start(QStringLiteral("sipp"), {"-sn", "uas", "-i", "127.0.0.3", "-p", QString::number(sippPort),
                                             "-mp", QString::number(mediaPort), "-cp",
                                             QString::number(mediaPort + 6), "-nostdin", "-m",
                                             QString::number(rounds)});
        QUdpSocket client;
        client.bind(QHostAddress(QStringLiteral("127.0.0.4")), 0);
        bool up = false;
        for (int attempt = 0; attempt < 100 && !up && sipp.waitForStarted(5000); ++attempt) {
            up = udpBound(QStringLiteral("0300007F"), sippPort);
            if (!up)
                sipp.waitForFinished(50);
        }
        if (!up)
            std::fprintf(stderr, "SIPp did not start; see %s\n", qPrintable(QDir::temp().filePath(QStringLiteral("bench_agent_sipp.log"))));
        for (int i = 0; up && i < rounds; ++i) {
            const QString callId = QStringLiteral("sipp%1").arg(i);
            QString text = invite(callId, client.localPort());
            text.replace(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.4"));
            QElapsedTimer timer;
            timer.start();
            client.writeDatagram(text.toUtf8(), QHostAddress(QStringLiteral("127.0.0.3")), sippPort);
            QByteArray ringing;
            bool ok = false;
            while (client.waitForReadyRead(2000)) {
                QByteArray datagram(int(client.pendingDatagramSize()), Qt::Uninitialized);
                client.readDatagram(datagram.data(), datagram.size());
                if (datagram.startsWith("SIP/2.0 180")) {
                    sippProvisional.push_back(timer.nsecsElapsed() / 1000.0);
                } else if (datagram.startsWith("SIP/2.0 200")) {
                    ringing = datagram;
                    ok = true;
                    break;
                }
            }
            if (!ok)
                break;
            // Finish SIPp's call: ACK the 200, then BYE.
            const QString to = header(ringing, "To");
            const QString common = QStringLiteral("From: \"Bench\" <sip:200@127.0.0.4>;tag=b%1\r\nTo: %2\r\n"
                                                  "Call-ID: %1\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n")
                                       .arg(callId, to);
            client.writeDatagram(QStringLiteral("ACK sip:100@127.0.0.3:%1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.4:%2;"
                                                "branch=z9hG4bKack%3\r\nCSeq: 1 ACK\r\n")
                                         .arg(sippPort).arg(client.localPort()).arg(i).toUtf8()
                                     + common.toUtf8() + "\r\n",
                                 QHostAddress(QStringLiteral("127.0.0.3")), sippPort);
            client.writeDatagram(QStringLiteral("BYE sip:100@127.0.0.3:%1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.4:%2;"
                                                "branch=z9hG4bKbye%3\r\nCSeq: 2 BYE\r\n")
                                         .arg(sippPort).arg(client.localPort()).arg(i).toUtf8()
                                     + common.toUtf8() + "\r\n",
                                 QHostAddress(QStringLiteral("127.0.0.3")), sippPort);
            client.waitForReadyRead(2000);
            while (client.hasPendingDatagrams()) {
                QByteArray datagram(int(client.pendingDatagramSize()), Qt::Uninitialized);
                client.readDatagram(datagram.data(), datagram.size());
            }
        }
        sipp.terminate();
        if (!sipp.waitForFinished(3000))
            sipp.kill();
        sipp.waitForFinished(2000);
    }
    std::printf("%-44s %14.1f %14.1f  %s\n", "incoming INVITE to 100+180 (SIPp UAS: 180)", median(provisional),
                median(sippProvisional), "us (median)");

    // sendSipMsg("invite") to the INVITE datagram.
    std::vector<double> outgoing;
    sip->dialog.called = QStringLiteral("200");
    for (int i = 0; i < rounds; ++i) {
        sip->dialog.callState = CallState::Idle;
        QList<QByteArray> got;
        QElapsedTimer timer;
        timer.start();
        sip->sendSipMsg(QStringLiteral("invite"));
        if (spinUntil(server, 1, got))
            outgoing.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::printf("%-44s %14.1f %14s  %s\n", "sendSipMsg(\"invite\") to INVITE datagram", median(outgoing), "-",
                "us (median)");

    // Retransmissions: the bench's socket plays a server that drops the
    // INVITE or the 200 OK (it never answers or acknowledges it).
    std::vector<double> inviteGap, okGap, peerInviteGap, peerOkGap;
    QSet<QString> calls;
    for (int i = 0; i < 3; ++i) {
        sip->dialog.callState = CallState::Idle;
        sip->sendSipMsg(QStringLiteral("invite"));
        inviteGap.push_back(retransmissionGap(server, "INVITE ", calls));
        sip->dialog.callState = CallState::Idle;
        QList<QByteArray> got;
        server.writeDatagram(invite(QStringLiteral("drop200-%1").arg(i), port).toUtf8(),
                             QHostAddress(QStringLiteral("127.0.0.1")), port);
        spinUntil(server, 2, got);
        sip->sendSipMsg(QStringLiteral("answer"));
        okGap.push_back(retransmissionGap(server, "SIP/2.0 200", calls));
    }
    {
        // A socket of its own, away from the phone's retransmissions.
        const quint16 peerPort = freePort("127.0.0.2");
        QUdpSocket peerServer;
        peerServer.bind(QHostAddress(QStringLiteral("127.0.0.2")), peerPort);
        BaresipPeer baresip;
        const quint16 baresipPort = freePort("127.0.0.1");
        if (!baresip.start(QStringLiteral("200"), QStringLiteral("pw200"), 0, baresipPort, 440))
            std::fprintf(stderr, "baresip did not start: %s\n", qPrintable(baresip.errorString()));
        for (int i = 0; baresip.running() && i < 3; ++i) {
            baresip.command(QStringLiteral("/dial sip:100@127.0.0.2:%1").arg(peerPort));
            peerInviteGap.push_back(retransmissionGap(peerServer, "INVITE ", calls));
            baresip.command(QStringLiteral("/hangup"));
            QString text = invite(QStringLiteral("baresip200-%1").arg(i), peerPort);
            text.replace(QStringLiteral("INVITE sip:100@127.0.0.1"), QStringLiteral("INVITE sip:200@127.0.0.1:%1").arg(baresipPort));
            peerServer.writeDatagram(text.toUtf8(), QHostAddress(QStringLiteral("127.0.0.1")), baresipPort);
            peerOkGap.push_back(retransmissionGap(peerServer, "SIP/2.0 200", calls));
            baresip.command(QStringLiteral("/hangup"));
        }
    }
    std::printf("%-44s %14s %14s  %s\n", "dropped INVITE to retransmission (baresip)", qPrintable(gapFigure(inviteGap)),
                qPrintable(gapFigure(peerInviteGap)), "ms (median)");
    std::printf("%-44s %14s %14s  %s\n", "dropped 200 OK to retransmission (baresip)", qPrintable(gapFigure(okGap)),
                qPrintable(gapFigure(peerOkGap)), "ms (median)");

    // Keys as events. Ours: the RTP session fed a 20 ms frame every 20 ms, as
    // the capture does, the key pressed at a random point between frames.
    std::vector<double> keyDelay, keyWire, keyStated, peerDelay, peerWire, peerStated;
    {
        QUdpSocket sink;
        sink.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        Rtp rtp;
        rtp.localPort = freePort("127.0.0.1");
        rtp.setRemoteAddress(QStringLiteral("127.0.0.1"), QString::number(sink.localPort()));
        rtp.initSession();
        rtp.setTelephoneEvent(101);
        QTimer capture;
        capture.setTimerType(Qt::PreciseTimer);
        QObject::connect(&capture, &QTimer::timeout, [&] { rtp.txPcm.append(QByteArray(Rtp::frameBytes, '\0')), rtp.msgTransmiter(); });
        capture.start(20);
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer pause;
            pause.start();
            while (pause.elapsed() < 100 + (i * 7) % 20)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            const KeyOnWire k = keyOnWire(sink, [&] { rtp.sendKey(QLatin1Char('5')); });
            if (k.wire >= 0)
                keyDelay.push_back(k.delay), keyWire.push_back(k.wire), keyStated.push_back(k.stated);
        }
    }
    {
        // baresip in a call with this bench, which offers telephone-event;
        // a key and its release are one datagram to its console.
        QUdpSocket media, signalling;
        media.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        signalling.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        BaresipPeer baresip;
        const quint16 baresipPort = freePort("127.0.0.1");
        if (!baresip.start(QStringLiteral("200"), QStringLiteral("pw200"), 0, baresipPort, 440))
            std::fprintf(stderr, "baresip did not start: %s\n", qPrintable(baresip.errorString()));
        const QString sdp = QStringLiteral("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                           "m=audio %1 RTP/AVP 8 101\r\na=rtpmap:8 PCMA/8000\r\n"
                                           "a=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n").arg(media.localPort());
        const QString common = QStringLiteral("Via: SIP/2.0/UDP 127.0.0.2:%1;branch=z9hG4bKkey%3\r\n"
                                              "From: <sip:100@127.0.0.2>;tag=key\r\nCall-ID: keys@bench\r\n"
                                              "Contact: <sip:100@127.0.0.2:%1>\r\nMax-Forwards: 70\r\n")
                                   .arg(signalling.localPort());
        const QString target = QStringLiteral("sip:200@127.0.0.1:%1").arg(baresipPort);
        signalling.writeDatagram(QStringLiteral("INVITE %1 SIP/2.0\r\n").arg(target).toUtf8()
                                     + common.arg(1).toUtf8() + "To: <" + target.toUtf8() + ">\r\nCSeq: 1 INVITE\r\n"
                                     + "Content-Type: application/sdp\r\nContent-Length: " + QByteArray::number(sdp.size())
                                     + "\r\n\r\n" + sdp.toUtf8(),
                                 QHostAddress(QStringLiteral("127.0.0.1")), baresipPort);
        QList<QByteArray> got;
        QString to;
        for (int i = 0; baresip.running() && to.isEmpty() && i < 10; ++i) {
            got.clear();
            if (spinUntil(signalling, 1, got) && got.first().startsWith("SIP/2.0 200"))
                to = header(got.first(), "To");
        }
        if (!to.isEmpty()) {
            signalling.writeDatagram(QStringLiteral("ACK %1 SIP/2.0\r\n").arg(target).toUtf8() + common.arg(2).toUtf8()
                                         + "To: " + to.toUtf8() + "\r\nCSeq: 1 ACK\r\nContent-Length: 0\r\n\r\n",
                                     QHostAddress(QStringLiteral("127.0.0.1")), baresipPort);
            for (int i = 0; i < 20; ++i) {
                QElapsedTimer pause;
                pause.start();
                while (pause.elapsed() < 100 + (i * 7) % 20)
                    QCoreApplication::processEvents(QEventLoop::AllEvents);
                const KeyOnWire k = keyOnWire(media, [&] { baresip.key(QLatin1Char('5')); });
                if (k.wire >= 0)
                    peerDelay.push_back(k.delay), peerWire.push_back(k.wire), peerStated.push_back(k.stated);
            }
            signalling.writeDatagram(QStringLiteral("BYE %1 SIP/2.0\r\n").arg(target).toUtf8() + common.arg(3).toUtf8()
                                         + "To: " + to.toUtf8() + "\r\nCSeq: 2 BYE\r\nContent-Length: 0\r\n\r\n",
                                     QHostAddress(QStringLiteral("127.0.0.1")), baresipPort);
        } else {
            std::fprintf(stderr, "baresip did not answer the bench's call\n");
        }
    }
    std::printf("%-44s %14.1f %14.1f  %s\n", "key press to first event packet (baresip)", median(keyDelay),
                median(peerDelay), "ms (median)");
    std::printf("%-44s %14.1f %14.1f  %s\n", "event on the wire, first to last end packet", median(keyWire),
                median(peerWire), "ms (median)");
    std::printf("%-44s %14.1f %14.1f  %s\n", "event duration the end packets state", median(keyStated),
                median(peerStated), "ms (median)");

    std::printf("samples: %zu incoming, %zu SIPp, %zu outgoing, %zu/%zu keys\n", provisional.size(), sippProvisional.size(),
                outgoing.size(), keyDelay.size(), peerDelay.size());
    delete sip;
    return 0;
}
