// The real phone as a person uses it, under Xvfb with PulseAudio null devices,
// against Kamailio (digest registrar, record-routing proxy), baresip and SIPp:
// registration shown, calls both ways with two-way audio measured by tone
// frequency, rejected, cancelled, busy and unavailable calls, the history, a
// proxy restart and a wrong password. The functions run in order on one
// phone: the history check counts the calls the ones before it made.

#include "baresippeer.h"
#include "kamailiopeer.h"
#include "phoneprocess.h"
#include "pulsestream.h"
#include "sipppeer.h"
#include "siptestserver.h"
#include "sqlpeek.h"
#include "stunserver.h"
#include "testmain.h"
#include "tone.h"
#include "xvfbserver.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Places inside the windows (x, y), from their fixed layouts.
const QPoint kHistoryButton(54, 611);
const QPoint kCallButton(160, 611);
const QPoint kAnswerButton(64, 192);   // incoming-call window
const QPoint kRejectButton(236, 192);  // incoming-call window
const QPoint kHangUpButton(148, 190);  // outgoing-call window
const QRect kRegistrationStrip(0, 0, 320, 43);
const QRect kCauseLabel(20, 115, 260, 30); // outgoing-call window

// The phone is 100; 200 is baresip, 300 the SIPp callers, 486 and 480 the
// refusing SIPp callees.
const QMap<QString, QString> kSubscribers = {
    {"100", "pw100"}, {"200", "pw200"}, {"300", "pw300"}, {"486", "pw486"}, {"480", "pw480"}};

const QString kIncoming = QStringLiteral("Bходящий");
const QString kOutgoing = QStringLiteral("Исходящий");

// Dial-pad keys 0-9, centres of the 3 x 5 grid at 20, 226, 280 x 264.
QPoint padKey(QChar digit)
{
    const int d = digit.digitValue();
    const int row = d == 0 ? 3 : (d - 1) / 3;
    const int col = d == 0 ? 1 : (d - 1) % 3;
    return QPoint(20 + 280 * (2 * col + 1) / 6, 226 + 264 * (2 * row + 1) / 10);
}

// Pixels of the registered (green) and unregistered (red) state icons.
QPair<int, int> stateColours(const QImage &image)
{
    int green = 0, red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > c.red() + 60 && c.green() > c.blue() + 40)
                ++green;
            else if (c.red() > c.green() + 80 && c.red() > c.blue() + 80)
                ++red;
        }
    return {green, red};
}

int darkPixels(const QImage &image)
{
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return dark;
}

int seconds(const QString &hms)
{
    const QTime t = QTime::fromString(hms, QStringLiteral("hh:mm:ss"));
    return t.isValid() ? QTime(0, 0).secsTo(t) : -1;
}

} // namespace

class TstPhone : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void registrationShown();
    void outgoingCallTwoWayAudio();
    void incomingCallAnsweredFarEndHangsUp();
    void incomingCallRejected();
    void incomingCallCancelled();
    void farEndRefuses_data();
    void farEndRefuses();
    void historyListsTheCalls();
    void proxyRestartRegistersAgain();
    void wrongPasswordIsBounded();

private:
    static QString scenario(const QString &name)
    {
        return QStringLiteral(SORVANTO_TESTS_DIR "/e2e/sipp/") + name + QStringLiteral(".xml");
    }
    QString proxy() const { return QStringLiteral("127.0.0.2:") + QString::number(port); }
    QMap<QString, QString> account(const QString &password, int registrTimeout) const;
    bool startPhone(const QString &password, int registrTimeout);
    // Clicks the number into the dial pad and presses the call button.
    bool dial(const QString &number);
    bool registrationGreen(int ms);
    // What the phone plays, recorded for `ms` from the speaker's monitor.
    QByteArray recordSpeaker(int ms);
    // The SIP trace of the running scenario: proxy and phone logs since init().
    QString trace() const;
    bool waitFor(const std::function<bool()> &condition, int ms);

    XvfbServer xvfb;
    StunServer stun;
    KamailioPeer kamailio;
    BaresipPeer farEnd;
    PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
    PulseStream micTone;
    quint16 port = 0;
    quint16 farEndPort = 0;
    quint16 sippPort = 0;
    qint64 phoneLogMark = 0;
    int kamailioLogMark = 0;
    QDateTime started;
};

