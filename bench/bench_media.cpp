// Media figures: G.711 rates beside spandsp's coder, the cost of one 20 ms RTP
// frame each way, and, through the real PulseAudio devices, the spacing of the
// packets leaving the phone, the mouth-to-wire delay and the CPU of a call.
// Run it as scripts/test runs the tests: a private PulseAudio daemon, loopback only.

#include "audio.h"
#include "codec.h"
#include "rtp.h"
#include "udpsocket.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include <stdint.h>
#include <spandsp/telephony.h>
#include <spandsp/bit_operations.h>
// spandsp declares its own alaw_to_ulaw/ulaw_to_alaw; keep them apart from ours.
namespace sd {
#include <spandsp/g711.h>
}

namespace {

struct Row {
    QString name;
    QString ours;
    QString peer;
    QString unit;
};
std::vector<Row> rows;

void row(const QString &name, const QString &ours, const QString &peer, const QString &unit)
{
    rows.push_back({ name, ours, peer, unit });
    fprintf(stderr, "  %s: %s / %s %s\n", qPrintable(name), qPrintable(ours), qPrintable(peer), qPrintable(unit));
}

QString num(double v, int decimals = 1)
{
    return QString::number(v, 'f', decimals);
}

int64_t nowNs(clockid_t clock = CLOCK_MONOTONIC)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5));
    return v[i];
}

// ---- G.711 rates -------------------------------------------------------------

volatile unsigned sink;

// Best of three: the machine is shared, and the fastest run is the least disturbed.
template <typename F>
double rate(int64_t samples, F f)
{
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const int64_t t0 = nowNs();
        f();
        const int64_t t1 = nowNs();
        best = std::max(best, double(samples) / (double(t1 - t0) / 1e9));
    }
    return best;
}

void codecRows()
{
    constexpr int n = 1 << 20;
    constexpr int rounds = 16;
    std::vector<int16_t> pcm(n);
    std::vector<uint8_t> codes(n);
    uint32_t x = 12345;
    for (int i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        // Speech-like spread: mostly small, sometimes loud.
        const int shift = int(x >> 28) % 9;
        pcm[i] = int16_t(int32_t(x >> 8) >> (8 + shift));
        codes[i] = uint8_t(x >> 24);
    }
    QByteArray pcmLe(2 * n, '\0');
    memcpy(pcmLe.data(), pcm.data(), size_t(2 * n)); // little-endian host
    const auto *le = reinterpret_cast<const unsigned char *>(pcmLe.constData());
    std::vector<uint8_t> out(n);
    std::vector<int16_t> lin(n);
    QByteArray outLe(2 * n, '\0');
    auto *outp = reinterpret_cast<unsigned char *>(outLe.data());
    const int64_t total = int64_t(n) * rounds;

    const double oursAe = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { alawEncodeFrame(le, out.data(), n); sink += out[r]; } });
    const double sdAe = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { for (int i = 0; i < n; ++i) out[i] = sd::linear_to_alaw(pcm[i]); sink += out[r]; } });
    row("A-law encode", num(oursAe / 1e6), num(sdAe / 1e6), "Msamples/s (peer: spandsp)");

    const double oursUe = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { ulawEncodeFrame(le, out.data(), n); sink += out[r]; } });
    const double sdUe = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { for (int i = 0; i < n; ++i) out[i] = sd::linear_to_ulaw(pcm[i]); sink += out[r]; } });
    row("u-law encode", num(oursUe / 1e6), num(sdUe / 1e6), "Msamples/s (peer: spandsp)");

    const double oursAd = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { alawDecodeFrame(codes.data(), outp, n); sink += outp[r]; } });
    const double sdAd = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { for (int i = 0; i < n; ++i) lin[i] = sd::alaw_to_linear(codes[i]); sink += unsigned(lin[r]); } });
    row("A-law decode", num(oursAd / 1e6), num(sdAd / 1e6), "Msamples/s (peer: spandsp)");

    const double oursUd = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { ulawDecodeFrame(codes.data(), outp, n); sink += outp[r]; } });
    const double sdUd = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { for (int i = 0; i < n; ++i) lin[i] = sd::ulaw_to_linear(codes[i]); sink += unsigned(lin[r]); } });
    row("u-law decode", num(oursUd / 1e6), num(sdUd / 1e6), "Msamples/s (peer: spandsp)");

    // The per-sample entry points, called across the library boundary.
    const double perSample = rate(total, [&] {
        for (int r = 0; r < rounds; ++r) { for (int i = 0; i < n; ++i) out[i] = linear2alaw(pcm[i]); sink += out[r]; } });
    row("A-law encode, per-sample call", num(perSample / 1e6), num(sdAe / 1e6), "Msamples/s (peer: spandsp)");
}

