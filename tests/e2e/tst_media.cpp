// The real phone's voice path under Xvfb and the PulseAudio null devices,
// calling 200 at a scripted server whose RTP far end is this test: a tone
// through jitter, reordering and loss plays whole and in order and the logged
// figures say what happened; keys typed in the call reach the far end as
// DTMF and the BYE still goes to 200; a 183's early media is heard.

#include "phoneprocess.h"
#include "pulsestream.h"
#include "rtppeer.h"
#include "siptestserver.h"
#include "testmain.h"
#include "tone.h"
#include "xvfbserver.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <complex>

class TstMedia : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void jitterReorderLoss();
    void dtmfDuringCall();
    void earlyMedia();

private:
    QString reply(const QString &request, const QString &status, quint16 rtpPort = 0)
    {
        const QString head = request.section("\r\n\r\n", 0, 0), sdp = QString("v=0\r\no=far 1 1 IN IP4 127.0.0.1\r\ns=far\r\n"
            "c=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio %1 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n").arg(rtpPort);
        QStringList lines{"SIP/2.0 " + status};
        for (const QString &l : head.split("\r\n"))
            if (QRegularExpression("^(Via|From|Call-ID|CSeq|To):", QRegularExpression::CaseInsensitiveOption).match(l).hasMatch())
                lines << l + (l.startsWith("To:", Qt::CaseInsensitive) && !l.contains("tag=") ? ";tag=far" : "");
        lines << QString("Contact: <sip:200@127.0.0.2:%1>").arg(port) << "Content-Type: application/sdp";
        lines << "Content-Length: " + QString::number(rtpPort ? sdp.size() : 0);
        server.send(lines.join("\r\n") + "\r\n\r\n" + (rtpPort ? sdp : QString()));
        return request;
    }
    QString waitRequest(const QString &method)
    {
        QString found;
        const bool arrived = QTest::qWaitFor([&] {
            for (const QString &t : server.texts())
                if (t.startsWith(method + ' ') && !handled.contains(t))
                    found = t;
            return !found.isEmpty();
        }, 10000);
        handled << found;
        return arrived ? found : QString();
    }
    // Dials 200 on the keyboard and answers its INVITE with `status` and our SDP.
    QString call(const QString &status, quint16 rtpPort)
    {
        mark = phone.logSize();
        phone.keys(phone.mainWindow(), {"2", "0", "0"});
        phone.click(phone.mainWindow(), 160, 611);
        return reply(waitRequest("INVITE"), status, rtpPort);
    }
    QString hangUp()
    {
        phone.click(phone.findWindow(QString::fromUtf8("Исходящий"), 5000), 148, 190);
        return reply(waitRequest("BYE"), "200 OK");
    }
    // Sends each packet at its time (ms from now) to the phone's RTP port.
    void stream(RtpPeer &peer, const QMap<double, QByteArray> &schedule)
    {
        QElapsedTimer clock;
        clock.start();
        for (auto it = schedule.cbegin(); it != schedule.cend(); ++it) {
            while (clock.nsecsElapsed() / 1e6 < it.key())
                QTest::qWait(1);
            peer.send(it.value(), mediaPort);
        }
    }

    XvfbServer xvfb;
    SipTestServer server;
    PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
    quint16 port = 0, mediaPort = 0;
    qint64 mark = 0;
    QStringList handled;
};

void TstMedia::initTestCase()
{
    QVERIFY2(PulseStream::unavailable().isEmpty(), qPrintable(PulseStream::unavailable()));
    QVERIFY2(xvfb.start(), qPrintable(xvfb.errorString()));
    port = SipTestServer::freePort();
    mediaPort = SipTestServer::freePort();
    QVERIFY(server.listen(QHostAddress("127.0.0.2"), port));
    connect(&server, &SipTestServer::datagramReceived, this, [this] {
        if (server.last().startsWith("REGISTER"))
            reply(server.last(), "200 OK");
    });
    QVERIFY2(phone.seed({{"sipServerIp", "127.0.0.2"}, {"sipServerPort", QString::number(port)}, {"user", "100"},
                        {"login", "100"}, {"password", "pw"}, {"domain", "127.0.0.2"}, {"STUN", ""}, {"useLog", "true"},
                        {"mediaIp", "127.0.0.1"}, {"mediaPort", QString::number(mediaPort)}}) && phone.start(xvfb.display()),
             qPrintable(phone.errorString()));
}

