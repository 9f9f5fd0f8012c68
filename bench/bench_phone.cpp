// The whole phone as a user feels it, beside baresip in the same run: start-up
// to the first REGISTER on the wire, the "invite" command to the INVITE, the
// 200 OK to audio running, CPU and memory in a call, and the mouth-to-wire and
// wire-to-ear delays through the PulseAudio null devices "mic" and "spk" (each
// the median of five tone onsets); then a call over Opus with the far end
// talking (a synthetic voice) for the CPU a second with the echo canceller on
// beside baresip over Opus, and one with an echo path on the null devices
// (the speaker's monitor looped into the microphone 120 ms later, a second
// reflection 60 ms after it at a third of the level): how far below the far
// end's voice what came back lay after 2 s (baresip, with no canceller, shows
// the path's own echo), and the canceller's ERLE over that 6 s call, from the
// call's figures; last, mouth to wire once more in a call with the canceller
// off, for the canceller's own delay.
// Needs a private PulseAudio daemon (scripts/pulse.sh) and loopback only: run
// it inside `unshare -n` after `ip link set lo up`.
//
// Sorvanto runs as the real binary for start-up, and as this program's child in
// "--phone" mode (the same core, commands read from stdin) for the call figures.
// Both phones register with and call a minimal registrar on 127.0.0.2 that
// answers everything itself; a far end on 127.0.0.1 sends 20 ms A-law packets.
// Start to registered over TLS: both through Kamailio's TLS listener with a
// certificate of a per-run CA (the tests' peers), from the process start to
// Kamailio's log line of the saved contact; the median of three starts.
// CPU of a call over TLS, clear and SRTP: each phone calls baresip (440 Hz,
// "srtp-mand" for SRTP) through that listener; the CPU of the caller from 1 s
// after the callee's "Call established" on, for 5 s.
#include "baresippeer.h"
#include "codec.h"
#include "application.h"
#include "audio.h"
#include "audiocodec.h"
#include "opuscodec.h"
#include "sip.h"
#include "kamailiopeer.h"
#include "testca.h"
#include "tone.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

#include <pulse/simple.h>

namespace {

qint64 nowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void quiet(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
    const qint64 end = nowUs() + qint64(ms) * 1000;
    while (!done()) {
        if (nowUs() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(500);
    }
    return true;
}

void pause(int ms)
{
    waitUntil([] { return false; }, ms);
}

qint64 procRssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

qint64 procCpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields.at(11).toLongLong() + fields.at(12).toLongLong()) * 1000 / sysconf(_SC_CLK_TCK);
}

double rms(const QVector<qint16> &s)
{
    double sum = 0;
    for (qint16 v : s)
        sum += double(v) * v;
    return s.isEmpty() ? 0 : std::sqrt(sum / s.size());
}

quint16 freeUdpPort(const char *address)
{
    QUdpSocket s;
    s.bind(QHostAddress(QString::fromLatin1(address)), 0);
    return s.localPort();
}

// --- the far side: registrar and callee on 127.0.0.2, RTP far end on 127.0.0.1 ---

class FarSide : public QObject
{
public:
    QUdpSocket sip;
    QUdpSocket rtp;
    qint64 firstRegisterUs = 0;
    qint64 inviteUs = 0;
    qint64 okSentUs = 0;
    qint64 firstRtpUs = 0;
    qint64 firstLoudRtpUs = 0;
    qint64 loudAfterUs = 0; // a packet counts as the tone only after this time
    int rtpReceived = 0;
    QHostAddress phoneRtpAddress;
    quint16 phoneRtpPort = 0;
    qint64 toneFromUs = -1; // send the tone instead of silence from then on
    qint64 firstTonePacketUs = 0;
    bool useOpus = false;    // answer Opus when offered, and talk over it

    // What came back against what the far end said over Opus, from 2 s of its
    // voice on (what came back from 2.3 s, past the echo path's delay and the
    // phone's own): dB below its voice, the echo the far end would hear.
    double echoBelowDb() const
    {
        return heardSamples && saidSamples && heardEnergy > 0
            ? 10 * std::log10((saidEnergy / double(saidSamples)) / (heardEnergy / double(heardSamples)))
            : -1;
    }

    bool start(quint16 sipPort)
    {
        connect(&sip, &QUdpSocket::readyRead, this, &FarSide::readSip);
        connect(&rtp, &QUdpSocket::readyRead, this, &FarSide::readRtp);
        connect(&pace, &QTimer::timeout, this, &FarSide::sendFrame);
        pace.setTimerType(Qt::PreciseTimer);
        return sip.bind(QHostAddress("127.0.0.2"), sipPort, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)
            && rtp.bind(QHostAddress("127.0.0.1"), 0);
    }

    void reset()
    {
        firstRegisterUs = inviteUs = okSentUs = firstRtpUs = firstLoudRtpUs = loudAfterUs = 0;
        rtpReceived = 0;
        phoneRtpPort = 0;
        toneFromUs = -1;
        firstTonePacketUs = 0;
        useOpus = false;
        opus.reset();
        heard.reset();
        pace.stop();
        streamFromUs = 0;
        saidEnergy = heardEnergy = 0;
        saidSamples = heardSamples = 0;
    }