// ---- one frame each way ----------------------------------------------------------

void frameRows()
{
    QUdpSocket far;
    far.bind(QHostAddress(QHostAddress::LocalHost), 0);
    Rtp rtp;
    rtp.setRemoteAddress(QStringLiteral("127.0.0.1"), QString::number(far.localPort()));
    rtp.localPort = 0;
    rtp.initSession();

    QByteArray frame(320, '\0');
    for (int i = 0; i < 160; ++i) {
        const short s = short(10000 * std::sin(2 * M_PI * 1000 * i / 8000.0));
        frame[2 * i] = char(loByte(s));
        frame[2 * i + 1] = char(hiByte(s));
    }
    constexpr int frames = 20000;
    // Only the sends are timed; draining the far socket is not the phone's work.
    auto drain = [&far] {
        while (far.hasPendingDatagrams())
            far.readDatagram(nullptr, 0);
    };
    int64_t ours = 0, bareNs = 0;
    for (int i = 0; i < frames; ++i) {
        const int64_t s0 = nowNs();
        rtp.txPcm.append(frame);
        rtp.msgTransmiter();
        ours += nowNs() - s0;
        if (i % 64 == 63)
            drain();
    }
    // The floor: the same datagrams written by a bare socket.
    QUdpSocket bare;
    const QByteArray datagram(172, 'x');
    const QHostAddress to(QStringLiteral("127.0.0.1"));
    for (int i = 0; i < frames; ++i) {
        const int64_t s0 = nowNs();
        bare.writeDatagram(datagram, to, far.localPort());
        bareNs += nowNs() - s0;
        if (i % 64 == 63)
            drain();
    }
    row("packetise and send one 20 ms frame", num(double(ours) / frames, 0), num(double(bareNs) / frames, 0),
        "ns (peer: bare QUdpSocket write of 172 bytes)");

    QByteArray packet(172, '\0');
    packet[0] = char(0x80);
    packet[1] = char(8);
    alawEncodeFrame(reinterpret_cast<const unsigned char *>(frame.constData()),
                    reinterpret_cast<unsigned char *>(packet.data()) + 12, 160);
    int64_t t0 = nowNs();
    for (int i = 0; i < frames; ++i) {
        packet[2] = char(i >> 8);
        packet[3] = char(i);
        rtp.msgReceiver(reinterpret_cast<unsigned char *>(packet.data()), packet.size());
        qint16 played[160]; // the playback device drains at the same pace
        rtp.rxBuffer.pull(played, 160);
    }
    int64_t t1 = nowNs();
    row("decode, place and play one received frame", num(double(t1 - t0) / frames, 0), "-", "ns");

    // Through the socket: datagrams queued by a sender, drained by the slot.
    QUdpSocket sender;
    const quint16 port = quint16(rtp.udpSocket->localPort());
    int64_t spent = 0;
    for (int batch = 0; batch < frames / 50; ++batch) {
        for (int i = 0; i < 50; ++i)
            sender.writeDatagram(packet, to, port);
        const int64_t r0 = nowNs();
        rtp.udpSocket->receiver();
        spent += nowNs() - r0;
        rtp.rxBuffer.reset();
    }
    row("receive (socket read) and decode one frame", num(double(spent) / frames, 0), "-", "ns");
}