QMap<QString, QString> TstPhone::account(const QString &password, int registrTimeout) const
{
    return {{"account", "100"},        {"sipServerIp", "127.0.0.2"},
            {"sipServerPort", QString::number(port)},
            {"user", "100"},           {"domain", "127.0.0.2"},
            {"login", "100"},          {"password", password},
            {"name", "Sorvanto"},      {"registrTimeout", QString::number(registrTimeout)},
            {"useLog", "true"},        {"codecPCMA", "true"},
            // Via, Contact and SDP carry this address; the settings dialog
            // would offer only non-loopback ones, and the namespace has none.
            {"mediaIp", "127.0.0.1"},
            {"codecPCMU", "true"},     {"mediaPort", QString::number(SipTestServer::freePort())},
            // 127.0.0.2 counts as a public server: STUN goes to the loopback coturn.
            {"STUN", stun.url()}};
}

bool TstPhone::startPhone(const QString &password, int registrTimeout)
{
    phone.stop();
    return phone.seed(account(password, registrTimeout)) && phone.start(xvfb.display());
}

void TstPhone::initTestCase()
{
    started = QDateTime::currentDateTime();
    const QString noAudio = PulseStream::unavailable();
    QVERIFY2(noAudio.isEmpty(), qPrintable(noAudio));
    QVERIFY2(xvfb.start(), qPrintable(xvfb.errorString()));
    QVERIFY2(stun.start(), qPrintable(stun.errorString()));
    port = SipTestServer::freePort();
    farEndPort = SipTestServer::freePort();
    sippPort = SipTestServer::freePort();
    QVERIFY(port && farEndPort && sippPort && port != farEndPort && port != sippPort && farEndPort != sippPort);
    QVERIFY2(kamailio.start(SORVANTO_TESTS_DIR "/agent/kamailio.cfg", port,
                            kSubscribers),
             qPrintable(kamailio.errorString()));
    // Number 200 answers by itself and sends a 440 Hz tone.
    QVERIFY2(farEnd.start("200", "pw200", port, farEndPort, 440), qPrintable(farEnd.errorString()));
    QVERIFY2(startPhone("pw100", 3600), qPrintable(phone.errorString()));
}

void TstPhone::cleanupTestCase()
{
    micTone.stop();
    phone.stop();
    farEnd.stop();
    kamailio.stop();
    stun.stop();
    xvfb.stop();
}

void TstPhone::init()
{
    // The first registration runs during start-up: its trace starts at 0.
    if (qstrcmp(QTest::currentTestFunction(), "registrationShown") == 0)
        return;
    phoneLogMark = phone.logSize();
    kamailioLogMark = kamailio.log().size();
}

void TstPhone::cleanup()
{
    micTone.stop();
    if (!QTest::currentTestFailed())
        return;
    qWarning().noquote() << trace();
    // A call left half way would fail every scenario after this one: start
    // the phone afresh (same data directory, so the history stays).
    if (phone.running() && qstrcmp(QTest::currentTestFunction(), "wrongPasswordIsBounded") != 0) {
        const int timeout = qstrcmp(QTest::currentTestFunction(), "proxyRestartRegistersAgain") == 0 ? 4 : 3600;
        if (!startPhone("pw100", timeout))
            qWarning().noquote() << "the phone did not start again:" << phone.errorString();
    }
}