void TstMedia::jitterReorderLoss()
{
    // 1025 Hz: unlike 1000 Hz, each 20 ms packet starts at another phase, so order can be heard.
    RtpPeer far;
    QVERIFY(far.start());
    call("200 OK", far.port());
    QVERIFY(QTest::qWaitFor([&] { return !far.packets.isEmpty(); }, 5000));
    QRandomGenerator random(1025);
    QVector<double> due(300);
    int lost = 0;
    for (int i = 0; i < due.size(); ++i)
        due[i] = 20.0 * i + random.bounded(60.0);
    for (int i = 0; i + 1 < due.size(); ++i)
        if (random.bounded(100) < 5)
            std::swap(due[i], due[i + 1]);
    QMap<double, QByteArray> schedule;
    for (int i = 0; i < due.size(); ++i) {
        if (i > 0 && i < due.size() - 3 && random.bounded(100) < 5 && ++lost)
            continue;
        schedule.insert(due[i], RtpPeer::packet(8, Tone::sine(1025, 0.3, 160, 8000, 160 * i), quint16(i), quint32(160 * i)));
    }
    PulseStream speaker;
    QVERIFY(speaker.record("spk.monitor"));
    stream(far, schedule);
    QTest::qWait(300);
    const QVector<double> heard = Tone::samples(speaker.take());
    hangUp();

    // In 10 ms windows: the tone's amplitude and phase against a steady clock.
    QVector<std::complex<double>> windows;
    for (int w = 0; w + 80 <= heard.size(); w += 80) {
        std::complex<double> sum;
        for (int n = w; n < w + 80; ++n)
            sum += heard[n] * std::polar(2.0 / 80, -2 * M_PI * 1025 * n / 8000);
        windows << sum;
    }
    int first = 0, last = windows.size() - 1, quiet = 0, longestQuiet = 0, jumps = 0;
    while (first < last && std::abs(windows[first]) < 0.2)
        ++first;
    while (last > first && std::abs(windows[last]) < 0.2)
        --last;
    for (int w = first; w <= last; ++w) {
        quiet = std::abs(windows[w]) < 0.03 ? quiet + 1 : 0;
        longestQuiet = qMax(longestQuiet, quiet);
        if (w > first && std::abs(windows[w]) > 0.25 && std::abs(windows[w - 1]) > 0.25)
            jumps += std::abs(std::arg(windows[w] / windows[w - 1])) > M_PI / 4;
    }
    QVERIFY2(last - first > 500, qPrintable(QString("only %1 ms of tone").arg(10 * (last - first))));
    QVERIFY2(longestQuiet <= 6, qPrintable(QString("a gap of %1 ms").arg(10 * longestQuiet)));
    QVERIFY2(jumps == 0, qPrintable(QString("%1 packets heard out of order").arg(jumps)));

    QVERIFY(phone.waitForLog("RTP call figures", 5000, mark));
    const QRegularExpressionMatch m = QRegularExpression("received (\\d+), lost (\\d+), late (\\d+), duplicated (\\d+), "
        "jitter mean ([\\d.]+) ms").match(phone.log(mark));
    QVERIFY2(m.hasMatch(), qPrintable(phone.log(mark).right(2000)));
    QCOMPARE(m.captured(1).toInt(), schedule.size());
    QCOMPARE(m.captured(2).toInt(), lost);
    QVERIFY2(m.captured(3).toInt() <= 3, qPrintable(m.captured(0)));
    QCOMPARE(m.captured(4).toInt(), 0);
    // uniform 0-60 ms delays: |D| averages 20 ms (RFC 3550 A.8)
    QVERIFY2(qAbs(m.captured(5).toDouble() - 20) < 7, qPrintable(m.captured(0)));
}

void TstMedia::dtmfDuringCall()
{
    RtpPeer far;
    QVERIFY(far.start());
    call("200 OK", far.port());
    QVERIFY(QTest::qWaitFor([&] { return !far.packets.isEmpty(); }, 5000));
    QVERIFY(phone.keys(phone.mainWindow(), {"1", "5", "9", "0", "asterisk", "numbersign"}));
    const int until = far.packets.size() + 75; // 6 keys of 160 ms, and some
    QVERIFY(QTest::qWaitFor([&] { return far.packets.size() >= until; }, 5000));
    QCOMPARE(Tone::dtmf(RtpPeer::decode(far.packets, 8)), QStringLiteral("1590*#"));
    const QString bye = hangUp();
    QVERIFY2(bye.startsWith("BYE sip:200@") && bye.contains(QRegularExpression("\r\nTo: [^\r]*sip:200@")), qPrintable(bye));
}

void TstMedia::earlyMedia()
{
    RtpPeer announcer, answer;
    QVERIFY(announcer.start() && answer.start());
    const QString invite = call("183 Session Progress", announcer.port());
    PulseStream speaker;
    QVERIFY(speaker.record("spk.monitor"));
    QMap<double, QByteArray> schedule;
    for (int i = 0; i < 75; ++i)
        schedule.insert(20.0 * i, RtpPeer::packet(8, Tone::sine(700, 0.3, 160, 8000, 160 * i), quint16(i), quint32(160 * i)));
    stream(announcer, schedule);
    const QByteArray heard = speaker.take().right(8000);
    QCOMPARE(qRound(Tone::dominant(heard) / 10) * 10, 700);
    QVERIFY2(Tone::level(heard, 425) < 0.01, "the local ringback plays over the early media");
    // The answer's SDP moves the far end: the phone's voice goes there.
    reply(invite, "200 OK", answer.port());
    QVERIFY(QTest::qWaitFor([&] { return answer.packets.size() > 5; }, 5000));
    hangUp();
}

SORVANTO_TEST_MAIN(TstMedia)
#include "tst_media.moc"