    void startStream()
    {
        streamFromUs = nowUs();
        pace.start(20);
    }
    bool overOpus() const { return bool(opus); }
    void stopStream() { pace.stop(); }

private:
    QTimer pace;
    std::unique_ptr<AudioCodec> opus, heard;   // the far end's encoder, and its decoder of the phone's packets
    qint64 streamFromUs = 0;
    double saidEnergy = 0, heardEnergy = 0;
    qint64 saidSamples = 0, heardSamples = 0;
    const QVector<qint16> voice = Tone::voice(10 * OpusCodec::rate, OpusCodec::rate, 7);

    static QString header(const QStringList &lines, const QString &name)
    {
        for (const QString &l : lines)
            if (l.section(':', 0, 0).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return l.section(':', 1).trimmed();
        return QString();
    }

    void reply(const QStringList &request, const QString &status, const QHostAddress &to, quint16 port,
               const QStringList &extra = {}, const QString &body = QString())
    {
        QString toHeader = header(request, "To");
        if (!toHeader.contains(";tag="))
            toHeader += ";tag=far1";
        QStringList lines{"SIP/2.0 " + status};
        for (const QString &l : request)
            if (l.startsWith("Via:", Qt::CaseInsensitive) || l.startsWith("v:"))
                lines << l;
        lines << "From: " + header(request, "From") << "To: " + toHeader << "Call-ID: " + header(request, "Call-ID")
              << "CSeq: " + header(request, "CSeq");
        lines += extra;
        lines << "Content-Length: " + QString::number(body.toUtf8().size());
        sip.writeDatagram((lines.join("\r\n") + "\r\n\r\n" + body).toUtf8(), to, port);
    }

    void readSip()
    {
        while (sip.hasPendingDatagrams()) {
            QByteArray d(int(sip.pendingDatagramSize()), Qt::Uninitialized);
            QHostAddress from;
            quint16 port = 0;
            d.resize(int(sip.readDatagram(d.data(), d.size(), &from, &port)));
            const qint64 t = nowUs();
            const QStringList lines = QString::fromUtf8(d).section("\r\n\r\n", 0, 0).split("\r\n");
            const QString method = lines.value(0).section(' ', 0, 0);
            if (method == "REGISTER") {
                if (!firstRegisterUs)
                    firstRegisterUs = t;
                reply(lines, "200 OK", from, port, {"Contact: " + header(lines, "Contact") + ";expires=3600"});
            } else if (method == "INVITE") {
                // Opus with the offer's payload type, and the phone's own parameters.
                static const QRegularExpression opusMap("a=rtpmap:(\\d+) opus/48000/2", QRegularExpression::CaseInsensitiveOption);
                const QRegularExpressionMatch offered = opusMap.match(QString::fromUtf8(d));
                SdpFormat format = OpusCodec::offer();
                format.payloadType = offered.captured(1).toInt();
                if (!inviteUs && useOpus && offered.hasMatch()) {
                    opus = AudioCodec::create(format);
                    heard = AudioCodec::create(format);
                }
                const QString media = opus ? QStringLiteral("%1\r\na=rtpmap:%1 opus/48000/2\r\na=fmtp:%1 %2")
                                                 .arg(format.payloadType).arg(format.fmtp)
                                           : QStringLiteral("8\r\na=rtpmap:8 PCMA/8000");
                const QString sdp = QStringLiteral("v=0\r\no=far 1 1 IN IP4 127.0.0.1\r\ns=far\r\nc=IN IP4 127.0.0.1\r\n"
                                                   "t=0 0\r\nm=audio %1 RTP/AVP %2\r\na=ptime:20\r\na=sendrecv\r\n")
                                        .arg(rtp.localPort()).arg(media);
                if (!inviteUs)
                    inviteUs = t;
                okSentUs = nowUs();
                reply(lines, "200 OK", from, port,
                      {QStringLiteral("Contact: <sip:200@127.0.0.2:%1>").arg(sip.localPort()),
                       "Content-Type: application/sdp"},
                      sdp);
            } else if (method == "BYE" || method == "OPTIONS" || method == "CANCEL") {
                reply(lines, "200 OK", from, port);
            }
        }
    }

    void readRtp()
    {
        while (rtp.hasPendingDatagrams()) {
            QByteArray d(int(rtp.pendingDatagramSize()), Qt::Uninitialized);
            QHostAddress from;
            quint16 port = 0;
            d.resize(int(rtp.readDatagram(d.data(), d.size(), &from, &port)));
            const qint64 t = nowUs();
            if (d.size() <= 12)
                continue;
            if (!rtpReceived++)
                firstRtpUs = t;
            phoneRtpAddress = from;
            phoneRtpPort = port;
            if (opus) {
                // Every packet decoded, in order, for the decoder's state; counted while the far end talks.
                const QVector<qint16> pcm = heard->decode(d.mid(12));
                if (pace.isActive() && t - streamFromUs >= 2300000) {
                    for (const qint16 v : pcm)
                        heardEnergy += double(v) * v;
                    heardSamples += pcm.size();
                }
                continue;
            }
            const int pt = d.at(1) & 0x7F;
            QVector<qint16> s;
            for (int i = 12; i < d.size(); ++i) {
                const unsigned char c = static_cast<unsigned char>(d.at(i));
                s << qint16(pt == 0 ? alaw2linear(ulaw_to_alaw(c)) : alaw2linear(c));
            }
            if (loudAfterUs && t >= loudAfterUs && !firstLoudRtpUs && rms(s) > 1000)
                firstLoudRtpUs = t;
        }
    }

    void sendFrame()
    {
        if (!phoneRtpPort)
            return;
        const qint64 t = nowUs();
        const bool tone = toneFromUs >= 0 && t >= toneFromUs;
        if (tone && !firstTonePacketUs)
            firstTonePacketUs = t;
        QByteArray p(12, 0);
        p[0] = char(0x80);
        p[1] = char(opus ? opus->format().payloadType : 8);
        p[2] = char(seq >> 8);
        p[3] = char(seq);
        ++seq;
        ts += opus ? quint32(opus->frameTicks()) : 160;
        for (int i = 0; i < 4; ++i)
            p[4 + i] = char(ts >> (24 - 8 * i));
        p[8] = 0x12;
        if (opus) {
            // The voice, looped, as the far end talks.
            QVector<qint16> frame(opus->frameSamples());
            for (qint16 &v : frame)
                v = voice[int(phase++ % voice.size())];
            if (t - streamFromUs >= 2000000) {
                for (const qint16 v : frame)
                    saidEnergy += double(v) * v;
                saidSamples += frame.size();
            }
            p += opus->encode(frame.constData());
        }
        for (int i = 0; !opus && i < 160; ++i) {
            const double v = tone ? 9000 * std::sin(2 * M_PI * 1000 * (phase++) / 8000.0) : 0;
            p += char(linear2alaw(short(v)));
        }
        rtp.writeDatagram(p, phoneRtpAddress, phoneRtpPort);
    }

    quint16 seq = 0;
    quint32 ts = 0;
    qint64 phase = 0;
};

// --- the microphone and the speaker: a stream into "mic", one from spk.monitor ---

// The mouth plays into the microphone's sink through the sound server's simple
// API, so that it can ask how much is queued before what it writes: a feeding
// process such as pacat keeps a queue of its own, which settled anywhere from
// nothing to 100 ms for a whole run and counted as the phone's.
class Mouth : public QObject
{
public:
    qint64 toneFromUs = -1;
    qint64 toneAtMicUs = 0;   // when the tone's first sample reaches the sink: written, and all queued before it played

