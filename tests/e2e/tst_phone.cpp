// The real phone as a person uses it (Xvfb, PulseAudio null devices) behind a
// NAT-like relay, through Kamailio (digest, record-routing), with baresip as
// the far end, which checks Via, tags and routes as real phones do, and
// linphonec's strict SDP parser beside it: calls both ways with tones heard
// both ways and either side hanging up, over G.711 and over G.722 and Opus
// (the codec named in the call's figures, 6 kHz tones each way, which G.711
// cannot carry), keys sent as RFC 4733 events (no tones in band), the far phone's hold stopping the phone's RTP on
// the wire and its resume restarting it, ringing calls cancelled and refused,
// the history, keep-alives and a proxy restart; then over TLS calls with tones heard and no SIP text
// on the wire, both ways with SRTP media and one in clear (the tone's G.711 on the wire only in
// clear, no key in the log), and a server certificate with the wrong name,
// from an unknown CA or expired refused with the cause shown and nothing sent.
// The functions run in order on one phone.

#include "baresippeer.h"
#include "kamailiopeer.h"
#include "linphonepeer.h"
#include "looptap.h"
#include "phoneprocess.h"
#include "pulsestream.h"
#include "rtppeer.h"
#include "sqlpeek.h"
#include "testca.h"
#include "stunserver.h"
#include "testmain.h"
#include "tone.h"
#include "udprelay.h"
#include "xvfbserver.h"

#include <QScopeGuard>
#include <QtTest>

namespace {

// Places inside the windows (x, y), from their fixed layouts.
const QPoint kHistoryButton(54, 611), kCallButton(160, 611);
const QPoint kAnswerButton(64, 192), kIncomingHangUp(236, 192), kOutgoingHangUp(148, 190);
const QString kIncoming = QStringLiteral("Bходящий"), kOutgoing = QStringLiteral("Исходящий");
const QString kConfig = QStringLiteral(SORVANTO_TESTS_DIR "/e2e/kamailio.cfg");
// The phone is 100; baresip answers 200 by itself and lets 201 ring; linphonec answers 300;
// a second baresip answers 202 with G.722 only and 203 with Opus only.
const QMap<QString, QString> kSubscribers = {{"100", "pw100"}, {"200", "pw200"}, {"201", "pw201"}, {"202", "pw202"},
                                             {"203", "pw203"}, {"300", "pw300"}};

// Dial-pad keys 0-9, centres of the 3 x 5 grid at 20, 226, 280 x 264.
QPoint padKey(QChar digit)
{
    const int d = digit.digitValue(), row = d == 0 ? 3 : (d - 1) / 3, col = d == 0 ? 1 : (d - 1) % 3;
    return QPoint(20 + 280 * (2 * col + 1) / 6, 226 + 264 * (2 * row + 1) / 10);
}

int frequency(const QByteArray &pcm, int rate) { return Tone::rms(pcm) > 0.01 ? qRound(Tone::dominant(pcm, rate) / 10) * 10 : 0; }

// A refused TLS server: Kamailio's certificate, the name the phone expects, its CA file, the cause shown.
struct Refusal { QString certificate, domain, caFile, shown; };

} // namespace

Q_DECLARE_METATYPE(Refusal)

class TstPhone : public QObject
{
    Q_OBJECT