QString TstPhone::trace() const
{
    // The phone logs every header it parses, twice; the messages themselves
    // and the events are what a reader of a failure needs.
    static const QRegularExpression parseNoise(
        "^\\S+ \\S+ DBG default: (Sip\\w+Header: .*\\n\\n?|[\\w-]+ : .*\\n|  ?\\w+ \\w+( \\w+)?: .*\\n)",
        QRegularExpression::MultilineOption);
    const QString proxyLog = kamailio.log();
    return QStringLiteral("\n===== Kamailio (requests and replies it saw) =====\n")
        + proxyLog.mid(proxyLog.size() >= kamailioLogMark ? kamailioLogMark : 0).right(6000)
        + QStringLiteral("\n===== phone log (messages and events) =====\n") + phone.log(phoneLogMark).remove(parseNoise).right(20000)
        + QStringLiteral("\n===== phone console =====\n") + phone.console().right(3000);
}

bool TstPhone::waitFor(const std::function<bool()> &condition, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

bool TstPhone::dial(const QString &number)
{
    const QString main = phone.mainWindow();
    for (const QChar digit : number) {
        const QPoint key = padKey(digit);
        if (!phone.click(main, key.x(), key.y()))
            return false;
    }
    return phone.click(main, kCallButton.x(), kCallButton.y());
}

bool TstPhone::registrationGreen(int ms)
{
    return waitFor([this] {
        const QPair<int, int> c = stateColours(phone.grab(phone.mainWindow(), kRegistrationStrip));
        return c.first > 20 && c.first > c.second;
    }, ms);
}

QByteArray TstPhone::recordSpeaker(int ms)
{
    PulseStream speaker;
    if (!speaker.record(QStringLiteral("spk.monitor")))
        return QByteArray();
    QByteArray pcm;
    const int wanted = ms * 16; // 8000 Hz, 2 bytes a sample
    waitFor([&] {
        pcm += speaker.take();
        return pcm.size() >= wanted;
    }, ms + 3000);
    speaker.stop();
    return pcm;
}

// REGISTER, 401, authorised REGISTER, 200; the proxy holds the phone's
// contact and the registration strip turns from red to green.
void TstPhone::registrationShown()
{
    QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 8000), "see the SIP trace below");
    QVERIFY(kamailio.ctl({"ul.lookup", "location", "s:100"}).contains("127.0.0.1"));
    QVERIFY2(registrationGreen(5000), "the registration strip does not show the registered state");
    QVERIFY(kamailio.log().contains(QRegularExpression("REQ REGISTER .* from 127\\.0\\.0\\.1:" + QString::number(port))));
    QVERIFY(phone.log().contains("SIP/2.0 401"));
}

// The phone calls 200 (baresip): its microphone's 1 kHz tone reaches the far
// end, the far end's 440 Hz comes out of its speaker, talk time counts (the
// history checks it), and the phone hangs up.
void TstPhone::outgoingCallTwoWayAudio()
{
    QVERIFY2(micTone.play("mic", Tone::sine(1000, 0.3, 8000 * 60)), qPrintable(micTone.errorString()));
    QVERIFY(dial("200"));
    const QString window = phone.findWindow(kOutgoing, 5000);
    QVERIFY2(!window.isEmpty(), "the outgoing-call window did not appear");
    QVERIFY2(waitFor([this] { return farEnd.callEstablished(); }, 10000), qPrintable(farEnd.log()));

    const QByteArray heard = recordSpeaker(2500);
    QVERIFY2(heard.size() > 16000, "nothing recorded from the speaker");
    const QByteArray lastSecond = heard.right(16000);
    QVERIFY2(Tone::rms(lastSecond) > 0.01, "the phone's speaker is silent during the call");
    QCOMPARE(qRound(Tone::dominant(lastSecond) / 10) * 10, 440);

    QVERIFY2(waitFor([this] { return farEnd.received().size() >= 32000; }, 5000),
             "the far end received under 2 s of audio");
    const QByteArray sent = farEnd.received().right(16000);
    QVERIFY2(Tone::rms(sent) > 0.01, "the far end hears silence");
    QCOMPARE(qRound(Tone::dominant(sent) / 10) * 10, 1000);

    QVERIFY(phone.click(window, kHangUpButton.x(), kHangUpButton.y()));
    QVERIFY2(phone.waitWindowGone(kOutgoing, 5000), "the outgoing-call window stayed after hang-up");
    QVERIFY2(waitFor([this] { return farEnd.callClosed(); }, 5000), qPrintable(farEnd.log()));
    QVERIFY(phone.log(phoneLogMark).contains("BYE"));
}