// ---- through the real devices --------------------------------------------------------

// The far end runs in its own thread with plain sockets, so its timing does not
// depend on the phone's event loop and its CPU can be told apart.
class FarEnd
{
public:
    struct Arrival {
        int64_t ns;
        int size;
        double meanAbs;
    };

    bool start(bool stream)
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return false;
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        streaming = stream;
        return true;
    }

    void run(quint16 phonePort)
    {
        stop = false;
        worker = std::thread([this, phonePort] { loop(phonePort); });
    }

    void finish()
    {
        stop = true;
        if (worker.joinable())
            worker.join();
        ::close(fd);
    }

    std::vector<Arrival> arrivals;
    int64_t cpuNs = 0;
    quint16 port = 0;

private:
    void loop(quint16 phonePort)
    {
        const int64_t cpu0 = nowNs(CLOCK_THREAD_CPUTIME_ID);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(phonePort);
        unsigned char packet[172] = { 0x80, 8 };
        quint16 seq = 0;
        quint32 ts = 0;
        int64_t next = nowNs();
        unsigned char buf[2048];
        while (!stop) {
            const int64_t now = nowNs();
            if (streaming && now >= next) {
                ++seq;
                ts += 160;
                packet[2] = uchar(seq >> 8); packet[3] = uchar(seq);
                packet[4] = uchar(ts >> 24); packet[5] = uchar(ts >> 16); packet[6] = uchar(ts >> 8); packet[7] = uchar(ts);
                for (int i = 0; i < 160; ++i)
                    packet[12 + i] = linear2alaw(int(16000 * std::sin(2 * M_PI * 440 * ((ts - 160 + i) % 8000) / 8000.0)));
                ::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
                next += 20000000;
            }
            pollfd p { fd, POLLIN, 0 };
            const int waitMs = streaming ? int(std::max<int64_t>(0, (next - nowNs()) / 1000000)) : 5;
            if (::poll(&p, 1, waitMs) > 0) {
                const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                const int64_t at = nowNs();
                if (got > 12) {
                    double sum = 0;
                    for (ssize_t i = 12; i < got; ++i)
                        sum += std::abs(alaw2linear(buf[i]));
                    arrivals.push_back({ at, int(got), sum / double(got - 12) });
                } else if (got >= 0) {
                    arrivals.push_back({ at, int(got), 0 });
                }
            }
        }
        cpuNs = nowNs(CLOCK_THREAD_CPUTIME_ID) - cpu0;
    }

    int fd = -1;
    bool streaming = false;
    std::atomic<bool> stop { false };
    std::thread worker;
};

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<double> spacingMs(const std::vector<FarEnd::Arrival> &a, int skip)
{
    std::vector<double> gaps;
    for (size_t i = size_t(skip) + 1; i < a.size(); ++i)
        gaps.push_back(double(a[i].ns - a[i - 1].ns) / 1e6);
    return gaps;
}