    bool start()
    {
        const pa_sample_spec format { PA_SAMPLE_S16LE, 8000, 1 };
        pa_buffer_attr attr;
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = uint32_t(-1);
        attr.tlength = 2 * 8000 * 30 / 1000;   // 30 ms: room for the next 10 ms, so a write does not wait
        sink = pa_simple_new(nullptr, "bench_phone", PA_STREAM_PLAYBACK, "mic", "mouth", &format, nullptr, &attr, nullptr);
        if (!sink)
            return false;
        connect(&pace, &QTimer::timeout, this, &Mouth::feed);
        pace.setTimerType(Qt::PreciseTimer);
        pace.start(10);
        return true;
    }
    void stop()
    {
        pace.stop();
        if (sink)
            pa_simple_free(sink);
        sink = nullptr;
    }
    ~Mouth() override { stop(); }

private:
    // Real-time pace, 10 ms a write. Each onset's tone begins 4 ms later than the one before, so that five
    // onsets fall across the phone's 20 ms packet: one alone would meet it where the run's phase puts it.
    void feed()
    {
        const bool on = toneFromUs >= 0 && nowUs() >= toneFromUs;
        if (on && sinceOn == 0)
            lead = 32 * (onsets++ % 5);
        QByteArray block(160, 0);
        qint16 *s = reinterpret_cast<qint16 *>(block.data());
        int first = -1;   // the tone's first sample, if in this block
        for (int i = 0; i < 80; ++i) {
            const bool sound = on && sinceOn++ >= lead;
            if (sound && first < 0 && !toneAtMicUs)
                first = i;
            s[i] = sound ? qint16(9000 * std::sin(2 * M_PI * 1000 * (phase++) / 8000.0)) : 0;
        }
        if (!on)
            sinceOn = 0;
        if (pa_simple_write(sink, block.constData(), size_t(block.size()), nullptr) < 0)
            return;
        if (first >= 0) {
            // The latency covers the whole block just written; the tone starts (80 - first) samples before its end.
            const pa_usec_t queued = pa_simple_get_latency(sink, nullptr);
            toneAtMicUs = nowUs() + qint64(queued) - (80 - first) * 125;
        }
    }
    pa_simple *sink = nullptr;
    QTimer pace;
    qint64 phase = 0;
    qint64 sinceOn = 0;   // samples since the tone was switched on
    int lead = 0;         // silent samples before this onset's tone
    int onsets = 0;
};

// The ear records the speaker's monitor through the same API, on a thread of
// its own (a read waits for its 10 ms), and dates a loud block by when it was
// played: read, less what the server still holds after it.
class Ear
{
public:
    std::atomic<qint64> loudAfterUs { 0 };
    std::atomic<qint64> firstLoudUs { 0 };