// 300 (SIPp, echoing the phone's RTP) calls: the incoming-call window
// appears, the user answers, the echoed microphone tone comes back out of the
// speaker, the far end hangs up, the busy tone plays and the window closes.
void TstPhone::incomingCallAnsweredFarEndHangsUp()
{
    QVERIFY2(micTone.play("mic", Tone::sine(1000, 0.3, 8000 * 60)), qPrintable(micTone.errorString()));
    SippPeer caller;
    QVERIFY2(caller.start(scenario("caller_answered"), "127.0.0.1", sippPort, proxy(),
                          {"-s", "100", "-au", "300", "-ap", "pw300", "-rtp_echo"}),
             qPrintable(caller.errorString()));
    const QString window = phone.findWindow(kIncoming, 8000);
    QVERIFY2(!window.isEmpty(), qPrintable("the incoming-call window did not appear" + caller.report()));
    QVERIFY2(Tone::rms(recordSpeaker(1000).right(6400)) > 0.005, "no ringing tone");
    QVERIFY(phone.click(window, kAnswerButton.x(), kAnswerButton.y()));
    QVERIFY2(phone.waitForLog("audioStart", 5000, phoneLogMark), qPrintable(caller.report()));

    const QByteArray heard = recordSpeaker(2000).right(8000);
    QVERIFY2(Tone::rms(heard) > 0.01, qPrintable("the echoed tone does not reach the speaker"));
    QCOMPARE(qRound(Tone::dominant(heard) / 10) * 10, 1000);

    QVERIFY2(phone.waitForLog("busyStart", 8000, phoneLogMark), qPrintable(caller.report()));
    micTone.stop();
    // The voice has stopped; what the speaker plays now is the busy tone.
    QVERIFY2(Tone::rms(recordSpeaker(1000).right(6400)) > 0.005,
             qPrintable("no busy tone after the far end hung up; phone log:\n" + phone.log(phoneLogMark).right(3000)));
    QVERIFY2(phone.waitWindowGone(kIncoming, 6000), "the incoming-call window stayed after the busy tone");
    QVERIFY2(caller.finish(), qPrintable(caller.errorString()));
}

// The user turns a ringing call away: the caller gets 486 and acknowledges it.
void TstPhone::incomingCallRejected()
{
    SippPeer caller;
    QVERIFY2(caller.start(scenario("caller_rejected"), "127.0.0.1", sippPort, proxy(),
                          {"-s", "100", "-au", "300", "-ap", "pw300"}),
             qPrintable(caller.errorString()));
    const QString window = phone.findWindow(kIncoming, 8000);
    QVERIFY2(!window.isEmpty(), qPrintable("the incoming-call window did not appear" + caller.report()));
    QVERIFY(phone.click(window, kRejectButton.x(), kRejectButton.y()));
    QVERIFY2(caller.finish(), qPrintable(caller.errorString()));
    QVERIFY2(phone.waitWindowGone(kIncoming, 5000), "the incoming-call window stayed after rejecting");
}

