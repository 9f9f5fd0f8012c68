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
#include <QtTest>

#include <atomic>
#include <complex>
#include <thread>

#include <arpa/inet.h>
#include <pthread.h>
#include <unistd.h>

class TstMedia : public QObject
{
    Q_OBJECT

    QString reply(const QString &request, const QString &status, quint16 rtpPort = 0)
    {
        const QString sdp = rtpPort ? QString("v=0\r\no=far 1 1 IN IP4 127.0.0.1\r\ns=far\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                              "m=audio %1 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n").arg(rtpPort) : QString();
        QStringList lines{"SIP/2.0 " + status, QString("Contact: <sip:200@127.0.0.2:%1>").arg(port),
                          "Content-Type: application/sdp", "Content-Length: " + QString::number(sdp.size())};
        for (const QString &l : request.section("\r\n\r\n", 0, 0).split("\r\n").filter(QRegularExpression("^(Via|From|Call-ID|CSeq|To):")))
            lines.insert(1, l + (l.startsWith("To:") && !l.contains("tag=") ? ";tag=far" : ""));
        server.send(lines.join("\r\n") + "\r\n\r\n" + sdp);
        return request;
    }
    // Dials 200 on the keyboard and answers the INVITE with `status` and an SDP naming `far`.
    bool call(const QString &status, RtpPeer &far)
    {
        mark = phone.logSize();
        invite.clear(), bye.clear(), speaker.stop();
        return far.start() && speaker.record("spk.monitor") && phone.keys(phone.mainWindow(), {"2", "0", "0"}) && phone.click(phone.mainWindow(), 160, 611)
            && QTest::qWaitFor([&] { return !invite.isEmpty(); }, 10000) && !reply(invite, status, far.port()).isEmpty();
    }
    bool hangUp()
    {
        return phone.click(phone.findWindow(QString::fromUtf8("Исходящий"), 5000), 148, 190)
            && QTest::qWaitFor([&] { return !bye.isEmpty(); }, 10000);
    }
    // Sends each packet at its time (ms from now) to the phone's RTP port from a
    // thread that sleeps to each time, in real time where the system allows
    // it: on a loaded machine an event loop falls 100 ms behind now and then.
    // Returns how far (ms) it fell behind at worst.
    double stream(const QMap<double, QByteArray> &schedule)
    {
        double behind = 0;
        std::atomic_bool done{false};
        std::thread sender([&] {
            const sched_param realTime{1};
            pthread_setschedparam(pthread_self(), SCHED_RR, &realTime);
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET, to.sin_port = htons(mediaPort), to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            timespec start, now;
            clock_gettime(CLOCK_MONOTONIC, &start);
            for (auto it = schedule.cbegin(); it != schedule.cend(); ++it) {
                const qint64 ns = start.tv_nsec + qint64(it.key() * 1e6);
                const timespec due{start.tv_sec + time_t(ns / 1000000000), long(ns % 1000000000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
                clock_gettime(CLOCK_MONOTONIC, &now);
                behind = qMax(behind, (now.tv_sec - due.tv_sec) * 1e3 + (now.tv_nsec - due.tv_nsec) / 1e6);
                ::sendto(fd, it.value().constData(), size_t(it.value().size()), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            }
            ::close(fd);
            done = true;
        });
        while (!done)
            QTest::qWait(20);
        sender.join();
        return behind;
    }

    XvfbServer xvfb;
    SipTestServer server;
    PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
    quint16 port = SipTestServer::freePort(), mediaPort = SipTestServer::freePort();
    qint64 mark = 0;
    PulseStream speaker; // from the call on
    QString invite, bye;

private slots:
    void initTestCase()
    {
        QVERIFY2(PulseStream::unavailable().isEmpty(), qPrintable(PulseStream::unavailable()));
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorString()));
        connect(&server, &SipTestServer::datagramReceived, this, [this] {
            const QString t = server.last();
            if (t.startsWith("INVITE "))
                invite = t;
            else if (t.startsWith("REGISTER ") || (t.startsWith("BYE ") && !(bye = t).isEmpty()))
                reply(t, "200 OK");
        });
        QVERIFY2(server.listen(QHostAddress("127.0.0.2"), port) && phone.seed({{"sipServerIp", "127.0.0.2"}, {"sipServerPort", QString::number(port)}, {"user", "100"},
                            {"login", "100"}, {"password", "pw"}, {"domain", "127.0.0.2"}, {"STUN", ""}, {"useLog", "true"},
                            {"mediaIp", "127.0.0.1"}, {"mediaPort", QString::number(mediaPort)}}) && phone.start(xvfb.display()),
                 qPrintable(phone.errorString()));
    }

    void jitterReorderLoss()
    {
        // 1025 Hz: unlike 1000 Hz, each 20 ms packet starts at another phase, so order can be heard.
        QRandomGenerator random(1025);
        QVector<double> due(300);
        int lost = 0;
        for (int i = 0; i < due.size(); ++i) // 0-60 ms late, 5 % swapped with the one before
            if ((due[i] = 20.0 * i + random.bounded(60.0)) > 0 && i && random.bounded(100) < 5)
                std::swap(due[i - 1], due[i]);
        QMap<double, QByteArray> schedule;
        for (int i = 0; i < due.size(); ++i) // 5 % lost, never the first or the last three
            if (!(i > 0 && i < due.size() - 3 && random.bounded(100) < 5 && ++lost))
                schedule.insert(due[i], RtpPeer::packet(8, Tone::sine(1025, 0.3, 160, 8000, 160 * i), quint16(i), quint32(160 * i)));
        RtpPeer far;
        QVERIFY(call("200 OK", far) && QTest::qWaitFor([&] { return !far.packets.isEmpty(); }, 5000));
        const double behind = stream(schedule);
        QTest::qWait(300);
        const QVector<double> heard = Tone::samples(speaker.take());
        QVERIFY(hangUp());

        // In 10 ms windows: the tone's amplitude and phase against a steady clock.
        QVector<std::complex<double>> w(heard.size() / 80);
        for (int n = 0; n < 80 * w.size(); ++n)
            w[n / 80] += heard[n] * std::polar(2.0 / 80, -2 * M_PI * 1025 * n / 8000);
        int first = 0, last = w.size() - 1, quiet = 0, gap = 0, jumps = 0;
        while (first < last && (std::abs(w[first]) < 0.2 || std::abs(w[last]) < 0.2))
            std::abs(w[first]) < 0.2 ? ++first : --last;
        for (int i = first + 1; i <= last; ++i) {
            gap = qMax(gap, quiet = std::abs(w[i]) < 0.03 ? quiet + 1 : 0);
            jumps += std::abs(w[i]) > 0.25 && std::abs(w[i - 1]) > 0.25 && std::abs(std::arg(w[i] / w[i - 1])) > M_PI / 4;
        }
        QVERIFY2(last - first > 500 && gap <= 6 && jumps == 0,
                 qPrintable(QString("%1 ms of tone, a gap of %2 ms, %3 out of order; the sender %4 ms behind at worst")
                                .arg(10 * (last - first)).arg(10 * gap).arg(jumps).arg(behind)));
        // What the far end did; a packet or two may come after its turn. |D| of uniform 0-60 ms delays averages 20 ms.
        const QRegularExpression figures(QString("received %1, lost %2, late [0-3], duplicated 0, jitter mean (1[4-9]|2[0-6])\\.").arg(schedule.size()).arg(lost));
        QVERIFY2(phone.waitForLog("RTP call figures", 5000, mark) && phone.log(mark).contains(figures),
                 qPrintable(QString("sent %1, lost %2; ").arg(schedule.size()).arg(lost) + phone.log(mark).section("RTP call figures", 1).section('\n', 0, 0)));
    }

    void dtmfDuringCall()
    {
        RtpPeer far;
        QVERIFY(call("200 OK", far) && QTest::qWaitFor([&] { return !far.packets.isEmpty(); }, 5000));
        QVERIFY(phone.keys(phone.mainWindow(), {"1", "5", "9", "0", "asterisk", "numbersign"}));
        const auto heard = [&] { return Tone::dtmf(RtpPeer::decode(far.packets, 8)); };
        QVERIFY2(QTest::qWaitFor([&] { return heard() == "1590*#"; }, 5000), qPrintable(heard()));
        QVERIFY(hangUp());
        QVERIFY2(bye.startsWith("BYE sip:200@") && bye.contains(QRegularExpression("\r\nTo: [^\r]*sip:200@")), qPrintable(bye));
    }

    void earlyMedia()
    {
        RtpPeer announcer, answer;
        QVERIFY(answer.start() && call("183 Session Progress", announcer));
        QMap<double, QByteArray> schedule;
        for (int i = 0; i < 75; ++i)
            schedule.insert(20.0 * i, RtpPeer::packet(8, Tone::sine(700, 0.3, 160, 8000, 160 * i), quint16(i), quint32(160 * i)));
        stream(schedule);
        const QByteArray heard = speaker.take().right(8000);
        QVERIFY2(qRound(Tone::dominant(heard) / 10) * 10 == 700 && Tone::level(heard, 425) < 0.01,
                 qPrintable(QString("%1 Hz is loudest, not the 700 Hz announcement").arg(Tone::dominant(heard))));
        // The answer's SDP moves the far end: the phone's voice goes there.
        reply(invite, "200 OK", answer.port());
        QVERIFY(QTest::qWaitFor([&] { return answer.packets.size() > 5; }, 5000) && hangUp());
    }
};

SORVANTO_TEST_MAIN(TstMedia)
#include "tst_media.moc"
