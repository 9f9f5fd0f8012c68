// The receive path: the jitter buffer alone on a simulated clock (order
// across the wrap, duplicates and late packets dropped and counted, the
// target following the jitter and coming back down, a gap faded out and back
// in without a step), where a payload starts, which payload types are heard;
// keys received as RFC 4733 events, each once (as INFO bodies: tst_processing midCall);
// and keys in the sent packets, through a loopback peer: in-band DTMF, or RFC
// 4733 events in the voice's numbering when the far end takes them; nothing
// sent while held, the clock running on; SRTP both ways across the wrap, in
// both suites: what is sent opens with the far end's key and no longer reads
// as the tone, and only what authenticates is heard.

#include "fixturetable.h"
#include "jitterbuffer.h"
#include "rtp.h"
#include "rtpheader.h"
#include "rtppeer.h"
#include "sdescrypto.h"
#include "srtpsession.h"
#include "siptestserver.h"
#include "testmain.h"
#include "tone.h"

#include <QRandomGenerator>
#include <QtTest>

class TstRtp : public QObject
{
    Q_OBJECT

    void sendAndReceive(const QByteArray &mic, QList<QByteArray> received, int packets)
    {
        for (QByteArray &p : received)
            rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
        for (int i = 0; 320 * i < mic.size(); ++i) {
            rtp->txPcm = mic.mid(320 * i, 320);
            rtp->msgTransmiter();
        }
        QVERIFY(QTest::qWaitFor([&] { return peer.packets.size() >= packets; }, 3000));
    }
    void push(qint64 index, double arrivalMs, const QByteArray &pcm)
    {
        buffer.push(quint16(index), quint32(160 * index), 7, reinterpret_cast<const qint16 *>(pcm.constData()), 160, arrivalMs);
    }
    // Packet `index` of a half-scale 1025 Hz sine: not a whole number of cycles in 20 ms.
    static QByteArray sine(qint64 index) { return Tone::sine(1025, 0.5, 160, 8000, 160 * index); }
    QVector<qint16> pull()
    {
        QVector<qint16> out(160);
        buffer.pull(out.data(), 160);
        return out;
    }
    // What the session's speaker plays next, as bytes.
    QByteArray played(int samples)
    {
        QByteArray out(2 * samples, '\0');
        rtp->rxBuffer.pull(reinterpret_cast<qint16 *>(out.data()), samples);
        return out;
    }
    JitterBuffer buffer;
    Rtp session, *rtp = &session;
    RtpPeer peer;
    const QByteArray tone = Tone::sine(1000, 0.5, 160);

private slots:
    void initTestCase()
    {
        QVERIFY(peer.start());
        rtp->setRemoteAddress(QStringLiteral("127.0.0.1"), QString::number(peer.port()));
        rtp->localPort = SipTestServer::freePort();
    }
    void init()
    {
        peer.packets.clear();
        buffer.reset();
        rtp->setCodec(SdpFormat());
        rtp->setTelephoneEvent(-1);
        rtp->initSession();
    }
    void order_data() { fixtureRows("media/jitter-order.txt"); }
    void order()
    {
        QFETCH(QString, script);
        QStringList heard;
        double now = 0;
        for (const QString &step : script.split(' ')) {
            const int last = step == "p" ? pull().last() : 0;
            if (step == "p" && (now += 20))
                heard << (last >= 1000 && (last - 1000) % 7 == 0 ? QString::number((last - 1000) / 7) : "-");
            else // the sample value names the packet
                push(step.toInt(), now, QByteArray(reinterpret_cast<const char *>(QVector<qint16>(160, qint16(1000 + step.toInt() % 1000 * 7)).constData()), 320));
        }
        QTEST(heard.join(' '), "heard");
        const JitterBuffer::Figures f = buffer.figures();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(f.lost).arg(f.late).arg(f.duplicated).arg(f.received),
                 cell("lostLateDuplicated") + " " + QString::number(script.split(' ').size() - script.count('p')));
    }

    void adaptation()
    {
        // 10 s of packets delayed 0-60 ms at random, then 10 s on time; the speaker takes 20 ms every 20 ms.
        QRandomGenerator random(20);
        QMap<double, int> arrivals;
        for (int tick = 0; tick < 1000; ++tick) {
            arrivals.insert(20.0 * tick + (tick < 500 ? random.bounded(60.0) : 0.5), tick);
            for (; !arrivals.isEmpty() && arrivals.firstKey() <= 20.0 * tick + 10; arrivals.erase(arrivals.begin()))
                push(arrivals.first(), arrivals.firstKey(), sine(arrivals.first()));
            pull();
            if (tick == 499) // grown with the jitter, so hardly any packet came after its turn
                QVERIFY2(buffer.targetMs() >= 70 && buffer.figures().late <= 5, qPrintable(QString::number(buffer.targetMs())));
        }
        QCOMPARE(buffer.targetMs(), JitterBuffer::minTargetMs);
        // the delay came down again: what waits is within the target
        QVERIFY2(buffer.bufferedSamples() <= JitterBuffer::minTargetMs * 8, qPrintable(QString::number(buffer.bufferedSamples())));
    }

    void concealment()
    {
        QVector<qint16> heard;
        for (int seq = 1; seq <= 16; ++seq) {
            if (seq < 6 || seq > 9) // 6 to 9 lost: 80 ms
                push(seq, 20.0 * seq, sine(seq));
            heard += pull();
        }
        // the sine's RMS level from sample `from` to `to`
        auto level = [&](int from, int to) { return Tone::rms(QByteArray(reinterpret_cast<const char *>(heard.constData() + from), 2 * (to - from))) / (0.5 / M_SQRT2); };
        // each 20 ms 6 dB down, silence after 60 ms; the sound after the gap fades in
        const double expected[] = {0.5, 0.25, 0.125, 0.0};
        for (int slot = 0; slot < 4; ++slot)
            QVERIFY2(qAbs(level(160 * (5 + slot) + 40, 160 * (6 + slot)) - expected[slot]) < 0.03, qPrintable(QString::number(slot)));
        QVERIFY(level(160 * 9, 160 * 9 + 10) < 0.2 && level(160 * 10, 160 * 11) > 0.97);
        // no step anywhere larger than the sine's own slope
        for (int i = 1; i < heard.size(); ++i)
            QVERIFY2(qAbs(heard[i] - heard[i - 1]) <= 0.5 * 32768 * 2 * M_PI * 1025 / 8000 * 1.05, qPrintable(QString::number(i)));
    }

    void payloadPlace_data() { fixtureRows("media/rtp-headers.txt"); }
    void payloadPlace()
    {
        QFETCH(QString, place); // where the payload starts; -1: dropped
        const QByteArray packet = QByteArray::fromHex(cell("hex").toLatin1());
        RtpHeader h;
        const bool parsed = h.parse(reinterpret_cast<const uchar *>(packet.constData()), packet.size());
        QCOMPARE(QString("%1, %2 bytes").arg(parsed ? h.payloadOffset : -1).arg(h.payloadLength), place + (place == "-1" ? ", 0 bytes" : ", 20 bytes"));
    }

    void payloadTypes()
    {
        // Only G.711 is heard, in the law it came in, after its CSRCs; other types change nothing sent.
        const QByteArray ulaw = RtpPeer::packet(0, tone, 1);
        sendAndReceive(tone, {"\x81" + ulaw.mid(1, 11) + "CSRC" + ulaw.mid(12), RtpPeer::packet(18, tone.left(40), 2),
                              RtpPeer::packet(101, tone.left(8), 2)}, 1);
        QVERIFY(peer.packets.value(0).size() == 172 && peer.packets.value(0).at(1) == 0);
        sendAndReceive(QByteArray(), {RtpPeer::packet(8, tone, 2, 320)}, 0);
        QCOMPARE(played(320), RtpPeer::decode({ulaw}, 0) + RtpPeer::decode({RtpPeer::packet(8, tone)}, 8));
    }

    void events_data()
    {
        // Script: "f3" three 20 ms frames of the microphone, a key pressed,
        // "h" held, "r" resumed. Sent: "v" voice, else "[M]event/duration[E]";
        // "@n": the timestamp, in frames after the first packet's; each packet's sequence number one up.
        QTest::addColumn<int>("eventType");
        QTest::addColumn<bool>("opus");   // else PCMA
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("sent");
        QTest::newRow("two keys as events, then the voice") << 101 << false << "1 # f16"
            << "M1/160@0 1/320@0 1/480@0 1/640@0 1/800E@0 1/800E@0 1/800E@0 "
               "M11/160@7 11/320@7 11/480@7 11/640@7 11/800E@7 11/800E@7 11/800E@7 v@14 v@15";
        QTest::newRow("another payload type") << 96 << false << "f1 9 f3" << "v@0 M9/160@1 9/320@1 9/480@1";
        QTest::newRow("keys that are no event") << 101 << false << "f1 x E + f1" << "v@0 v@1";
        QTest::newRow("held: nothing sent, the clock runs on") << 101 << false << "f2 h f3 7 r f1 4 f2"
            << "v@0 v@1 v@5 M4/160@6 4/320@6";
        // 16 kHz frames in, stamps and event durations at Opus's 48 kHz clock (RFC 7587, RFC 4733 2.5.1.5).
        QTest::newRow("Opus, held") << 101 << true << "f2 h f3 7 r f1 4 f2" << "v@0 v@1 v@5 M4/960@6 4/1920@6";
    }

    void events()
    {
        QFETCH(int, eventType);
        QFETCH(bool, opus);
        QFETCH(QString, sent);
        rtp->setCodec(opus ? SdpFormat{111, "opus", 48000, 2, QString()} : SdpFormat());
        rtp->initSession();
        rtp->setTelephoneEvent(eventType);
        const int tick = opus ? 960 : 160;
        const QByteArray frame = Tone::sine(440, 0.1, rtp->sampleRate() / 50, rtp->sampleRate());
        for (const QString &step : cell("script").split(' ')) {
            if (step.startsWith('f'))
                for (int i = 0; i < step.mid(1).toInt(); ++i)
                    rtp->txPcm = frame, rtp->msgTransmiter();
            else if (step == "h" || step == "r")
                rtp->setSending(step == "r");
            else
                rtp->sendKey(step.at(0));
        }
        sendAndReceive(QByteArray(), {}, sent.count(' ') + 1);
        QTest::qWait(50); // and nothing more
        QStringList seen;
        RtpHeader first;
        for (const QByteArray &p : peer.packets) {
            RtpHeader h;
            TelephoneEventPayload e;
            QVERIFY(h.parse(reinterpret_cast<const uchar *>(p.constData()), p.size()));
            first = seen.isEmpty() ? h : first;
            // One numbering and one source for voice and events alike.
            QVERIFY(quint16(h.sequence - first.sequence) == seen.size() && h.ssrc == first.ssrc);
            const bool event = h.payloadType == eventType && e.decode(reinterpret_cast<const uchar *>(p.constData()) + h.payloadOffset, h.payloadLength);
            // Events at -10 dBm0; the voice in the call's format, unmarked.
            QVERIFY(event ? e.volume == 10 : !h.marker && h.payloadType == (opus ? 111 : 8) && (opus || h.payloadLength == 160));
            seen << (event ? QStringLiteral("%1%2/%3%4").arg(h.marker ? "M" : "").arg(e.event).arg(e.duration).arg(e.end ? "E" : "") : "v")
                    + "@" + QString::number((h.timestamp - first.timestamp) / double(tick)); // a packet's ticks, exactly
        }
        QCOMPARE(seen.join(' '), sent);
    }

    void received_data() { fixtureRows("media/events-received.txt"); }
    void received()
    {
        // Each event reported once (never heard: payloadTypes).
        rtp->setTelephoneEvent(101);
        QSignalSpy reported(rtp, &Rtp::keyReceived);
        QList<QByteArray> in;
        for (const QString &packet : cell("packets").split(' '))
            in << RtpPeer::packet(101, {}, quint16(in.size() + 1), packet.section(':', 0, 0).toUInt()) + QByteArray::fromHex(packet.section(':', 1).toLatin1());
        sendAndReceive(QByteArray(), in, 0);
        QString keys;
        for (const QList<QVariant> &key : reported)
            keys += key.at(0).toChar();
        QTEST(keys, "keys");
    }

    void dtmf()
    {
        // Two keys on a quiet microphone tone, the far end taking no events: 100 ms pairs at -10 dBm0 each, 60 ms apart, the voice mixed under.
        QVERIFY(!rtp->sendKey('x') && rtp->sendKey('1') && rtp->sendKey('#'));
        sendAndReceive(Tone::sine(440, 0.1, 8000), {}, 25);
        const QByteArray sent = RtpPeer::decode(peer.packets, 8), key = sent.left(1600), pause = sent.mid(1600, 960);
        QCOMPARE(Tone::dtmf(sent), QStringLiteral("1#"));
        for (double f : {697, 1209})
            QVERIFY2(qAbs(20 * std::log10(Tone::level(key, f)) + 13.14) < 1 && Tone::level(pause, f) < 0.01, qPrintable(QString::number(f)));
        QVERIFY(Tone::level(key, 440) > 0.08 && Tone::level(pause, 440) > 0.08);
    }

    void srtp_data()
    {
        QTest::addColumn<int>("tag");
        QTest::newRow("AES_CM_128_HMAC_SHA1_80") << 10;
        QTest::newRow("AES_CM_128_HMAC_SHA1_32") << 4;
    }
    void srtp()
    {
        // Both ways across the sequence wrap, so the rollover counter moves on. In: each packet twice, in clear
        // with 400 Hz, then with 1 kHz protected by the far end's key, then a replay, a changed payload byte, a
        // changed tag byte and a packet of another key; only the 1 kHz is heard. Out: the tone unreadable, the
        // suite's tag after it, the far end's key opening it.
        QFETCH(int, tag);
        const SrtpSuite suite = tag == 4 ? SrtpSuite::AesCm128HmacSha1_32 : SrtpSuite::AesCm128HmacSha1_80;
        const SdesCrypto ours = SdesCrypto::generate(1, suite), theirs = SdesCrypto::generate(1, suite);
        SrtpSession farEnd, stranger;
        QVERIFY(farEnd.start(suite, theirs.keySalt, ours.keySalt) && stranger.start(suite, ours.keySalt, ours.keySalt));
        QVERIFY(!SrtpSession().start(suite, ours.keySalt.left(29), ours.keySalt) && rtp->setSrtp(ours, theirs));
        const quint64 rejected = rtp->rxRejected;
        QList<QByteArray> in;
        for (int i = 0; i < 14; ++i) {
            if (i < 10)
                in << RtpPeer::packet(8, Tone::sine(400, 0.5, 160), quint16(65532 + i), quint32(160 * i));
            in << (i == 10 ? in.last() : RtpPeer::packet(8, tone, quint16(65532 + i), quint32(160 * i)));
            QByteArray &p = in.last();
            QVERIFY(i == 10 || (i == 13 ? stranger : farEnd).protect(p));
            p.data()[i == 11 ? 20 : p.size() - 1] ^= char(i == 11 || i == 12);
        }
        rtp->seqNumber = 65533;
        sendAndReceive(tone.repeated(4), in, 4);
        rtp->clearSrtp();
        QCOMPARE(rtp->rxRejected - rejected, quint64(14));
        QVERIFY(Tone::level(played(1600), 1000) > 0.3);
        const QByteArray payload = RtpPeer::packet(8, tone).mid(12);
        for (QByteArray packet : peer.packets)
            QVERIFY(packet.size() == 172 + tag && !packet.contains(payload) && farEnd.unprotect(packet) && packet.mid(12) == payload);
    }
};

SORVANTO_TEST_MAIN(TstRtp)
#include "tst_rtp.moc"
