// The sound server's devices as the phone drives them, on the test's private
// PulseAudio daemon: the microphone delivers in real time in small blocks at
// the asked rate, the speaker asks for what it plays in real time and keeps
// little queued, a stalled thread is reported as a dry speaker, and with no
// server the devices say so (the phone then keeps to Qt's) and find it when
// asked to try again; a server that goes away in a call is found again when
// it comes back, and the call's streams run again.

#include "pulsedevices.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

class TstPulseDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void realTime_data();
    void realTime();
    void stalledSpeakerRunsDry();
    void noServer();
    void serverComesBack();
};

namespace {

struct Counts
{
    qint64 samples = 0, first = 0, dry = 0;
    int batches = 0;   // hand-overs more than 2 ms apart
    QElapsedTimer clock;
    qint64 lastMs = -10;
    void arrived(int count)
    {
        if (!clock.isValid())
            clock.start();
        if (clock.elapsed() - lastMs > 2)
            ++batches;
        lastMs = clock.elapsed();
        samples += count;
    }
};

PulseDevices::Hooks counting(Counts &c)
{
    PulseDevices::Hooks hooks;
    hooks.captured = [&c](const char *, int len) { c.arrived(len / 2); };
    hooks.fill = [&c](qint16 *out, int count) {
        if (c.samples == 0)
            c.first = count;
        std::fill(out, out + count, qint16(1000));
        c.arrived(count);
    };
    hooks.ranDry = [&c] { ++c.dry; };
    return hooks;
}

} // namespace

void TstPulseDevices::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        QSKIP("no private PulseAudio daemon (scripts/pulse.sh)");
}

void TstPulseDevices::realTime_data()
{
    QTest::addColumn<bool>("record");
    QTest::addColumn<int>("rate");
    QTest::newRow("microphone, 8 kHz") << true << 8000;
    QTest::newRow("microphone, 16 kHz") << true << 16000;
    QTest::newRow("speaker, 8 kHz") << false << 8000;
    QTest::newRow("speaker, 16 kHz") << false << 16000;
}

void TstPulseDevices::realTime()
{
    QFETCH(bool, record);
    QFETCH(int, rate);
    Counts c;
    PulseDevices devices(counting(c));
    record ? devices.startCapture(rate) : devices.startPlayback(rate);
    QTRY_VERIFY_WITH_TIMEOUT(c.samples > 0, 3000);
    QVERIFY(devices.usable());
    // What two seconds move, once the stream runs: as much as the rate, handed
    // over every 10 ms (at least every 25 ms on a busy machine).
    const qint64 from = c.samples;
    const int batches = c.batches;
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(2000);
    const double seconds = double(clock.elapsed()) / 1000.0;
    const double perSecond = double(c.samples - from) / seconds;
    QVERIFY2(std::abs(perSecond - rate) < 0.05 * rate, qPrintable(QString::number(perSecond) + " samples a second"));
    QVERIFY2(c.batches - batches >= 40 * seconds, qPrintable(QString::number(c.batches - batches) + " hand-overs"));
    if (!record)   // the speaker queues 30 ms, no more
        QVERIFY2(c.first <= rate * 3 / 100, qPrintable(QString::number(c.first) + " samples queued first"));
    record ? devices.stopCapture() : devices.stopPlayback();
    const qint64 stopped = c.samples;
    QTest::qWait(200);
    QCOMPARE(c.samples, stopped);
}

void TstPulseDevices::stalledSpeakerRunsDry()
{
    Counts c;
    PulseDevices devices(counting(c));
    devices.startPlayback(8000);
    QTest::qWait(1000);
    // A loaded machine may run it dry now and then by itself.
    const qint64 before = c.dry;
    QThread::msleep(150);   // the thread is starved: the 30 ms queued run out
    QTRY_VERIFY_WITH_TIMEOUT(c.dry > before, 1000);
}

void TstPulseDevices::noServer()
{
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/native");
    Counts c;
    PulseDevices devices(counting(c));
    QTRY_VERIFY_WITH_TIMEOUT(!devices.usable(), 2000);
    devices.startCapture(8000);
    devices.startPlayback(8000);
    QVERIFY(!devices.playing());
    QTest::qWait(100);
    QCOMPARE(c.samples, 0);
    // The server is there by the next call.
    qputenv("PULSE_SERVER", server);
    devices.retry();
    devices.startCapture(8000);
    QTRY_VERIFY_WITH_TIMEOUT(c.samples > 0, 3000);
    QVERIFY(devices.usable());
}

void TstPulseDevices::serverComesBack()
{
    // A daemon of this test's own, so that killing it harms no other test.
    QTemporaryDir dir;
    const QString socket = dir.filePath("native");
    QVERIFY(QDir().mkpath(dir.filePath("home")));
    QFile config(dir.filePath("default.pa"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QString("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                         "load-module module-null-sink sink_name=spk\nset-default-sink spk\nset-default-source spk.monitor\n")
                     .arg(socket).toUtf8());
    config.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("HOME", dir.filePath("home"));
    QProcess daemon;
    daemon.setProcessEnvironment(env);
    const auto start = [&] {   // listening once its socket is there
        daemon.start("pulseaudio", {"-n", "-F", config.fileName(), "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no"});
        return daemon.waitForStarted(5000) && QTest::qWaitFor([&] { return QFile::exists(socket); }, 5000);
    };
    QVERIFY(start());
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
    Counts mic, speaker;
    PulseDevices::Hooks hooks = counting(speaker);
    hooks.captured = [&mic](const char *, int len) { mic.arrived(len / 2); };
    PulseDevices devices(std::move(hooks));
    devices.startCapture(8000);
    devices.startPlayback(8000);
    QTRY_VERIFY_WITH_TIMEOUT(mic.samples > 0 && speaker.samples > 0, 5000);

    daemon.kill();
    daemon.waitForFinished(3000);
    QTRY_VERIFY_WITH_TIMEOUT(!devices.usable(), 3000);
    QVERIFY(devices.playing());   // the call still wants its speaker
    const qint64 dry = speaker.dry;
    QFile::remove(socket);
    QVERIFY(start());
    const qint64 heard = mic.samples, played = speaker.samples;
    QTRY_VERIFY_WITH_TIMEOUT(devices.usable() && mic.samples > heard + 8000 && speaker.samples > played + 8000, 10000);
    QVERIFY2(speaker.dry > dry, "the canceller is not told that the speaker started over");
    qputenv("PULSE_SERVER", server);
    devices.stopCapture();
    devices.stopPlayback();
    daemon.kill();
    daemon.waitForFinished(3000);
}

QTEST_GUILESS_MAIN(TstPulseDevices)
#include "tst_pulsedevices.moc"