    bool start()
    {
        const pa_sample_spec format { PA_SAMPLE_S16LE, 8000, 1 };
        pa_buffer_attr attr;
        attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        attr.fragsize = 2 * 8000 * 10 / 1000;   // 10 ms
        source = pa_simple_new(nullptr, "bench_phone", PA_STREAM_RECORD, "spk.monitor", "ear", &format, nullptr, &attr, nullptr);
        if (!source)
            return false;
        running = true;
        reader = std::thread([this] { listen(); });
        return true;
    }
    void stop()
    {
        running = false;
        if (reader.joinable())
            reader.join();
        if (source)
            pa_simple_free(source);
        source = nullptr;
    }
    ~Ear() { stop(); }

private:
    void listen()
    {
        QVector<qint16> s(80);
        while (running && pa_simple_read(source, s.data(), size_t(2 * s.size()), nullptr) >= 0) {
            const qint64 after = loudAfterUs;
            if (!after || firstLoudUs || rms(s) <= 1000)
                continue;
            const qint64 played = nowUs() - qint64(pa_simple_get_latency(source, nullptr));
            if (played >= after)
                firstLoudUs = played;
        }
    }
    pa_simple *source = nullptr;
    std::atomic<bool> running { false };
    std::thread reader;
};

// --- the two phones ---

struct Figures {
    double startToRegister = -1, startToWindow = -1, inviteToDatagram = -1, okToAudio = -1;
    double cpuPerSecond = -1, rssIdle = -1, rssCall = -1, mouthToWire = -1, wireToEar = -1, mouthToWireNoCanceller = -1;
    double startToRegisteredTls = -1;
    double cpuTlsClear = -1, cpuSrtp = -1;
    double cpuOpus = -1, erle = -1, echoBelow = -1;
};

QString ms(double us) { return us < 0 ? QStringLiteral("n/a") : QString::number(us / 1000.0, 'f', 1); }

// The median over five tone onsets of the time from a tone's first sample
// sent to its first loud 20 ms at the other end; -1 when none came. One onset
// moves by up to a packet with where it falls in the 20 ms frame and with the
// devices' wake-ups. `tone(at)` starts the tone at time `at` and watches for it
// from then (at -1: silence, and nothing watched); `sent()` is when its first
// sample went out and `heard()` when it was first heard loud, 0 before.
double medianOnset(const std::function<void(qint64)> &tone, const std::function<qint64()> &sent,
                   const std::function<qint64()> &heard)
{
    QVector<double> us;
    pause(1000);
    for (int i = 0; i < 5; ++i) {
        tone(nowUs() + 300000);
        if (waitUntil([&] { return heard() != 0; }, 4000))
            us << double(heard() - sent());
        tone(-1);
        pause(400);   // the tone's tail leaves the canceller, the jitter buffer and the devices
    }
    std::sort(us.begin(), us.end());
    return us.isEmpty() ? -1 : us[us.size() / 2];
}

// From the tone reaching the microphone sink to its packets on the wire, in a call that runs.
double mouthToWire(FarSide &far)
{
    Mouth mouth;
    double us = -1;
    if (mouth.start())
        us = medianOnset(
            [&](qint64 at) {
                far.firstLoudRtpUs = mouth.toneAtMicUs = 0;
                far.loudAfterUs = std::max<qint64>(at, 0);
                mouth.toneFromUs = at;
            },
            [&] { return mouth.toneAtMicUs; }, [&] { return far.firstLoudRtpUs; });
    mouth.stop();
    return us;
}

// From the tone's first packet on the wire to its sound in the speaker's monitor, in a call that runs.
double wireToEar(FarSide &far)
{
    Ear ear;
    double us = -1;
    if (ear.start())
        us = medianOnset(
            [&](qint64 at) {
                ear.firstLoudUs = far.firstTonePacketUs = 0;
                ear.loudAfterUs = std::max<qint64>(at, 0);
                far.toneFromUs = at;
            },
            [&] { return far.firstTonePacketUs; }, [&] { return ear.firstLoudUs.load(); });
    ear.stop();
    return us;
}

// Places a call through the far side and measures everything in it. `command`
// sends a command word to the phone; `pid` is the phone's process.
void measureCall(FarSide &far, qint64 pid, const std::function<qint64(const QString &)> &command, Figures &f,
                 bool devices)
{
    pause(1500);
    if (f.rssIdle < 0)
        f.rssIdle = procRssKb(pid);
    const qint64 commandUs = command("invite"); // negative: dialled already, not timed
    if (!waitUntil([&] { return far.inviteUs != 0; }, 5000))
        return;
    if (commandUs >= 0)
        f.inviteToDatagram = double(far.inviteUs - commandUs);
    if (!waitUntil([&] { return far.firstRtpUs != 0; }, 5000))
        return;
    f.okToAudio = double(far.firstRtpUs - far.okSentUs);
    far.startStream();

    pause(1000);
    const qint64 cpu0 = procCpuMs(pid), t0 = nowUs();
    pause(5000);
    f.cpuPerSecond = double(procCpuMs(pid) - cpu0) * 1e6 / double(nowUs() - t0);
    f.rssCall = procRssKb(pid);

    if (devices) {
        f.mouthToWire = mouthToWire(far);
        f.wireToEar = wireToEar(far);
    }
    far.stopStream();
    command("hangup");
    pause(300);
}

// Mouth to wire once more in a call with the echo canceller switched off (as
// with a headset), to tell the canceller's own delay from the rest of the path.
void measureMouthWithoutCanceller(FarSide &far, const std::function<qint64(const QString &)> &command, Figures &f)
{
    command("canceller off");
    far.reset();
    pause(500);
    command("invite");
    if (waitUntil([&] { return far.firstRtpUs != 0; }, 5000)) {
        far.startStream();
        f.mouthToWireNoCanceller = mouthToWire(far);
        far.stopStream();
    }
    command("hangup");
    pause(300);
}

// The speaker's monitor looped into the microphone after 120 ms, and a
// second reflection 60 ms later at a third of the level; gone with the object.
struct EchoPath
{
    QStringList modules;
    static QString pactl(const QStringList &arguments)
    {
        QProcess p;
        p.start("pactl", arguments);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    bool load()
    {
        for (const int ms : {120, 180})
            modules << pactl({"load-module", "module-loopback", "source=spk.monitor", "sink=mic",
                              QStringLiteral("latency_msec=%1").arg(ms), "source_dont_move=true", "sink_dont_move=true"});
        for (const QString &block : pactl({"list", "sink-inputs"}).split("Sink Input #"))
            if (block.contains(QRegularExpression("Owner Module: " + modules.last() + "\\s")))
                return !pactl({"set-sink-input-volume", block.section('\n', 0, 0).trimmed(), "33%"}).contains("Failure");
        return false;
    }
    ~EchoPath()
    {
        for (const QString &m : modules)
            pactl({"unload-module", m});
    }
};

// A call over Opus, the far end talking: the CPU a second of it. Then one
// with the echo path, the far end talking for 6 s: how far below its voice
// what came back lay from 2 s on, and (for `erleLog`, the phone's log) the
// canceller's ERLE over the call, as the call's figures give it.
void measureOpusCall(FarSide &far, const std::function<qint64()> &pid, const std::function<qint64(const QString &)> &command, Figures &f,
                     const QString &erleLog = QString())
{
    for (const bool echo : {false, true}) {
        EchoPath path;
        if (echo && !path.load()) {
            std::fprintf(stderr, "bench_phone: no echo path on the null devices\n");
            break;
        }
        far.reset();
        far.useOpus = true;
        pause(1000);
        const qint64 logSize = QFile(erleLog).size();
        command("invite");
        if (!waitUntil([&] { return far.firstRtpUs != 0; }, 5000))
            return;
        far.startStream();
        pause(echo ? 6000 : 1000);
        if (echo) {
            f.echoBelow = far.echoBelowDb();
        } else {
            const qint64 cpu0 = procCpuMs(pid()), t0 = nowUs();
            pause(5000);
            // n/a unless the call did settle on Opus.
            f.cpuOpus = far.overOpus() ? double(procCpuMs(pid()) - cpu0) * 1e6 / double(nowUs() - t0) : -1;
        }
        far.stopStream();
        command("hangup");
        static const QRegularExpression erle("RTP call figures: .*, codec opus, ERLE (-?[\\d.]+) dB");
        QRegularExpressionMatch m;
        if (!erleLog.isEmpty())
            waitUntil([&] {
                QFile log(erleLog);
                return log.open(QIODevice::ReadOnly) && log.seek(logSize)
                    && (m = erle.match(QString::fromUtf8(log.readAll()))).hasMatch();
            }, echo ? 3000 : 300);
        if (echo && !erleLog.isEmpty())
            f.erle = m.hasMatch() ? m.captured(1).toDouble() : -1;
    }
}

// The child: the phone's own core driven by words on stdin.
int phoneMain(int argc, char **argv)
{
    QApplication app(argc, argv);
    Application phone;
    phone.start();
    std::printf("shown %lld\n", static_cast<long long>(nowUs()));
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&]() {
        char line[256];
        const ssize_t n = read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            app.quit();
            return;
        }
        const QString word = QString::fromLatin1(line, int(n)).trimmed();
        std::printf("%s %lld\n", qPrintable(word), static_cast<long long>(nowUs()));
        std::fflush(stdout);
        if (word == "invite") {
            phone.sip->dialog.called = "200";
            phone.sip->sendSipMsg("invite");
        } else if (word == "hangup") {
            phone.sip->sendSipMsg("disconnect");
        } else if (word == "canceller off") {
            phone.audio->setEchoCancel(false);
        }
    });
    return app.exec();
}