    bool startPhone(const QString &password, int registrTimeout, const QMap<QString, QString> &more = {})
    {
        phone.stop();
        // 127.0.0.3 is the relay; the phone counts it as a public server and asks
        // the loopback coturn for its address. mediaIp: the namespace has no other.
        // Steady tones are what noise suppression takes away: the microphone goes
        // out as a headset user's does (the canceller is proven in tst_media).
        QMap<QString, QString> settings{{"account", "100"}, {"sipServerIp", "127.0.0.3"}, {"sipServerPort", QString::number(port)},
                           {"user", "100"}, {"domain", "127.0.0.2"}, {"login", "100"}, {"password", password},
                           {"registrTimeout", QString::number(registrTimeout)}, {"keepAlive", "1"}, {"useLog", "true"},
                           {"codecPCMA", "true"}, {"codecPCMU", "true"}, {"codecG722", "true"}, {"codecOpus", "true"},
                           {"echoCancel", "false"}, {"mediaIp", "127.0.0.1"},
                           {"mediaPort", QString::number(PeerProcess::freePort())}, {"STUN", stun.url()}};
        settings.insert(more);
        return phone.seed(settings) && phone.start(xvfb.display());
    }
    // Kamailio's TLS listener with a certificate of the per-run CA.
    bool startTls(const QString &certificate)
    {
        kamailio.stop();
        kamailio.enableTls(tlsPort, ca.path(certificate + ".pem"), ca.path(certificate + ".key"));
        return kamailio.start(kConfig, port, kSubscribers);
    }
    // The bytes sent to the TLS listener since `ms` (all parties).
    QByteArray tlsWire(qint64 ms = 0) const
    {
        QByteArray wire;
        for (const LoopTap::Datagram &d : tap.to(tlsPort, ms))
            wire += d.payload;
        return wire;
    }
    bool waitFor(const std::function<bool()> &condition, int ms) { return PeerProcess::waitFor(condition, ms, 100); }
    // 2.5 s of the speaker recorded at `rate`, the last second of it.
    QByteArray speakerHears(int rate)
    {
        PulseStream speaker;
        QByteArray heard;
        if (speaker.record(QStringLiteral("spk.monitor"), rate))
            waitFor([&] { return (heard += speaker.take()).size() >= 5 * rate; }, 5500);
        return heard.right(2 * rate);
    }
    // Answers the call ringing in `window`. A click that reaches the window while it is still being
    // raised is lost; clicking answer on a call already answered does nothing, so it tries again.
    bool answer(const QString &window, qint64 mark)
    {
        for (int attempt = 0; !phone.waitForLog("!!! audioStartSlot", attempt ? 1000 : 0, mark); ++attempt)
            if (attempt == 3 || !phone.click(window, kAnswerButton.x(), kAnswerButton.y()))
                return false;
        return true;
    }
    bool dial(const QString &number)
    {
        for (const QChar digit : number + QLatin1Char('c')) {
            const QPoint key = digit == 'c' ? kCallButton : padKey(digit);
            if (!phone.click(phone.mainWindow(), key.x(), key.y()))
                return false;
        }
        return true;
    }
    // Places one call and ends it: the tones heard both ways, over G.711 also the phone's keys and the far phone's hold.
    // The `codec` must be the one in the call's figures; G.722 and Opus go to the wideband baresip, none to linphonec.
    void call(bool phoneCalls, bool phoneHangsUp, const QString &codec)
    {
        const bool linphone = codec.isEmpty(), wide = codec == "G722" || codec == "opus";
        FarPhone &far = linphone ? static_cast<FarPhone &>(linphonec) : wide ? wideEnd : farEnd;
        const QString number = linphone ? "300" : !wide ? "200" : codec == "G722" ? "202" : "203", name = far.name();
        // Wideband: 6 kHz from the microphone, 6.4 kHz from baresip.
        const int rate = wide ? 16000 : 8000, farTone = linphone ? 550 : wide ? 6400 : 440, nearTone = wide ? 6000 : 1000;
        QVERIFY2(micTone.play("mic", Tone::sine(nearTone, 0.3, rate * 60, rate), rate), qPrintable(micTone.errorString()));
        const int established = far.count(far.connected), closed = far.count(far.ended), farMark = far.log().size();
        const qint64 mark = phone.logSize();
        if (phoneCalls)
            QVERIFY2(dial(number), "cannot dial");
        else
            far.dial("sip:100@127.0.0.2", "sip:" + number + "@127.0.0.2");
        const QString window = phone.findWindow(phoneCalls ? kOutgoing : kIncoming, 8000);
        QVERIFY2(!window.isEmpty(), "no call window");
        QVERIFY2(phoneCalls || answer(window, mark), "cannot answer");
        QVERIFY2(waitFor([&] { return far.count(far.connected) > established; }, 10000),
                 qPrintable(name + " never got the call established"));
        QVERIFY2(phone.waitForLog("!!! audioStartSlot", 10000, mark), "the phone never started the audio");
        // Keys typed in a call reach a real phone as events a menu takes; they go
        // out while the speaker is recorded.
        const bool keys = phoneCalls && !wide;
        QVERIFY2(!keys || phone.keys(phone.mainWindow(), {"1", "5", "asterisk", "numbersign"}), "cannot type the keys");
        const QByteArray heard = speakerHears(rate);
        // One 10 Hz step either way, here and at the far end: gaps a loaded machine leaves in the sound spread the peak.
        // Measured once: QVERIFY2 builds its message even when the check passes, and a second
        // spectrum here (slow in a sanitizer build) starves the microphone's player of the event loop.
        const int played = frequency(heard, rate);
        QVERIFY2(qAbs(played - farTone) <= 10,
                 qPrintable(QStringLiteral("the phone's speaker does not play %1's %2 Hz (%3 Hz at RMS %4 in %5 bytes)")
                                .arg(name).arg(farTone).arg(played).arg(Tone::rms(heard)).arg(heard.size())));
        if (!wide) {
            // Held: not one packet from the phone for a second, counted on loopback. Before it, half a
            // second with ten: the tap stamps a packet when it reads it, and a loaded machine delays both.
            QVERIFY2(waitFor([&] { return phoneRtp(tap.now() - 500).size() >= 10; }, 5000), "the phone sends no RTP before the hold");
            const qint64 held = tap.now();
            far.act("hold");
            QVERIFY2(waitFor([&] { return tap.now() - held > 1500 && phoneRtp(tap.now() - 1000).isEmpty(); }, 8000),
                     qPrintable("the phone's RTP went on while " + name + " held the call"));
            const qint64 resumed = tap.now();
            far.act("resume");
            QVERIFY2(waitFor([&] { return phoneRtp(resumed).size() >= 10; }, 8000),
                     qPrintable("the phone's RTP did not come back when " + name + " resumed"));
        }
        const QPoint hangUp = phoneCalls ? kOutgoingHangUp : kIncomingHangUp;
        if (phoneHangsUp)
            QVERIFY2(phone.click(window, hangUp.x(), hangUp.y()), "cannot hang up");
        else
            far.act("hangup");
        QVERIFY2(waitFor([&] { return far.count(far.ended) > closed; }, 10000), qPrintable(name + " still holds the call"));
        QVERIFY2(phone.waitWindowGone(phoneCalls ? kOutgoing : kIncoming, 10000), "the call window stayed");
        QVERIFY2(linphone || phone.waitForLog(", codec " + codec + ",", 5000, mark), qPrintable("the call's figures do not name " + codec));
        // sndfile writes the recording once the call object goes; at 16 kHz each look takes a while on a loaded machine.
        int heardRate = 8000;
        QByteArray farPcm;
        const auto farHears = [&] {
            farPcm = far.received(&heardRate).right(2 * heardRate);
            return frequency(farPcm, heardRate);
        };
        int farHeard = 0;
        QVERIFY2(waitFor([&] { return qAbs((farHeard = farHears()) - nearTone) <= 10; }, 10000),
                 qPrintable(QStringLiteral("%1 did not hear the phone's %2 Hz (%3 Hz at RMS %4 in the last %5 bytes)")
                                .arg(name).arg(nearTone).arg(farHeard).arg(Tone::rms(farPcm)).arg(farPcm.size())));
        if (keys) {
            // Reported as events, once each; none of them as a tone in the sound.
            QString reported;
            for (auto it = far.keyReceived.globalMatch(far.log().mid(farMark)); it.hasNext();)
                reported += it.next().captured(1);
            QVERIFY2(reported == "15*#", qPrintable(name + " reports the keys \"" + reported + "\" received, not 15*#"));
            // (linphonec records its own key's tone with what it receives.)
            const QString inBand = Tone::dtmf(far.received(&heardRate), heardRate);
            QVERIFY2(!inBand.contains(QRegularExpression("[15*#]")),
                     qPrintable(name + "'s recording holds the keys \"" + inBand + "\" in band"));
        }
        history << number + (phoneCalls ? " Out" : " In");
    }
    // The phone's RTP packets seen on loopback since `ms`: those to the far
    // phone's media port, as the phone's log names it.
    QList<LoopTap::Datagram> phoneRtp(qint64 ms) const
    {
        static const QRegularExpression media("!!! Media: [\\d.]+:(\\d+) ");
        QRegularExpressionMatch last;
        for (auto it = media.globalMatch(phone.log(phoneMark)); it.hasNext();)
            last = it.next();
        return last.hasMatch() ? tap.to(quint16(last.captured(1).toUInt()), ms) : QList<LoopTap::Datagram>();
    }
    QString trace() const
    {
        // The phone logs every header it parses, twice; the messages and events are what a reader needs.
        static const QRegularExpression parseNoise("^\\S+ \\S+ DBG default: (Sip\\w+Header: .*\\n\\n?|[\\w-]+ : .*\\n"
                                                   "|  ?\\w+ \\w+( \\w+)?: .*\\n|!!!!!! .*\\n|Msg\\w+ Size.*\\n)",
                                                   QRegularExpression::MultilineOption);
        return "\n===== Kamailio =====\n" + kamailio.log().mid(kamailioMark).right(6000) + "\n===== baresip =====\n"
            + farEnd.log().right(3000) + "\n===== wideband baresip =====\n" + wideEnd.log().right(3000) + "\n===== linphonec =====\n" + linphonec.log().right(3000)
            + "\n===== phone log =====\n" + phone.log(phoneMark).remove(parseNoise).right(15000)
            + "\n===== phone console =====\n" + phone.output().right(2000);
    }
    QStringList historyRows() const
    {
        return QVariant(SqlPeek(phone.databaseFile()).column("SELECT called || ' ' || info FROM history ORDER BY id")).toStringList();
    }