// The caller gives up while the phone rings: the window closes by itself.
void TstPhone::incomingCallCancelled()
{
    SippPeer caller;
    QVERIFY2(caller.start(scenario("caller_cancels"), "127.0.0.1", sippPort, proxy(),
                          {"-s", "100", "-au", "300", "-ap", "pw300"}),
             qPrintable(caller.errorString()));
    QVERIFY2(!phone.findWindow(kIncoming, 8000).isEmpty(),
             qPrintable("the incoming-call window did not appear" + caller.report()));
    QVERIFY2(phone.waitForLog("CANCEL", 8000, phoneLogMark), qPrintable(caller.report()));
    QVERIFY2(phone.waitWindowGone(kIncoming, 8000), "the incoming-call window stayed after the caller cancelled");
    QVERIFY2(caller.finish(), qPrintable(caller.errorString()));
}

void TstPhone::farEndRefuses_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("callee");
    QTest::newRow("busy") << "486" << "Busy Here" << "callee_busy";
    QTest::newRow("unavailable") << "480" << "Temporarily Unavailable" << "callee_unavailable";
}

// The far end refuses: the cause stands in the outgoing-call window until
// the busy tone ends the call, and the refusal is acknowledged.
void TstPhone::farEndRefuses()
{
    QFETCH(QString, code);
    QFETCH(QString, reason);
    QFETCH(QString, callee);
    // SIPp registers as the number itself, then answers on the same port.
    SippPeer reg;
    QVERIFY2(reg.start(scenario("register"), "127.0.0.1", sippPort, proxy(), {"-s", code, "-au", code, "-ap", "pw" + code}),
             qPrintable(reg.errorString()));
    QVERIFY2(reg.finish(), qPrintable(reg.errorString()));
    SippPeer refusing;
    QVERIFY2(refusing.start(scenario(callee), "127.0.0.1", sippPort, QString()), qPrintable(refusing.errorString()));

    // This time the number is typed on the keyboard.
    QVERIFY(phone.keys(phone.mainWindow(), code.split(QString(), Qt::SkipEmptyParts)));
    QVERIFY(phone.click(phone.mainWindow(), kCallButton.x(), kCallButton.y()));
    const QString window = phone.findWindow(kOutgoing, 5000);
    QVERIFY2(!window.isEmpty(), qPrintable("the outgoing-call window did not appear"));
    QVERIFY2(phone.waitForLog("busyStart", 8000, phoneLogMark), qPrintable(refusing.report()));
    QVERIFY2(phone.log(phoneLogMark).contains(code + ' ' + reason), "see the SIP trace below");
    QVERIFY2(Tone::rms(recordSpeaker(1000).right(6400)) > 0.005, "no busy tone");
    QVERIFY2(darkPixels(phone.grab(window, kCauseLabel)) > 20, "no cause shown in the outgoing-call window");
    QVERIFY2(phone.waitWindowGone(kOutgoing, 6000), "the outgoing-call window stayed after the busy tone");
    QVERIFY2(refusing.finish(), qPrintable(refusing.errorString()));
}