bool seedDatabase(const QString &file, quint16 port, const QString &more = QString())
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench");
    db.setDatabaseName(file);
    bool ok = db.open();
    if (ok) {
        QSqlQuery q(db);
        q.prepare("UPDATE settings SET sipServerIp='127.0.0.2', sipServerPort=?, user='100', login='100', "
                  "password='pw', domain='127.0.0.2', STUN=''" + more + " WHERE id=1");
        q.addBindValue(QString::number(port));
        ok = q.exec() && q.numRowsAffected() == 1;
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("bench");
    return ok;
}

void sorvanto(FarSide &far, quint16 port, Figures &f)
{
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dir.path());
    env.insert("TMPDIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString dataDir = dir.path() + "/sorvanto";

    // A first start only builds the database, which then names our registrar.
    QProcess phone;
    phone.setProcessEnvironment(env);
    phone.start(SORVANTO_EXECUTABLE, QStringList());
    phone.waitForStarted();
    waitUntil([&] { return QFile(dataDir + "/log.txt").size() > 0 && QFile::exists(dataDir + "/sorvanto.dat"); }, 15000);
    pause(1000);
    phone.terminate();
    phone.waitForFinished(5000);
    // Wideband is off until the user turns it on; the Opus call needs it.
    if (!seedDatabase(dataDir + "/sorvanto.dat", port, ", codecG722=1, codecOpus=1")) {
        std::fprintf(stderr, "bench_phone: could not set the account in the database\n");
        return;
    }

    // The real binary: start to the window shown (its show log line) and to
    // the first REGISTER on the wire.
    QFile::remove(dataDir + "/log.txt");
    far.reset();
    const qint64 wallStart = QDateTime::currentMSecsSinceEpoch();
    const qint64 start = nowUs();
    phone.start(SORVANTO_EXECUTABLE, QStringList());
    if (waitUntil([&] { return far.firstRegisterUs != 0; }, 10000))
        f.startToRegister = double(far.firstRegisterUs - start);
    QFile log(dataDir + "/log.txt");
    if (log.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.contains("!!! showEvent")) {
                const QDateTime shown = QDateTime::fromString(QString::fromLatin1(line.left(23)), "yyyy-MM-dd hh:mm:ss.zzz");
                f.startToWindow = double(shown.toMSecsSinceEpoch() - wallStart) * 1000;
                break;
            }
        }
    }
    phone.terminate();
    phone.waitForFinished(5000);

    // The call, through this program's child on the same core.
    far.reset();
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--phone"});
    child.waitForStarted();
    if (!waitUntil([&] { return far.firstRegisterUs != 0; }, 10000)) {
        std::fprintf(stderr, "bench_phone: the phone did not register\n");
        return;
    }
    QByteArray said;
    auto command = [&](const QString &word) -> qint64 {
        child.write((word + "\n").toLatin1());
        child.waitForBytesWritten(1000);
        const QByteArray tag = word.toLatin1() + ' ';
        waitUntil([&] { said += child.readAllStandardOutput(); return said.contains(tag); }, 3000);
        const int at = said.indexOf(tag);
        return at < 0 ? nowUs() : said.mid(at + tag.size()).split('\n').first().toLongLong();
    };
    measureCall(far, child.processId(), command, f, true);
    QString childLog; // wherever the child's data directory is: the log written last
    for (QDirIterator it(dir.path(), {"log.txt"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString file = it.next();
        if (childLog.isEmpty() || QFileInfo(file).lastModified() > QFileInfo(childLog).lastModified())
            childLog = file;
    }
    measureOpusCall(far, [&] { return child.processId(); }, command, f, childLog);
    measureMouthWithoutCanceller(far, command, f);
    child.closeWriteChannel();
    child.terminate();
    if (!child.waitForFinished(5000))
        child.kill();
}

// baresip 1.0's control socket did not take commands here, so the call is
// dialled by its own "-e" option at start: its command-to-INVITE figure is n/a.
void baresip(FarSide &far, quint16 port, Figures &f)
{
    // G.711 at 8 kHz mono on the devices; over Opus the devices at the codec's own rate, as baresip runs by default.
    QTemporaryDir dir, opusDir;
    const quint16 sipPort = freeUdpPort("127.0.0.1");
    for (const bool opus : {false, true}) {
        const QString path = (opus ? opusDir : dir).path();
        QFile config(path + "/config");
        config.open(QIODevice::WriteOnly);
        QTextStream(&config) << "poll_method epoll\n"
                             << "sip_listen 127.0.0.1:" << sipPort << "\n"
                             << "net_interface 127.0.0.1\n"
                             << "audio_player alsa,pulse\naudio_source alsa,pulse\naudio_alert alsa,pulse\n"
                             << (opus ? "" : "ausrc_srate 8000\nauplay_srate 8000\nausrc_channels 1\nauplay_channels 1\n")
                             << "rtp_ports 30000-30100\n"
                             << "module_path /usr/lib/baresip/modules\n"
                             << "module g711.so\nmodule opus.so\nmodule alsa.so\nmodule menu.so\nmodule_app account.so\n";
        config.close();
        QFile accounts(path + "/accounts");
        accounts.open(QIODevice::WriteOnly);
        QTextStream(&accounts) << "<sip:100@127.0.0.2>;auth_pass=pw;outbound=\"sip:127.0.0.2:" << port
                               << ";transport=udp\";regint=3600;audio_codecs=" << (opus ? "opus/48000/2" : "pcma") << "\n";
        accounts.close();
    }

    auto run = [&](QProcess &phone, const QStringList &extra, const QTemporaryDir &in) {
        phone.setProcessChannelMode(QProcess::MergedChannels);
        phone.setStandardInputFile(QProcess::nullDevice());
        phone.start("baresip", QStringList{"-f", in.path(), "-t", "120"} + extra);
        if (!phone.waitForStarted(5000)) {
            std::fprintf(stderr, "bench_phone: baresip cannot be started: %s\n", qPrintable(phone.errorString()));
            return false;
        }
        return true;
    };
    auto stop = [](QProcess &phone) {
        phone.terminate();
        if (!phone.waitForFinished(5000))
            phone.kill();
    };

    // Start-up and idle memory.
    far.reset();
    QProcess idle;
    const qint64 start = nowUs();
    if (!run(idle, {}, dir))
        return;
    if (waitUntil([&] { return far.firstRegisterUs != 0; }, 10000))
        f.startToRegister = double(far.firstRegisterUs - start);
    else
        std::fprintf(stderr, "bench_phone: baresip did not register:\n%s\n", idle.readAll().constData());
    pause(1500);
    f.rssIdle = procRssKb(idle.processId());
    stop(idle);

    // The call, dialled at start.
    far.reset();
    QProcess phone;
    if (!run(phone, {"-e", "/dial sip:200@127.0.0.2"}, dir))
        return;
    auto command = [&](const QString &word) -> qint64 {
        if (word == "hangup") {
            stop(phone);
            return nowUs();
        }
        return -1;
    };
    measureCall(far, phone.processId(), command, f, true);
    stop(phone);

    // Over Opus: dialled at start too, so "invite" starts a new process.
    QProcess overOpus;
    auto opusCommand = [&](const QString &word) -> qint64 {
        if (word == "invite")
            run(overOpus, {"-e", "/dial sip:200@127.0.0.2"}, opusDir);
        else if (word == "hangup")
            stop(overOpus);
        return -1;
    };
    measureOpusCall(far, [&] { return overOpus.processId(); }, opusCommand, f);
    stop(overOpus);
}

// The caller's CPU per second in a call to baresip "200" over TLS, clear or
// SRTP, through Kamailio's TLS listener. `dataHome` holds the phone's data
// (its account set for TLS already).
void callsOverTls(KamailioPeer &kamailio, const TestCa &ca, quint16 tlsPort, const QString &dataHome,
                  const QProcessEnvironment &env, bool srtp, double &sorvantoCpu, double &baresipCpu)
{
    BaresipPeer callee;
    callee.useTls(ca.caFile(), srtp ? QStringLiteral("srtp-mand") : QString());
    if (!callee.start("200", "pw200", tlsPort, PeerProcess::freePort(), 440)) {
        std::fprintf(stderr, "bench_phone: no baresip to call: %s\n", qPrintable(callee.errorString()));
        return;
    }
    auto measure = [&](qint64 pid) {
        const int calls = callee.count(QStringLiteral("Call established"));
        if (!waitUntil([&] { return callee.count(QStringLiteral("Call established")) > calls; }, 10000))
            return -1.0;
        pause(1000);
        const qint64 cpu0 = procCpuMs(pid), t0 = nowUs();
        pause(5000);
        return double(procCpuMs(pid) - cpu0) * 1e6 / double(nowUs() - t0);
    };
    auto stop = [](QProcess &phone) {
        phone.terminate();
        if (!phone.waitForFinished(5000))
            phone.kill();
    };

    // Sorvanto: this program's child on the phone's core, "SRTP" or "Отключено".
    const QString media = srtp ? QStringLiteral("SRTP") : QStringLiteral("Отключено");
    if (seedDatabase(dataHome + "/sorvanto/sorvanto.dat", tlsPort,
                     ", transport='TLS', caFile='" + ca.caFile() + "', encryptMedia='" + media + "'")) {
        const int mark = kamailio.log().size();
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--phone"});
        if (waitUntil([&] { return kamailio.log().indexOf("SAVED 100 over", mark) >= 0; }, 10000)) {
            child.write("invite\n");
            sorvantoCpu = measure(child.processId());
            child.write("hangup\n");
            pause(500);
        }
        stop(child);
    }

    // baresip: dials at start, with the audio of the call figures above and
    // its media encryption on the account.
    QTemporaryDir own;
    QFile config(own.path() + "/config"), accounts(own.path() + "/accounts");
    config.open(QIODevice::WriteOnly);
    QTextStream(&config) << "poll_method epoll\nsip_listen 127.0.0.1:" << freeUdpPort("127.0.0.1")
                         << "\nnet_interface 127.0.0.1\nsip_cafile " << ca.caFile()
                         << "\naudio_player alsa,pulse\naudio_source alsa,pulse\naudio_alert alsa,pulse\n"
                         << "ausrc_srate 8000\nauplay_srate 8000\nausrc_channels 1\nauplay_channels 1\n"
                         << "rtp_ports 30000-30100\nmodule_path /usr/lib/baresip/modules\nmodule g711.so\n"
                         << "module alsa.so\nmodule srtp.so\nmodule menu.so\nmodule_app account.so\n";
    config.close();
    accounts.open(QIODevice::WriteOnly);
    QTextStream(&accounts) << "<sip:100@127.0.0.2>;auth_pass=pw;outbound=\"sip:127.0.0.2:" << tlsPort
                           << ";transport=tls\";regint=3600;audio_codecs=pcma" << (srtp ? ";mediaenc=srtp-mand" : "")
                           << "\n";
    accounts.close();
    QProcess phone;
    phone.setProcessChannelMode(QProcess::MergedChannels);
    phone.setStandardInputFile(QProcess::nullDevice());
    phone.start("baresip", {"-f", own.path(), "-t", "60", "-e", "/dial sip:200@127.0.0.2"});
    if (phone.waitForStarted(5000))
        baresipCpu = measure(phone.processId());
    stop(phone);
    if (baresipCpu < 0)
        std::fprintf(stderr, "bench_phone: baresip's call over TLS failed:\n%s\n", phone.readAll().right(3000).constData());
}

void tlsRegistration(Figures &s, Figures &b)
{
    TestCa ca;
    KamailioPeer kamailio;
    const quint16 port = freeUdpPort("127.0.0.2"), tlsPort = PeerProcess::freePort();
    kamailio.enableTls(tlsPort, ca.path("proxy.pem"), ca.path("proxy.key"));
    if (!ca.create() || ca.issue("proxy").isEmpty()
        || !kamailio.start(SORVANTO_SOURCE_DIR "/tests/e2e/kamailio.cfg", port, {{"100", "pw"}, {"200", "pw200"}})) {
        std::fprintf(stderr, "bench_phone: no Kamailio over TLS: %s\n", qPrintable(kamailio.errorString()));
        return;
    }
    // Median of three starts, each from the process start to the saved contact.
    auto median = [&](const QString &program, const QStringList &arguments, const QProcessEnvironment &env) {
        QVector<double> runs;
        for (int i = 0; i < 3; ++i) {
            const int mark = kamailio.log().size();
            QProcess phone;
            phone.setProcessEnvironment(env);
            phone.setStandardInputFile(QProcess::nullDevice());
            const qint64 start = nowUs();
            phone.start(program, arguments);
            if (waitUntil([&] { return kamailio.log().indexOf("SAVED 100 over", mark) >= 0; }, 10000))
                runs << double(nowUs() - start);
            phone.terminate();
            if (!phone.waitForFinished(5000))
                phone.kill();
            kamailio.ctl({"ul.rm", "location", "s:100"});
        }
        std::sort(runs.begin(), runs.end());
        return runs.size() == 3 ? runs[1] : -1.0;
    };

    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dir.path());
    env.insert("TMPDIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first; // builds the database, then our account goes in
    first.setProcessEnvironment(env);
    first.start(SORVANTO_EXECUTABLE, QStringList());
    waitUntil([&] { return QFile::exists(dir.path() + "/sorvanto/sorvanto.dat"); }, 15000);
    pause(1000);
    first.terminate();
    first.waitForFinished(5000);
    if (seedDatabase(dir.path() + "/sorvanto/sorvanto.dat", tlsPort,
                     ", transport='TLS', caFile='" + ca.caFile() + "'"))
        s.startToRegisteredTls = median(SORVANTO_EXECUTABLE, {}, env);

    QFile config(dir.path() + "/config"), accounts(dir.path() + "/accounts");
    config.open(QIODevice::WriteOnly);
    QTextStream(&config) << "poll_method epoll\nsip_listen 127.0.0.1:" << freeUdpPort("127.0.0.1")
                         << "\nnet_interface 127.0.0.1\nsip_cafile " << ca.caFile()
                         << "\nmodule_path /usr/lib/baresip/modules\nmodule g711.so\nmodule_app account.so\n";
    config.close();
    accounts.open(QIODevice::WriteOnly);
    QTextStream(&accounts) << "<sip:100@127.0.0.2>;auth_pass=pw;outbound=\"sip:127.0.0.2:" << tlsPort
                           << ";transport=tls\";regint=3600\n";
    accounts.close();
    b.startToRegisteredTls = median("baresip", {"-f", dir.path(), "-t", "60"}, QProcessEnvironment::systemEnvironment());
    callsOverTls(kamailio, ca, tlsPort, dir.path(), env, false, s.cpuTlsClear, b.cpuTlsClear);
    callsOverTls(kamailio, ca, tlsPort, dir.path(), env, true, s.cpuSrtp, b.cpuSrtp);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--phone") == 0)
        return phoneMain(argc, argv);

    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    const quint16 port = freeUdpPort("127.0.0.2");
    FarSide far;
    if (!far.start(port)) {
        std::fprintf(stderr, "bench_phone: cannot bind 127.0.0.2:%u (run inside unshare -n with lo up)\n", port);
        return 1;
    }
    Figures s, b;
    sorvanto(far, port, s);
    baresip(far, port, b);
    tlsRegistration(s, b);

    std::printf("%-34s %12s %12s  %s\n", "figure", "Sorvanto", "baresip", "unit");
    auto row = [](const char *name, const QString &a, const QString &c, const char *unit) {
        std::printf("%-34s %12s %12s  %s\n", name, qPrintable(a), qPrintable(c), unit);
    };
    row("start to window shown", ms(s.startToWindow), "n/a", "ms");
    row("start to first REGISTER", ms(s.startToRegister), ms(b.startToRegister), "ms");
    row("start to registered over TLS", ms(s.startToRegisteredTls), ms(b.startToRegisteredTls), "ms");
    row("invite command to INVITE", ms(s.inviteToDatagram), ms(b.inviteToDatagram), "ms");
    row("200 OK to first RTP packet", ms(s.okToAudio), ms(b.okToAudio), "ms");
    auto num = [](double v) { return v < 0 ? QStringLiteral("n/a") : QString::number(v, 'f', 1); };
    row("CPU per second of call", num(s.cpuPerSecond), num(b.cpuPerSecond), "ms/s");
    row("CPU per second, call over TLS", num(s.cpuTlsClear), num(b.cpuTlsClear), "ms/s");
    row("CPU per second, SRTP call over TLS", num(s.cpuSrtp), num(b.cpuSrtp), "ms/s");
    row("RSS idle", num(s.rssIdle / 1024), num(b.rssIdle / 1024), "MiB");
    row("RSS in a call", num(s.rssCall / 1024), num(b.rssCall / 1024), "MiB");
    row("mouth to wire", ms(s.mouthToWire), ms(b.mouthToWire), "ms");
    row("mouth to wire, canceller off", ms(s.mouthToWireNoCanceller), ms(b.mouthToWire), "ms (baresip has none)");
    row("wire to ear", ms(s.wireToEar), ms(b.wireToEar), "ms");
    row("CPU per second, Opus, canceller on", num(s.cpuOpus), num(b.cpuOpus), "ms/s");
    row("echo canceller ERLE, 6 s call", num(s.erle), "-", "dB");
    row("echo below the far end after 2 s", num(s.echoBelow), num(b.echoBelow), "dB (baresip has no canceller)");
    std::printf("\nWhat bounds each delay:\n"
                "  mouth to wire: the 20 ms packet (a frame leaves once whole), the capture's 10 ms blocks, the\n"
                "    echo canceller's own delay (Sorvanto at 8 kHz: about 20 ms, webrtc's AEC 14 and its noise\n"
                "    suppression 6; baresip runs none). Counted from the tone's arrival in the microphone's sink\n"
                "    (the feeder's own queue left out).\n"
                "  wire to ear: the playback queue (Sorvanto keeps 30 ms, asked for 10 ms at a time), the\n"
                "    jitter buffer's target (Sorvanto: 40 ms on a clean link, the device's period included),\n"
                "    the null sink. Counted to the tone's arrival in the speaker's monitor (the recorder's own\n"
                "    queue left out).\n"
                "  invite command: building and writing one datagram (baresip's includes its TCP control hop).\n"
                "  200 OK to audio: opening the capture device and its first period.\n");
    return 0;
}
