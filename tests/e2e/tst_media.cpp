// The real phone's voice path under Xvfb and the PulseAudio null devices,
// calling 200 at a scripted server whose RTP far end is this test: a tone
// through jitter, reordering and loss plays whole and in order and the logged
// figures say what happened; a 183's early media is heard, the answer moves
// the media and the codec; a re-INVITE moves the codec; with a
// speaker-to-microphone echo path the far end's voice does not come back, and
// the near end talking over it loses at most 6 dB.

#include "agentfixture.h"
#include "audiocodec.h"
#include "phoneprocess.h"
#include "pulsestream.h"
#include "rtppeer.h"
#include "testmain.h"
#include "tone.h"
#include "xvfbserver.h"

#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <complex>
#include <memory>
#include <numeric>
#include <thread>

#include <pthread.h>

class TstMedia : public QObject
{
    Q_OBJECT

    // Answers `request`; with an RTP port, its SDP names that port and the format the far end answers with.
    bool reply(const QString &request, const QString &status, quint16 rtpPort = 0, const QString &format = "8 PCMA/8000")
    {
        return server.send(AgentFixture::responseTo(request, status, {QString("Contact: <sip:200@127.0.0.2:%1>").arg(port)},
                                                    rtpPort ? AgentFixture::sdp("127.0.0.1", rtpPort, format) : QString()));
    }
    // Dials 200 on the keyboard and answers the INVITE with `status` and an SDP naming `far` and `format`;
    // the speaker is recorded at `hearAt` Hz.
    bool call(const QString &status, RtpPeer &far, const QString &format = "8 PCMA/8000", int hearAt = 8000)
    {
        mark = phone.logSize();
        invite.clear();
        bye.clear();
        speaker.stop();
        return far.start() && speaker.record("spk.monitor", hearAt) && phone.keys(phone.mainWindow(), {"2", "0", "0"}) && phone.click(phone.mainWindow(), 160, 611)
            && QTest::qWaitFor([&] { return !invite.isEmpty(); }, 10000) && reply(invite, status, far.port(), format);
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
        const std::unique_ptr<QThread> sender(QThread::create([&] {
            const sched_param realTime{1};
            pthread_setschedparam(pthread_self(), SCHED_RR, &realTime);
            QUdpSocket out;
            const auto start = std::chrono::steady_clock::now();
            for (auto it = schedule.cbegin(); it != schedule.cend(); ++it) {
                const auto due = start + std::chrono::microseconds(qint64(it.key() * 1000));
                std::this_thread::sleep_until(due);
                behind = qMax(behind, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - due).count());
                out.writeDatagram(it.value(), QHostAddress(QHostAddress::LocalHost), mediaPort);
            }
        }));
        sender->start();
        while (!sender->isFinished())
            QTest::qWait(20);
        return behind;
    }

    // A laptop's echo path on the null devices: the speaker's monitor looped
    // into the microphone after `delayMs`, and a weaker second reflection
    // 60 ms later. Unloaded when it goes, whatever the test's outcome.
    struct EchoPath
    {
        QStringList modules;
        bool load(int delayMs)
        {
            for (const int d : {delayMs, delayMs + 60}) {
                QString index;
                if (!PeerProcess::runTool("pactl", {"load-module", "module-loopback", "source=spk.monitor", "sink=mic",
                                                    QString("latency_msec=%1").arg(d), "source_dont_move=true", "sink_dont_move=true"}, &index))
                    return false;
                modules << index.trimmed();
            }
            // The second reflection's input, found by its owner module, at a third of the level.
            QString inputs;
            PeerProcess::runTool("pactl", {"list", "sink-inputs"}, &inputs);
            for (const QString &block : inputs.split("Sink Input #"))
                if (block.contains(QRegularExpression("Owner Module: " + modules.last() + "\\s")))
                    return PeerProcess::runTool("pactl", {"set-sink-input-volume", block.section('\n', 0, 0).trimmed(), "33%"});
            return false;
        }
        ~EchoPath()
        {
            for (const QString &m : modules)
                PeerProcess::runTool("pactl", {"unload-module", m});
        }
    };
    template <class Samples> static double rms(const Samples &pcm, int from, int to)
    {
        return std::sqrt(std::inner_product(pcm.begin() + from, pcm.begin() + to, pcm.begin() + from, 0.0) / qMax(1, to - from));
    }

    XvfbServer xvfb;
    SipTestServer server;
    PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
    quint16 port = SipTestServer::freePort(), mediaPort = SipTestServer::freePort();
    qint64 mark = 0;
    PulseStream speaker; // from the call on
    QString invite, bye, reanswer;
    bool cancelling = true;   // the phone's echo canceller switch