    XvfbServer xvfb;
    StunServer stun;
    KamailioPeer kamailio;
    BaresipPeer farEnd, wideEnd;
    LinphonePeer linphonec;
    LoopTap tap;
    std::unique_ptr<UdpRelay> relay;
    TestCa ca;
    quint16 tlsPort = 0;
    PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
    PulseStream micTone;
    quint16 port = 0, farEndPort = 0;
    qint64 phoneMark = 0;
    int kamailioMark = 0;
    QStringList history; // "number info" of each call, in order

private slots:
    void initTestCase()
    {
        const QString noAudio = PulseStream::unavailable();
        QVERIFY2(noAudio.isEmpty(), qPrintable(noAudio));
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorString()));
        QVERIFY2(stun.start(), qPrintable(stun.errorString()));
        QVERIFY((port = PeerProcess::freePort()) && (farEndPort = PeerProcess::freePort()) && port != farEndPort);
        QVERIFY2(kamailio.start(kConfig, port, kSubscribers), qPrintable(kamailio.errorString()));
        relay.reset(new UdpRelay(QHostAddress("127.0.0.3"), port, QHostAddress("127.0.0.2"), port));
        QVERIFY(relay->listen());
        QVERIFY2(farEnd.start("200", "pw200", port, farEndPort, 440,
                              QStringLiteral("<sip:201@127.0.0.2>;auth_pass=pw201;answermode=manual;audio_codecs=pcma;"
                                             "outbound=\"sip:127.0.0.2:%1;transport=udp\"").arg(port)),
                 qPrintable(farEnd.errorString()));
        wideEnd.useCodecs("g722/16000/1");
        QVERIFY2(wideEnd.start("202", "pw202", port, PeerProcess::freePort(), 6400,
                               QStringLiteral("<sip:203@127.0.0.2>;auth_pass=pw203;answermode=auto;audio_codecs=opus/48000/2;"
                                              "outbound=\"sip:127.0.0.2:%1;transport=udp\"").arg(port)),
                 qPrintable(wideEnd.errorString()));
        QVERIFY2(linphonec.start("300", "pw300", port, PeerProcess::freePort(), 550), qPrintable(linphonec.errorString()));
        QVERIFY2(tap.open(), "no capture of loopback");
        QVERIFY2(startPhone("pw100", 3600), qPrintable(phone.errorString()));
    }

    void cleanup()
    {
        micTone.stop();
        if (QTest::currentTestFailed()) {
            qWarning().noquote() << trace();
            // A call left half way would fail every test after this one.
            for (FarPhone *far : std::initializer_list<FarPhone *>{&farEnd, &wideEnd, &linphonec})
                far->act("hangup");
            if (!startPhone("pw100", 3600))
                qWarning().noquote() << "the phone did not start again:" << phone.errorString();
            history = historyRows(); // whatever the failed call left
        }
        phoneMark = phone.logSize();
        kamailioMark = kamailio.log().size();
        tap.clear();
    }

    // Registered through the NAT (the proxy asks for digest credentials): the proxy
    // holds the contact, reached through the relay. Then a datagram of CRLF CRLF every
    // keepAlive (1) s keeps the NAT binding open; the proxy takes it without complaint.
    void registeredAndKeptAlive()
    {
        QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 8000), "not registered");
        QVERIFY(kamailio.ctl({"ul.lookup", "location", "s:100"}).contains("127.0.0.3:" + QString::number(port)));
        const qint64 mark = tap.now();
        const auto keepAlives = [&] { // the phone's datagrams to the relay
            int n = 0;
            for (const LoopTap::Datagram &d : tap.to(port, mark))
                n += d.source == 0x7f000001 && d.destination == 0x7f000003 && d.payload == "\r\n\r\n";
            return n;
        };
        QVERIFY2(waitFor([&] { return keepAlives() >= 3; }, 6000), "fewer than 3 keep-alives in 6 s");
        QVERIFY2(!kamailio.log().mid(kamailioMark).contains("ERROR"), qPrintable(kamailio.log().mid(kamailioMark)));
    }

    void callBothWays_data()
    {
        QTest::addColumn<bool>("phoneCalls");
        QTest::addColumn<bool>("phoneHangsUp");
        // The one baresip's account offers or answers (with G.711 our first); empty: linphonec, not named.
        QTest::addColumn<QString>("codec");
        QTest::newRow("phone calls, phone hangs up") << true << true << "PCMA";
        QTest::newRow("baresip calls, baresip hangs up") << false << false << "PCMA";
        QTest::newRow("phone calls G.722, baresip hangs up") << true << false << "G722";
        QTest::newRow("baresip calls G.722, phone hangs up") << false << true << "G722";
        QTest::newRow("phone calls Opus, phone hangs up") << true << true << "opus";
        QTest::newRow("baresip calls Opus, baresip hangs up") << false << false << "opus";
        QTest::newRow("phone calls linphonec") << true << true << "";
        QTest::newRow("linphonec calls the phone") << false << false << "";
    }

    // Connected at both ends over the codec, 1000 Hz (6 kHz) from the phone's
    // microphone reaches baresip, its 440 Hz (6.4 kHz) comes out of the phone's
    // speaker; both ends close. The same with linphonec, whose SDP parser refuses
    // what RFC 4566 does not allow.
    void callBothWays()
    {
        QFETCH(bool, phoneCalls);
        QFETCH(bool, phoneHangsUp);
        QFETCH(QString, codec);
        call(phoneCalls, phoneHangsUp, codec);
    }

    void codecMovedByLinphonec_data()
    {
        QTest::addColumn<bool>("phoneCalls");
        QTest::addColumn<QString>("before");     // the codec the call starts on, as the phone's log names it
        QTest::addColumn<QStringList>("dropped"); // linphonec's codecs switched off in the call, by index
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("rate");           // the phone's devices after the move
        // The phone's offer leads with G.711 A-law, linphonec's with Opus, then two Speex, then PCMU.
        QTest::newRow("phone calls: G.711 to Opus") << true << "PCMA/8000" << QStringList{"3", "4"} << "opus" << 16000;
        QTest::newRow("linphonec calls: Opus to G.711") << false << "opus/48000" << QStringList{"0", "1", "2"} << "PCMU" << 8000;
    }
    // linphonec drops the call's codec and holds the call: the phone answers its re-offer with the first
    // codec it shares and moves both directions to it at once, its devices at its rate. Once linphonec
    // takes the call back, each end hears the other's tone.
    void codecMovedByLinphonec()
    {
        QFETCH(bool, phoneCalls);
        QFETCH(QString, before);
        QFETCH(QStringList, dropped);
        QFETCH(QString, after);
        QFETCH(int, rate);
        QVERIFY2(micTone.play("mic", Tone::sine(1000, 0.3, 8000 * 60), 8000), qPrintable(micTone.errorString()));
        const int established = linphonec.count(linphonec.connected), closed = linphonec.count(linphonec.ended);
        const qint64 mark = phone.logSize();
        if (phoneCalls)
            QVERIFY2(dial("300"), "cannot dial");
        else
            linphonec.dial("sip:100@127.0.0.2", QString());
        const QString window = phone.findWindow(phoneCalls ? kOutgoing : kIncoming, 8000);
        QVERIFY2(!window.isEmpty(), "no call window");
        QVERIFY2(phoneCalls || answer(window, mark), "cannot answer");
        QVERIFY2(waitFor([&] { return linphonec.count(linphonec.connected) > established; }, 10000),
                 "linphonec never got the call established");
        QVERIFY2(phone.waitForLog(QString(" %1 pt").arg(before), 5000, mark), qPrintable("the call did not start on " + before));
        const auto restore = qScopeGuard([&] {
            for (const QString &index : dropped)
                linphonec.command("codec enable " + index);
        });
        for (const QString &index : dropped)
            QVERIFY(linphonec.command("codec disable " + index));
        linphonec.act("hold");
        QVERIFY2(phone.waitForLog(QString("!!! Codec changed within the call: %1 at %2 Hz").arg(after).arg(rate), 8000, mark),
                 qPrintable("the phone did not move to linphonec's " + after));
        QVERIFY2(phone.waitForLog("!!! Call held by the far end", 5000, mark), "not held");
        QTest::qWait(500);
        const qint64 resumed = phone.logSize();
        linphonec.act("resume");
        QVERIFY2(phone.waitForLog("!!! Call resumed by the far end", 8000, resumed), "not resumed");
        const int played = frequency(speakerHears(rate), rate);
        QVERIFY2(qAbs(played - 550) <= 10, qPrintable(QString("the phone's speaker plays %1 Hz, not linphonec's 550 Hz").arg(played)));
        const QPoint hangUp = phoneCalls ? kOutgoingHangUp : kIncomingHangUp;
        QVERIFY2(phone.click(window, hangUp.x(), hangUp.y()), "cannot hang up");
        QVERIFY2(waitFor([&] { return linphonec.count(linphonec.ended) > closed; }, 10000), "linphonec still holds the call");
        QVERIFY2(phone.waitForLog(", codec " + after + ",", 5000, mark), qPrintable("the call's figures do not name " + after));
        int farRate = 8000, farHeard = 0;
        QByteArray farPcm;
        QVERIFY2(waitFor([&] { return qAbs((farHeard = frequency(farPcm = linphonec.received(&farRate).right(2 * farRate), farRate)) - 1000) <= 10; }, 10000),
                 qPrintable(QString("linphonec did not hear the phone's 1000 Hz (%1 Hz in the last %2 bytes at %3 Hz)")
                                .arg(farHeard).arg(farPcm.size()).arg(farRate)));
        history << (phoneCalls ? "300 Out" : "300 In");
    }

    void ringingCallEnds_data()
    {
        QTest::addColumn<QString>("number"); // whom the phone calls; empty: baresip (200) calls
        QTest::newRow("baresip gives up") << "";
        QTest::newRow("phone rejects") << "";
        QTest::newRow("phone gives up") << "201";
    }

    // A call that never connects ends at both ends, without the busy tone when
    // the phone itself ended it.
    void ringingCallEnds()
    {
        QFETCH(QString, number);
        const bool phoneEnds = QByteArray(QTest::currentDataTag()).startsWith("phone");
        const QString ringing = number.isEmpty() ? "180 Ringing" : "Incoming call";
        const int closed = farEnd.count(farEnd.ended), rang = farEnd.count(ringing);
        if (number.isEmpty())
            farEnd.dial("sip:100@127.0.0.2", "sip:200@127.0.0.2");
        else
            QVERIFY(dial(number));
        const QString window = phone.findWindow(number.isEmpty() ? kIncoming : kOutgoing, 8000);
        QVERIFY2(!window.isEmpty(), "no call window");
        QVERIFY2(waitFor([&] { return farEnd.count(ringing) > rang; }, 8000), "baresip hears no ringing, or does not ring");
        const QPoint hangUp = number.isEmpty() ? kIncomingHangUp : kOutgoingHangUp;
        // A click on a window still being raised is lost (see call()): click until it is logged.
        const qint64 clicked = phone.logSize();
        if (phoneEnds)
            QVERIFY2(waitFor([&] { return phone.click(window, hangUp.x(), hangUp.y())
                                          && phone.waitForLog("pushButton disconnect clicked", 1000, clicked); }, 4000), "the click was lost");
        else
            farEnd.act("hangup");
        QVERIFY2(waitFor([&] { return farEnd.count(farEnd.ended) > closed; }, 8000), "baresip still holds the call");
        QVERIFY2(phone.waitWindowGone(number.isEmpty() ? kIncoming : kOutgoing, 8000), "the call window stayed");
        if (phoneEnds)
            QVERIFY2(!phone.log(phoneMark).contains("!!! busyStart"), "busy tone for a call the user ended");
        history << (number.isEmpty() ? "200 Break" : "201 Out");
    }

    // Every call above left one row, with its number and kind; the history
    // button opens its window (what it lists: tst_mainwindow), Escape closes it.
    void historyListsTheCalls()
    {
        const QStringList rows = historyRows();
        QCOMPARE(rows.join(", "), history.join(", "));
        QVERIFY(phone.click(phone.mainWindow(), kHistoryButton.x(), kHistoryButton.y()));
        const QString window = phone.findWindow(QStringLiteral("История"), 5000);
        QVERIFY2(!window.isEmpty(), "the history window did not appear");
        QVERIFY(phone.xdotool({"windowfocus", "--sync", window}) && phone.xdotool({"key", "Escape"}));
        QVERIFY(phone.waitWindowGone(QStringLiteral("История"), 5000));
    }

    // Kamailio forgets its registrations when restarted; the phone, registering
    // every 4 s, is in the new instance's location table soon after.
    void proxyRestartRegistersAgain()
    {
        QVERIFY2(startPhone("pw100", 4), qPrintable(phone.errorString()));
        QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 8000), "not registered");
        kamailio.stop();
        QVERIFY2(kamailio.start(kConfig, port, kSubscribers), qPrintable(kamailio.errorString()));
        kamailioMark = kamailio.log().size();
        // The new instance starts empty: a contact now is a new registration.
        QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 12000), "not registered again");
    }

    void callsOverTls_data()
    {
        QTest::addColumn<bool>("phoneCalls");
        QTest::addColumn<bool>("srtp"); // "Шифров. медиа" "SRTP", baresip srtp-mand
        QTest::newRow("phone calls over TLS") << true << false;
        QTest::newRow("phone calls with SRTP") << true << true;
        QTest::newRow("baresip calls with SRTP") << false << true;
    }

    // Both phones register through Kamailio's TLS listener; the phone's INVITE
    // and the proxy's come over the one connection the phone opened, the tones
    // are heard both ways, and the tap between them sees no SIP text. The
    // phone's G.711 frames caught on loopback carry the tone in clear and noise
    // under SRTP; the log shows every key hidden.
    void callsOverTls()
    {
        QFETCH(bool, phoneCalls);
        QFETCH(bool, srtp);
        if (!tlsPort) {
            QVERIFY(ca.create() && !ca.issue("proxy").isEmpty());
            QVERIFY((tlsPort = PeerProcess::freePort()));
            QVERIFY2(startTls("proxy"), qPrintable(kamailio.errorString()));
        }
        // Both ends set up afresh for each row, with the row's media.
        farEnd.stop();
        farEnd.useTls(ca.caFile(), srtp ? "srtp-mand" : "");
        QVERIFY2(farEnd.start("200", "pw200", tlsPort, farEndPort, 440), qPrintable(farEnd.errorString()));
        kamailio.ctl({"ul.rm", "location", "s:100"});
        QVERIFY2(startPhone("pw100", 3600, {{"transport", "TLS"}, {"caFile", ca.caFile()}, {"sipServerIp", "127.0.0.2"},
                                            {"sipServerPort", QString::number(tlsPort)},
                                            {"encryptMedia", srtp ? "SRTP" : "Отключено"}}),
                 qPrintable(phone.errorString()));
        QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 10000), "not registered over TLS");
        const qint64 calling = tap.now();
        call(phoneCalls, true, "PCMA");
        if (QTest::currentTestFailed())
            return;
        int opened = 0; // connections to the listener
        for (const LoopTap::Datagram &d : tap.to(tlsPort, calling))
            opened += d.opens;
        QVERIFY(tlsWire(calling).size() > 1000 && opened == 0);
        for (const char *text : {"SIP/2.0", "REGISTER", "INVITE", "sip:"})
            QVERIFY2(!tlsWire().contains(text), text);
        // One detector for both: PCMA frames where 1 kHz holds more than half the power.
        int frames = 0, toneFrames = 0;
        for (const LoopTap::Datagram &d : phoneRtp(0)) {
            const QByteArray pcm = RtpPeer::decode({d.payload}, 8);
            frames += !pcm.isEmpty();
            toneFrames += Tone::level(pcm, 1000) > Tone::rms(pcm);
        }
        const QString counted = QStringLiteral("%1 of %2 G.711 frames carry the tone").arg(toneFrames).arg(frames);
        QVERIFY2(frames >= 50 && (srtp ? toneFrames == 0 : toneFrames * 2 > frames), qPrintable(counted));
        const QString log = phone.log(phoneMark);
        QCOMPARE(log.contains("a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:[hidden]"), srtp);
        QVERIFY2(!log.contains(QRegularExpression("inline:(?!\\[hidden\\])")), "a key in the log");
    }

    void tlsRefused_data()
    {
        QTest::addColumn<Refusal>("row");
        QTest::newRow("wrong name") << Refusal{"proxy", "sip.example", "ca.pem", "сертификат не для этого сервера"};
        QTest::newRow("unknown CA") << Refusal{"proxy", "127.0.0.2", "", "сертификат неизвестного центра"};
        QTest::newRow("expired") << Refusal{"expired", "127.0.0.2", "ca.pem", "сертификат сервера просрочен"};
    }

    // A certificate the phone cannot trust ends the connection: the cause on the
    // display (the log records what it shows), no registration, and not one byte
    // of SIP in clear text, however often it tries again.
    void tlsRefused()
    {
        QFETCH(Refusal, row);
        QVERIFY2(tlsPort, "needs callsOverTls first");
        if (row.certificate == "expired") {
            QVERIFY(!ca.issue("expired", true).isEmpty());
            QVERIFY2(startTls("expired"), qPrintable(kamailio.errorString()));
        }
        kamailio.ctl({"ul.rm", "location", "s:100"});
        QVERIFY2(startPhone("pw100", 3600, {{"transport", "TLS"}, {"caFile", row.caFile.isEmpty() ? "" : ca.path(row.caFile)}, {"sipServerIp", "127.0.0.2"},
                                            {"sipServerPort", QString::number(tlsPort)}, {"domain", row.domain}}),
                 qPrintable(phone.errorString()));
        QVERIFY2(phone.waitForLog("| shown: TLS: " + row.shown, 10000), qPrintable(phone.log().right(3000)));
        const QByteArray wire = tlsWire();
        QVERIFY(!wire.isEmpty() && !wire.contains("REGISTER") && !wire.contains("SIP/2.0"));
        QVERIFY(!kamailio.isRegistered("100"));
    }
};

SORVANTO_TEST_MAIN(TstPhone)
#include "tst_phone.moc"