void callRows(Audio *audio)
{
    const QString farIp = QStringLiteral("127.0.0.1");
    audio->rtp->localPort = 0;

    // The same process with no call, for the background (timers, idle threads).
    double idlePercent = 0;
    {
        const int64_t cpu0 = nowNs(CLOCK_PROCESS_CPUTIME_ID);
        const int64_t wall0 = nowNs();
        spin(3000);
        idlePercent = 100.0 * double(nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / double(nowNs() - wall0);
        row("process CPU with no call (background)", num(idlePercent, 2), "-", "% of a core");
    }

    // A call of 5 s: the far end streams 440 Hz; the phone captures and sends.
    {
        FarEnd far;
        if (!far.start(true)) {
            row("call through the devices", "failed: no far-end socket", "-", "");
            return;
        }
        audio->rtp->setRemoteAddress(farIp, QString::number(far.port));
        const int64_t cpu0 = nowNs(CLOCK_PROCESS_CPUTIME_ID);
        const int64_t main0 = nowNs(CLOCK_THREAD_CPUTIME_ID);
        const int64_t wall0 = nowNs();
        audio->audioStart();
        far.run(quint16(audio->rtp->udpSocket->localPort()));
        spin(5000);
        audio->audioStop();
        const int64_t wall = nowNs() - wall0;
        const int64_t cpu = nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        const int64_t mainCpu = nowNs(CLOCK_THREAD_CPUTIME_ID) - main0;
        far.finish();
        const std::vector<double> gaps = spacingMs(far.arrivals, 5);
        row("RTP packet spacing, median", num(percentile(gaps, 0.5)), "-", "ms (target 20)");
        row("RTP packet spacing, 95th percentile", num(percentile(gaps, 0.95)), "-", "ms (target < 45)");
        row("packets per second leaving the phone", num(double(far.arrivals.size()) / (double(wall) / 1e9)), "-", "1/s (target 50)");
        row("  of which the event-loop thread", num(100.0 * double(mainCpu) / double(wall), 2), "-", "% of a core");
        row("process CPU per second of call", num(100.0 * double(cpu - far.cpuNs) / double(wall), 2), "-",
            "% of a core (far end's thread excluded)");
    }

    // The peer: PulseAudio's own clients moving the same audio, a parec capturing
    // the microphone at 8000 Hz and a pacat playing to the speaker, for as long.
    {
        auto onCpuNs = [](qint64 pid) -> int64_t {
            QFile f(QStringLiteral("/proc/%1/schedstat").arg(pid));
            if (!f.open(QIODevice::ReadOnly))
                return -1;
            return f.readAll().split(' ').value(0).toLongLong();
        };
        QProcess rec, play;
        rec.setStandardOutputFile(QProcess::nullDevice());
        play.setStandardInputFile(QStringLiteral("/dev/zero"));
        rec.start(QStringLiteral("parec"), { "-d", "mic.monitor", "--raw", "--format=s16le", "--rate=8000",
                                              "--channels=1", "--latency-msec=20" });
        play.start(QStringLiteral("pacat"), { "--playback", "-d", "spk", "--raw", "--format=s16le", "--rate=8000",
                                               "--channels=1", "--latency-msec=20" });
        if (rec.waitForStarted(3000) && play.waitForStarted(3000)) {
            spin(500);
            const int64_t r0 = onCpuNs(rec.processId()), p0 = onCpuNs(play.processId());
            const int64_t wall0 = nowNs();
            spin(5000);
            const int64_t r1 = onCpuNs(rec.processId()), p1 = onCpuNs(play.processId());
            const double wall = double(nowNs() - wall0);
            rows.back().peer = num(100.0 * double((r1 - r0) + (p1 - p0)) / wall, 2);
            rows.back().unit += " (peer: parec + pacat moving the same audio)";
        }
        rec.kill();
        play.kill();
        rec.waitForFinished(2000);
        play.waitForFinished(2000);
    }

    // Mouth-to-wire: bursts of 1 kHz fed into the microphone sink in real time;
    // the delay to the first loud packet, beside a bare parec on the same monitor.
    {
        FarEnd far;
        far.start(false);
        audio->rtp->setRemoteAddress(farIp, QString::number(far.port));
        QProcess mic, ear;
        mic.start(QStringLiteral("pacat"), { "--playback", "-d", "mic", "--raw", "--format=s16le", "--rate=8000",
                                              "--channels=1", "--latency-msec=10" });
        ear.start(QStringLiteral("parec"), { "-d", "mic.monitor", "--raw", "--format=s16le", "--rate=8000",
                                              "--channels=1", "--latency-msec=10" });
        if (!mic.waitForStarted(3000) || !ear.waitForStarted(3000)) {
            row("mouth-to-wire delay", "failed: pacat/parec", "-", "");
            return;
        }
        std::vector<int64_t> burstAt;
        std::vector<int64_t> earAt;
        bool inBurst = false;
        QObject::connect(&ear, &QProcess::readyReadStandardOutput, [&] {
            const QByteArray d = ear.readAllStandardOutput();
            const int64_t at = nowNs();
            double peak = 0;
            for (int i = 0; i + 1 < d.size(); i += 2)
                peak = std::max(peak, double(std::abs(short(uchar(d[i]) | uchar(d[i + 1]) << 8))));
            if (peak > 3000 && !inBurst && !burstAt.empty() && earAt.size() < burstAt.size()) {
                earAt.push_back(at);
                inBurst = true;
            }
            if (peak < 500)
                inBurst = false;
        });

        audio->audioStart();
        far.run(quint16(audio->rtp->udpSocket->localPort()));
        const int64_t start = nowNs();
        int64_t written = 0; // samples
        const int bursts = 5;
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            const int64_t due = (nowNs() - start) * 8000 / 1000000000 + 80; // keep 10 ms queued
            QByteArray chunk;
            while (written < due) {
                const int64_t phase = written % 8000; // one burst per second, 200 ms long, from 0.5 s on
                const bool loud = written >= 4000 && phase >= 4000 && phase < 5600 && written < 4000 + 8000 * bursts;
                if (loud && phase == 4000)
                    burstAt.push_back(nowNs());
                const short s = loud ? short(11600 * std::sin(2 * M_PI * 1000 * double(phase) / 8000.0)) : 0;
                chunk.append(char(loByte(s)));
                chunk.append(char(hiByte(s)));
                ++written;
            }
            mic.write(chunk);
        });
        feed.start(5);
        spin(1000 * bursts + 1500);
        feed.stop();
        audio->audioStop();
        far.finish();
        mic.kill();
        ear.kill();
        mic.waitForFinished(2000);
        ear.waitForFinished(2000);

        std::vector<double> phone, bare;
        size_t k = 0;
        for (int64_t b : burstAt) {
            while (k < far.arrivals.size() && far.arrivals[k].ns < b)
                ++k;
            size_t j = k;
            while (j < far.arrivals.size() && far.arrivals[j].meanAbs < 1500)
                ++j;
            if (j < far.arrivals.size())
                phone.push_back(double(far.arrivals[j].ns - b) / 1e6);
        }
        for (size_t i = 0; i < earAt.size() && i < burstAt.size(); ++i)
            bare.push_back(double(earAt[i] - burstAt[i]) / 1e6);
        row("mouth-to-wire delay, median of " + QString::number(phone.size()) + " bursts", num(percentile(phone, 0.5)),
            num(percentile(bare, 0.5)), "ms (peer: parec on the same monitor)");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);

    // SORVANTO_BENCH_ONLY=devices skips the synthetic parts (for profiling a call).
    const bool devicesOnly = qEnvironmentVariable("SORVANTO_BENCH_ONLY") == QLatin1String("devices");
    if (!devicesOnly) {
        fprintf(stderr, "G.711...\n");
        codecRows();
    }
    if (!devicesOnly) {
        fprintf(stderr, "RTP frames...\n");
        frameRows();
    }
    Rtp session;
    Audio device(&session);
    Audio *audio = &device;
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), { QStringLiteral("info") });
    if (pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0) {
        fprintf(stderr, "Call through the devices...\n");
        callRows(audio);
    } else {
        row("call through the devices", "not run: no PulseAudio server", "-", "");
    }

    printf("%-58s %12s %12s  %s\n", "figure", "Sorvanto", "peer", "unit");
    for (const Row &r : rows)
        printf("%-58s %12s %12s  %s\n", qPrintable(r.name), qPrintable(r.ours), qPrintable(r.peer), qPrintable(r.unit));
    return 0;
}