private slots:
    void initTestCase()
    {
        QVERIFY2(PulseStream::unavailable().isEmpty(), qPrintable(PulseStream::unavailable()));
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorString()));
        connect(&server, &SipTestServer::datagramReceived, this, [this] {
            const QString t = server.last();
            if (t.startsWith("INVITE "))
                invite = t;
            else if (t.startsWith("SIP/2.0 200") && AgentFixture::header(t, "CSeq").endsWith(" INVITE"))
                reanswer = t;
            else if (t.startsWith("REGISTER ") || (t.startsWith("BYE ") && !(bye = t).isEmpty()))
                reply(t, "200 OK");
        });
        QVERIFY2(server.listen(QHostAddress("127.0.0.2"), port) && phone.seed({{"sipServerIp", "127.0.0.2"}, {"sipServerPort", QString::number(port)}, {"user", "100"},
                            {"login", "100"}, {"password", "pw"}, {"domain", "127.0.0.2"}, {"STUN", ""}, {"useLog", "true"},
                            {"mediaIp", "127.0.0.1"}, {"mediaPort", QString::number(mediaPort)}, {"codecG722", "true"}, {"codecOpus", "true"}}) && phone.start(xvfb.display()),
                 qPrintable(phone.errorString()));
    }

    // A case that failed mid-call leaves no call behind for the next.
    void cleanup()
    {
        if (!phone.findWindow(QString::fromUtf8("Исходящий"), 200).isEmpty())
            hangUp();
    }

    void jitterReorderLoss_data()
    {
        QTest::addColumn<int>("offered"); // the format answered, of those the phone offers
        QTest::newRow("G.711 A-law") << 2;
        QTest::newRow("G.722") << 0;
        QTest::newRow("Opus") << 1;
    }
    void jitterReorderLoss()
    {
        QFETCH(int, offered);
        const SdpFormat f = AudioCodec::supported().at(offered);
        const QString format = QString("%1 %2/%3").arg(f.payloadType).arg(f.encoding).arg(f.clockRate) + (f.channels > 1 ? "/2" : "");
        const std::unique_ptr<AudioCodec> codec = AudioCodec::create(f);
        const int rate = codec->sampleRate(), ticks = codec->frameTicks();
        const auto packet = [&](int i) {
            return RtpPeer::packet(f.payloadType, QByteArray(), quint16(i), quint32(ticks * i))
                + codec->encode(reinterpret_cast<const qint16 *>(Tone::sine(1025, 0.3, rate / 50, rate, rate / 50 * i).constData()));
        };
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
                schedule.insert(due[i], packet(i));
        RtpPeer far;
        QVERIFY(call("200 OK", far, format) && QTest::qWaitFor([&] { return !far.packets.isEmpty(); }, 5000));
        QVERIFY2((far.packets.first().at(1) & 0x7F) == f.payloadType, "the phone sends the answer's format");
        const double behind = stream(schedule);
        QTest::qWait(300);
        const QVector<double> heard = Tone::samples(speaker.take());
        QVERIFY(hangUp());

        // In 10 ms windows: the tone's amplitude and phase against a steady clock.
        QVector<std::complex<double>> w(heard.size() / 80);
        for (int n = 0; n < 80 * w.size(); ++n)
            w[n / 80] += heard[n] * std::polar(2.0 / 80, -2 * M_PI * 1025 * n / 8000);
        // A packet played in another's place starts half a cycle off (1025 Hz: 20.5 cycles in 20 ms), a jump of
        // 180 degrees; where a gap was covered the tone may drift a little, so a quarter cycle is the limit.
        int first = 0, last = w.size() - 1, quiet = 0, gap = 0, jumps = 0;
        double largest = 0;
        while (first < last && (std::abs(w[first]) < 0.2 || std::abs(w[last]) < 0.2))
            std::abs(w[first]) < 0.2 ? ++first : --last;
        for (int i = first + 1; i <= last; ++i) {
            gap = qMax(gap, quiet = std::abs(w[i]) < 0.03 ? quiet + 1 : 0);
            const double step = std::abs(w[i]) > 0.25 && std::abs(w[i - 1]) > 0.25 ? std::abs(std::arg(w[i] / w[i - 1])) : 0;
            jumps += step > M_PI / 2, largest = qMax(largest, step);
        }
        QVERIFY2(phone.waitForLog("RTP call figures", 5000, mark) && last - first > 500 && gap <= 6 && jumps == 0,
                 qPrintable(QString("%1 ms of tone, a gap of %2 ms, %3 out of order (largest step %5 degrees); the sender %4 ms behind at worst; ")
                                .arg(10 * (last - first)).arg(10 * gap).arg(jumps).arg(behind).arg(qRound(largest * 180 / M_PI))
                            + phone.log(mark).section("RTP call figures", 1).section('\n', 0, 0)));
        // What the far end did; a packet or two may come after its turn, more where the codec rebuilds a frame at once. |D| of uniform 0-60 ms delays averages 20 ms.
        const QRegularExpression figures(QString("received %1, lost %2, late [0-%3], duplicated 0, jitter mean (1[4-9]|2[0-6])\\.").arg(schedule.size()).arg(lost).arg(codec->hasConcealment() ? 9 : 3));
        QVERIFY2(phone.log(mark).contains(figures),
                 qPrintable(QString("sent %1, lost %2; ").arg(schedule.size()).arg(lost) + phone.log(mark).section("RTP call figures", 1).section('\n', 0, 0)));
    }

    void earlyMedia()
    {
        RtpPeer announcer, answerer;
        QVERIFY(answerer.start() && call("183 Session Progress", announcer));
        QMap<double, QByteArray> schedule;
        for (int i = 0; i < 75; ++i)
            schedule.insert(20.0 * i, RtpPeer::packet(8, Tone::sine(700, 0.3, 160, 8000, 160 * i), quint16(i), quint32(160 * i)));
        stream(schedule);
        const QByteArray heard = speaker.take().right(8000);
        QVERIFY2(qRound(Tone::dominant(heard) / 10) * 10 == 700 && Tone::level(heard, 425) < 0.01,
                 qPrintable(QString("%1 Hz is loudest, not the 700 Hz announcement").arg(Tone::dominant(heard))));
        // The answer's SDP moves the far end, and with G.722 the codec: the phone's voice goes there, coded so.
        QVERIFY(reply(invite, "200 OK", answerer.port(), "9 G722/8000") && QTest::qWaitFor([&] { return answerer.packets.size() > 5; }, 5000));
        QVERIFY2((answerer.packets.last().at(1) & 0x7F) == 9, "the phone goes on in the early media's codec");
        QVERIFY(hangUp());
    }

    // The far end moves the call to another codec with a re-INVITE (a PBX handing it to another endpoint):
    // the phone answers with it and both directions take it at once, the devices at its rate. The tone it
    // sends after (6 kHz over G.722 could not pass G.711) is heard, the phone's packets carry the new
    // payload type, and the call's figures count the packets of both codecs.
    void codecMovedMidCall_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("hertz");
        QTest::newRow("G.711 to G.722") << "8 PCMA/8000" << "9 G722/8000" << 6000;
        QTest::newRow("G.722 to G.711") << "9 G722/8000" << "0 PCMU/8000" << 1000;
    }
    void codecMovedMidCall()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(int, hertz);
        const auto coded = [](const QString &format) {
            return SdpFormat{format.section(' ', 0, 0).toInt(), format.section(' ', 1).section('/', 0, 0), 8000, 1, QString()};
        };
        const SdpFormat from = coded(before), to = coded(after);
        std::unique_ptr<AudioCodec> fromCodec = AudioCodec::create(from), toCodec = AudioCodec::create(to);
        QMap<double, QByteArray> first, second;
        for (int i = 0; i < 150; ++i) {   // 1 s in the first codec, then 2 s in the second, numbered on
            AudioCodec &c = i < 50 ? *fromCodec : *toCodec;
            const int rate = c.sampleRate(), n = rate / 50;
            const QByteArray pcm = Tone::sine(i < 50 ? 700 : hertz, 0.3, n, rate, qint64(n) * i);
            (i < 50 ? first : second)
                .insert(20.0 * (i % 50 + (i < 50 ? 0 : 50 * (i / 50 - 1))),
                        RtpPeer::packet(c.format().payloadType, QByteArray(), quint16(i), quint32(160 * i))
                            + c.encode(reinterpret_cast<const qint16 *>(pcm.constData())));
        }
        RtpPeer far;
        QVERIFY(call("200 OK", far, before, 16000) && QTest::qWaitFor([&] { return far.packets.size() > 5; }, 5000));
        stream(first);

        // The re-INVITE, from the far end of the dialog to the phone's Contact, offering the second codec alone.
        reanswer.clear();
        const QString contact = AgentFixture::header(invite, "Contact").section('<', 1).section('>', 0, 0);
        const QString sdp = AgentFixture::sdp("127.0.0.1", far.port(), after);
        const QString branch = "z9hG4bKmove" + QString::number(qHash(AgentFixture::header(invite, "Call-ID")));   // one per call
        const QStringList dialog = {"From: " + AgentFixture::header(invite, "To") + ";tag=calleetag",
                                    "To: " + AgentFixture::header(invite, "From"), "Call-ID: " + AgentFixture::header(invite, "Call-ID")};
        QVERIFY(server.send(AgentFixture::message(QStringList{"INVITE " + contact + " SIP/2.0", QString("Via: SIP/2.0/UDP 127.0.0.2:%1;branch=%2").arg(port).arg(branch)}
                                                      + dialog + QStringList{"CSeq: 1 INVITE", QString("Contact: <sip:200@127.0.0.2:%1>").arg(port),
                                                                             "Content-Type: application/sdp", "Content-Length: " + QString::number(sdp.size())},
                                                  sdp)));
        QVERIFY2(QTest::qWaitFor([&] { return !reanswer.isEmpty(); }, 5000), "the re-INVITE was not answered 200");
        QVERIFY2(reanswer.contains(QRegularExpression("m=audio \\d+ RTP/AVP " + QString::number(to.payloadType) + "[ \r]")),
                 qPrintable("the answer does not take the offered codec first: " + reanswer.section("\r\n\r\n", 1)));
        const int answeredAt = far.packets.size();
        QVERIFY(server.send(AgentFixture::message(QStringList{"ACK " + contact + " SIP/2.0", QString("Via: SIP/2.0/UDP 127.0.0.2:%1;branch=%2ack").arg(port).arg(branch)}
                                                  + dialog + QStringList{"CSeq: 1 ACK", "Content-Length: 0"})));
        const QByteArray beforeMove = speaker.take().right(2 * 8000);   // the last half second before, at 16 kHz
        stream(second);
        QTest::qWait(300);
        const QByteArray heard = speaker.take();
        QVERIFY(hangUp());

        // What the phone sent after its answer: the old codec for a packet or two in flight, then only the new.
        int firstNew = -1, oldAfter = 0;
        for (int i = answeredAt; i < far.packets.size(); ++i) {
            const int type = far.packets[i].at(1) & 0x7F;
            if (type == to.payloadType && firstNew < 0)
                firstNew = i;
            oldAfter += firstNew >= 0 && type != to.payloadType;
        }
        QVERIFY2(firstNew >= 0 && firstNew - answeredAt <= 3 && oldAfter == 0 && far.packets.size() - firstNew > 50,
                 qPrintable(QString("%1 packets after the answer, the new payload type %2, %3 of another after it")
                                .arg(far.packets.size() - answeredAt)
                                .arg(firstNew < 0 ? QString("in none") : QString("from the %1th").arg(firstNew - answeredAt + 1))
                                .arg(oldAfter)));
        // The speaker 100 ms at a time, at 16 kHz: the loudest tone in each window where a tone played out.
        // A second of each tone proves the move. A stall of the phone on a loaded machine drops what came
        // late, so the gap it leaves may stand anywhere, the last second too.
        const auto windows = [](const QByteArray &pcm, int hertz, QStringList &loudest) {
            int held = 0;
            for (int at = 0; at + 3200 <= pcm.size(); at += 3200) {
                const QByteArray w = pcm.mid(at, 3200);
                const double f = Tone::rms(w) > 0.01 ? Tone::dominant(w, 16000) : 0;
                held += std::abs(f - hertz) < 50 && Tone::level(w, hertz, 16000) > 0.1;
                loudest << QString::number(f);
            }
            return held;
        };
        QStringList earlier, later;
        const int beforeHeld = windows(beforeMove, 700, earlier), afterHeld = windows(heard, hertz, later);
        QVERIFY2(beforeHeld >= 3 && afterHeld >= 10,
                 qPrintable(QString("700 Hz in %1 of the last 5 windows before the move (%2), %3 Hz in %4 after it, not 10 (%5); the speaker ran dry %6 times")
                                .arg(beforeHeld).arg(earlier.join(' ')).arg(hertz).arg(afterHeld).arg(later.join(' '))
                                .arg(phone.log(mark).count("the speaker ran dry"))));
        QVERIFY2(phone.waitForLog("RTP call figures", 5000, mark)
                     && phone.log(mark).contains(QRegularExpression("received 1(4[5-9]|50), .*codec " + to.encoding)),
                 qPrintable(phone.log(mark).section("RTP call figures", 1).section('\n', 0, 0)));
    }

    // The echo path at the call's rate: G.711's 8 kHz, and 16 kHz where a wideband codec is answered.
    void echoReturned_data()
    {
        QTest::addColumn<int>("offered"); // the format answered, of those the phone offers
        QTest::addColumn<bool>("cancel");
        QTest::newRow("G.711, canceller on, 120 ms path") << 2 << true;
        QTest::newRow("G.722, canceller on, 120 ms path") << 0 << true;
        QTest::newRow("Opus, canceller on, 120 ms path") << 1 << true;
        QTest::newRow("G.711, canceller off: the echo comes back") << 2 << false;
        QTest::newRow("G.722, canceller off: the echo comes back") << 0 << false;
    }
    void echoReturned()
    {
        QFETCH(int, offered);
        QFETCH(bool, cancel);
        if (cancel != cancelling) {   // the switch is read at start
            phone.kill();
            QVERIFY2(phone.seed({{"echoCancel", cancel ? "true" : "false"}}) && phone.start(xvfb.display()), qPrintable(phone.errorString()));
            cancelling = cancel;
        }
        const SdpFormat f = AudioCodec::supported().at(offered);
        const std::unique_ptr<AudioCodec> encoder = AudioCodec::create(f), decoder = AudioCodec::create(f);
        const int rate = encoder->sampleRate(), block = rate / 100, frame = rate / 50;
        EchoPath path;
        QVERIFY(path.load(120));
        RtpPeer far;
        QVERIFY(call("200 OK", far, QString("%1 %2/%3").arg(f.payloadType).arg(f.encoding).arg(f.clockRate) + (f.channels > 1 ? "/2" : ""))
                && QTest::qWaitFor([&] { return !far.packets.isEmpty(); }, 5000));
        QVERIFY2((far.packets.first().at(1) & 0x7F) == f.payloadType, "the phone sends the answer's format");
        // The far end talks for 7 s, the near end from 4 s to 8 s: echo alone, double talk, then the near end
        // alone; seconds counted in the phone's packets back.
        const QVector<qint16> talk = Tone::voice(7 * rate, rate, 28, 120), near = Tone::voice(4 * rate, rate, 29, 210), quiet(frame, 0);
        QMap<double, QByteArray> schedule;
        for (int i = 0; i < 500; ++i)
            schedule.insert(20.0 * i, RtpPeer::packet(f.payloadType, QByteArray(), quint16(i), quint32(encoder->frameTicks() * i))
                                          + encoder->encode(i < 350 ? talk.constData() + frame * i : quiet.constData()));
        PulseStream nearTalker;
        QVector<int> at;
        for (int ms = 0; ms <= 10000; ms += 2000)
            QTimer::singleShot(ms, this, [&] { at << far.packets.size(); });
        QDateTime nearFrom;
        QTimer::singleShot(4000, this, [&] {
            nearFrom = QDateTime::currentDateTime();
            nearTalker.play("mic", QByteArray(reinterpret_cast<const char *>(near.constData()), 2 * near.size()), rate);
        });
        stream(schedule);
        QVERIFY(QTest::qWaitFor([&] { return at.size() == 6; }, 5000) && hangUp());
        // What the far end heard, packet by packet in the order sent; full scale is 1.
        QVector<double> heard;
        for (const QByteArray &p : far.packets)
            for (const qint16 s : decoder->decode(p.mid(12)))
                heard << s / 32768.0;
        const auto span = [&](int from, int to) { return heard.mid(frame * from, frame * (to - from)); };
        // The echo leaves out its span's first 300 ms, the path's delay and settling.
        const QVector<double> echoed = span(at[1] + 15, at[2]), out = span(at[2], far.packets.size());
        // The near talker found where its 10 ms envelope, once it talks alone (3-3.9 s), best follows what reached
        // the far end (pacat starts it 50-1200 ms late): the largest covariance with the near envelope less its
        // mean; its gain in double talk (0.3-1.3 s) against its gain alone (3.3-3.9 s).
        const auto envelope = [block](const auto &x, int b, double scale) { return std::log(1 + scale * rms(x, block * b, block * b + block)); };
        double nearMean = 0;
        for (int b = 300; b < 390; ++b)
            nearMean += envelope(near, b, 1) / 90;
        std::pair<double, int> best{-1e300, 0};
        for (int l = 0; l <= 120 && block * (l + 390) <= out.size(); ++l) {
            double covariance = 0;
            for (int b = 300; b < 390; ++b)
                covariance += envelope(out, b + l, 32768) * (envelope(near, b, 1) - nearMean);
            best = std::max(best, std::make_pair(covariance, l));
        }
        const int lag = best.second;
        const auto gain = [&](int from, int to) { return rms(out, block * (lag + from), block * (lag + to)) / rms(near, block * from, block * to); };
        const double echo = 20 * std::log10(32768 * rms(echoed, 0, echoed.size()) / rms(talk, 2 * rate, 4 * rate) + 1e-9),
                     loss = 20 * std::log10(gain(330, 390) / gain(30, 130));
        const QString figures = QString("%1 Hz: echo %2 dB below the far end's voice after 2 s; the near end loses %3 dB in double talk, found %4 ms late")
                                    .arg(rate).arg(-echo, 0, 'f', 1).arg(loss, 0, 'f', 1).arg(10 * lag);
        qInfo().noquote() << figures;
        // What the phone told of its canceller and devices in this call.
        const QStringList told = phone.log(mark).split('\n').filter(QRegularExpression("!!! (Echo|Sound server)|ran dry|call figures"));
        QVERIFY2(cancel ? echo <= -30 : echo >= -15, qPrintable(figures + "\n" + told.join('\n')));
        // On a loaded machine pacat may start the near talker so late (up to a second) that the windows above
        // no longer hold the double talk; its loss is judged where it was found in time to be. Where the
        // speaker ran dry from a second before the near talker to the double talk's end, the canceller held the
        // microphone down while it found the echo again, as it should; the loss is not judged there either.
        const auto dryNear = std::count_if(told.begin(), told.end(), [&](const QString &line) {
            const QDateTime when = QDateTime::fromString(line.left(23), "yyyy-MM-dd hh:mm:ss.zzz");
            return line.contains("the speaker ran dry") && when >= nearFrom.addMSecs(-1000) && when <= nearFrom.addMSecs(1400 + 10 * lag);
        });
        if (cancel && lag <= 30 && dryNear == 0)
            QVERIFY2(loss <= 6, qPrintable(figures + "\n" + told.join('\n')));
        else if (cancel)
            qWarning().noquote() << (dryNear ? "the speaker ran dry during the double talk, and the microphone was held down"
                                             : "the near talker started too late for its loss in double talk to be measured");
    }
};

SORVANTO_TEST_MAIN(TstMedia)
#include "tst_media.moc"