// Every call above left one row, with its kind, start and talk time; the
// history window reads them all.
void TstPhone::historyListsTheCalls()
{
    struct Row { QString called, ctime, time, info; };
    QList<Row> rows;
    {
        SqlPeek peek(phone.databaseFile());
        const QVariantList called = peek.column("SELECT called FROM history ORDER BY id");
        const QVariantList ctime = peek.column("SELECT ctime FROM history ORDER BY id");
        const QVariantList time = peek.column("SELECT time FROM history ORDER BY id");
        const QVariantList info = peek.column("SELECT info FROM history ORDER BY id");
        for (int i = 0; i < called.size(); ++i)
            rows.append({called.at(i).toString(), ctime.value(i).toString(), time.value(i).toString(),
                         info.value(i).toString()});
    }
    const QList<QPair<QString, QString>> expected = {
        {"200", "Out"}, {"300", "In"}, {"300", "Break"}, {"300", "Break"}, {"486", "Out"}, {"480", "Out"}};
    QCOMPARE(rows.size(), expected.size());
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows.at(i).called, expected.at(i).first);
        QCOMPARE(rows.at(i).info, expected.at(i).second);
        const QDateTime start = QDateTime::fromString(rows.at(i).ctime, "dd.MM.yyyy HH:mm:ss");
        QVERIFY2(start.isValid() && start >= started.addSecs(-1) && start <= QDateTime::currentDateTime(),
                 qPrintable(rows.at(i).ctime));
    }
    // The two answered calls lasted some seconds; the others none.
    QVERIFY2(seconds(rows.at(0).time) >= 2, qPrintable(rows.at(0).time));
    QVERIFY2(seconds(rows.at(1).time) >= 2, qPrintable(rows.at(1).time));
    for (int i = 2; i < rows.size(); ++i)
        QCOMPARE(rows.at(i).time, QString("00:00:00"));

    const qint64 mark = phone.logSize();
    QVERIFY(phone.click(phone.mainWindow(), kHistoryButton.x(), kHistoryButton.y()));
    const QString window = phone.findWindow(QStringLiteral("История"), 5000);
    QVERIFY2(!window.isEmpty(), "the history window did not appear");
    const QRegularExpression count("count = +" + QString::number(rows.size()) + "\\b");
    QVERIFY2(waitFor([&] { return phone.log(mark).contains(count); }, 5000), qPrintable(phone.log(mark)));
    const QString listed = phone.log(mark);
    for (const Row &row : rows)
        QVERIFY2(listed.contains("All called = " + row.called), qPrintable(row.called));
    QVERIFY(phone.keys(window, {"Escape"}));
    QVERIFY(phone.waitWindowGone(QStringLiteral("История"), 5000));
}

// Kamailio forgets its registrations when restarted; the phone, re-registering
// every few seconds, is back in its location table within the 5 s retry.
void TstPhone::proxyRestartRegistersAgain()
{
    QVERIFY2(startPhone("pw100", 4), qPrintable(phone.errorString()));
    QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 8000), "see the SIP trace below");
    QVERIFY(registrationGreen(5000));
    kamailio.stop();
    QVERIFY2(kamailio.start(SORVANTO_TESTS_DIR "/agent/kamailio.cfg", port,
                            kSubscribers),
             qPrintable(kamailio.errorString()));
    kamailioLogMark = 0;
    QVERIFY(!kamailio.isRegistered("100"));
    QVERIFY2(waitFor([this] { return kamailio.isRegistered("100"); }, 10000), "see the SIP trace below");
    QVERIFY(registrationGreen(5000));
}

// With a wrong password each attempt stops after the allowed challenges, the
// next comes from the 5 s timer, and the strip stays red.
void TstPhone::wrongPasswordIsBounded()
{
    phone.stop();
    kamailio.ctl({"ul.rm", "location", "s:100"});
    QVERIFY(!kamailio.isRegistered("100"));
    QVERIFY2(startPhone("wrong", 3600), qPrintable(phone.errorString()));
    const qint64 mark = phoneLogMark;
    const QString refused = QStringLiteral("credentials refused");
    QVERIFY2(waitFor([&] { return phone.log(mark).count(refused) >= 2; }, 15000), "see the SIP trace below");
    QVERIFY(!kamailio.isRegistered("100"));
    const QPair<int, int> colours = stateColours(phone.grab(phone.mainWindow(), kRegistrationStrip));
    QVERIFY2(colours.second > 20 && colours.second > colours.first, "the strip does not show the unregistered state");

    const QString proxyLog = kamailio.log().mid(kamailioLogMark);
    const int registers = proxyLog.count(QRegularExpression("REQ REGISTER .* from 127\\.0\\.0\\.1:"
                                                            + QString::number(port) + "\\b"));
    const int attempts = phone.log(mark).count(refused);
    // One plain REGISTER and two answered challenges per attempt, and at
    // most one more attempt under way.
    QVERIFY2(registers <= 3 * (attempts + 1), qPrintable(QString("%1 REGISTERs for %2 attempts").arg(registers).arg(attempts)));
}

SORVANTO_TEST_MAIN(TstPhone)
#include "tst_phone.moc"
