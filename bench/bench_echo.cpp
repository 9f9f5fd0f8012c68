// The echo canceller, measured offline beside each library alone: libspeexdsp
// (echo canceller and preprocessor, 400 ms filter, 10 ms frames, no gain
// control, left to find the delay inside its filter), libwebrtc-audio-processing
// (AEC, NS, AGC) left to find the delay itself (its delay-agnostic mode), and
// EchoCanceller (speexdsp's filter on the reference it aligns, then the
// suppression: speexdsp's preprocessor, at 16 kHz only, and webrtc's), on one
// synthetic echo path: a synthetic voice played, heard back after a delay
// with a second reflection and noise. 0-8 s the far end talks; 8-10 s the
// near end alone; 10-14 s both (double talk); at 14 s the delay moves. A
// second run has the near end start over the far end instead, with the echo
// as loud as the far end and its reflection 60 ms later at a third, as the
// end-to-end test's loopback makes it. Last, the longest 20 ms of capture
// after the speaker ran dry. Rows: figure, the three, unit.

#include "echocanceller.h"

#include "echoroom.h"
#include "tone.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Both libraries take what was played and what was captured, 20 ms at a
// time, paired in order: the k-th capture with the k-th frame played.
struct Canceller
{
    virtual ~Canceller() = default;
    virtual void playback(const qint16 *frame) = 0;
    virtual void capture(const qint16 *in, qint16 *out) = 0;
    // The speaker ran dry (only EchoCanceller is told).
    virtual void interrupted() { }
};

struct Speex : Canceller
{
    Speex(int rate, int tailMs) : n(rate / 50)
    {
        // 10 ms at a time: its filter converged faster than on 20 ms.
        echo = speex_echo_state_init(n / 2, rate * tailMs / 1000);
        speex_echo_ctl(echo, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
        // Its residual echo and noise suppression; not its gain control, which
        // raised what was left of the echo by up to 30 dB (an ERLE of 1-10 dB).
        pre = speex_preprocess_state_init(n / 2, rate);
        int on = 1;
        speex_preprocess_ctl(pre, SPEEX_PREPROCESS_SET_ECHO_STATE, echo);
        speex_preprocess_ctl(pre, SPEEX_PREPROCESS_SET_DENOISE, &on);
    }
    ~Speex() override
    {
        speex_preprocess_state_destroy(pre);
        speex_echo_state_destroy(echo);
    }
    void playback(const qint16 *frame) override { played.emplace_back(frame, frame + n); }
    void capture(const qint16 *in, qint16 *out) override
    {
        std::vector<qint16> ref(n, 0);
        if (!played.empty())
            ref = played.front(), played.pop_front();
        for (int h = 0; h < n; h += n / 2) {
            speex_echo_cancellation(echo, in + h, ref.data() + h, out + h);
            speex_preprocess_run(pre, out + h);
        }
    }
    int n;
    SpeexEchoState *echo;
    SpeexPreprocessState *pre;
    std::deque<std::vector<qint16>> played;
};

struct WebRtc : Canceller
{
    explicit WebRtc(int rate) : rate(rate)
    {
        webrtc::Config config;
        config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
        config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
        config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
        apm.reset(webrtc::AudioProcessing::Create(config));
        apm->echo_cancellation()->enable_drift_compensation(false);
        apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kHighSuppression);
        apm->echo_cancellation()->enable_metrics(true);
        apm->echo_cancellation()->Enable(true);
        apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kModerate);
        apm->noise_suppression()->Enable(true);
        apm->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital);
        apm->gain_control()->Enable(true);
        apm->high_pass_filter()->Enable(true);
    }
    void run(const qint16 *in, qint16 *out, bool reverse)
    {
        const int half = rate / 100;   // it works in 10 ms
        for (int h = 0; h < 2; ++h) {
            frame.UpdateFrame(0, 0, in + h * half, half, rate, webrtc::AudioFrame::kNormalSpeech,
                              webrtc::AudioFrame::kVadUnknown, 1);
            if (reverse) {
                apm->ProcessReverseStream(&frame);
            } else {
                apm->set_stream_delay_ms(0);
                apm->ProcessStream(&frame);
                std::copy(frame.data_, frame.data_ + half, out + h * half);
            }
        }
    }
    void playback(const qint16 *f) override { run(f, nullptr, true); }
    void capture(const qint16 *in, qint16 *out) override { run(in, out, false); }
    int rate;
    std::unique_ptr<webrtc::AudioProcessing> apm;
    webrtc::AudioFrame frame;
};

struct Ours : Canceller
{
    explicit Ours(int rate) : c(rate) { }
    void playback(const qint16 *frame) override { c.playback(frame, c.rate() / 50); }
    void capture(const qint16 *in, qint16 *out) override
    {
        std::copy(in, in + c.rate() / 50, out);
        c.capture(out, c.rate() / 50);
    }
    void interrupted() override { c.playbackInterrupted(); }
    EchoCanceller c;
};

double energy(const QVector<double> &x, int from, int to)
{
    double s = 0;
    for (int i = from; i < to && i < x.size(); ++i)
        s += x[i] * x[i];
    return s;
}

struct Run
{
    double erle = 0, converge = 0, doubleTalkLoss = 0, erleMoved = 0, reconverge = 0, cpuMsPerS = 0;
};

// Echo in the microphone over what is left of it in the output, in dB.
double erle(const QVector<double> &echo, const QVector<double> &out, int from, int to)
{
    return 10 * std::log10(energy(echo, from, to) / std::max(1.0, energy(out, from, to)));
}

// From `from` on, the first time after which every 500 ms of echo until `to`
// is at least 20 dB down; seconds after `from`.
double convergence(const QVector<double> &echo, const QVector<double> &out, int rate, int from, int to)
{
    const int w = rate / 2;
    double at = -1;
    for (int t = from; t + w <= to; t += w) {
        const bool speaking = energy(echo, t, t + w) > double(w) * 100 * 100;
        if (speaking && erle(echo, out, t, t + w) < 20)
            at = -1;
        else if (at < 0)
            at = double(t - from) / rate;
    }
    return at < 0 ? double(to - from) / rate : at;
}

Run measure(Canceller &c, int rate, int delayMs, int movedMs)
{
    const int second = rate, n = rate / 50, total = 20 * second;
    QVector<qint16> far = Tone::voice(total, rate, 1, 120);
    std::fill(far.begin() + 8 * second, far.begin() + 10 * second, 0);   // the near end alone
    QVector<qint16> near(total, 0);
    const QVector<qint16> talk = Tone::voice(6 * second, rate, 2, 210);
    std::copy(talk.begin(), talk.end(), near.begin() + 8 * second);
    const EchoRoom room { rate, delayMs, movedMs, 14 * second };
    const QVector<qint16> mic = room.microphone(far, near);
    const QVector<double> echo = room.echo(far);
    QVector<qint16> out(total, 0);
    const auto t0 = std::chrono::steady_clock::now();
    for (int at = 0; at + n <= total; at += n) {
        c.playback(far.constData() + at);
        c.capture(mic.constData() + at, out.data() + at);
    }
    const double spent = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    QVector<double> o(out.begin(), out.end());
    Run r;
    if (qEnvironmentVariableIsSet("ECHO_TRACE")) {   // ERLE second by second
        for (int t = 0; t < 20; ++t)
            fprintf(stderr, "%.0f ", erle(echo, o, t * second, (t + 1) * second));
        fprintf(stderr, "\n");
    }
    r.erle = erle(echo, o, 2 * second, 8 * second);
    r.converge = convergence(echo, o, rate, 0, 8 * second);
    // The near end's gain through the processing alone (8-10 s) over its gain in
    // double talk (10-14 s): what the talk over it costs, the AGC's share aside.
    const QVector<double> nd(near.begin(), near.end());
    r.doubleTalkLoss = 10 * std::log10(energy(o, 8 * second, 10 * second) / energy(nd, 8 * second, 10 * second)
                                       / (energy(o, 10 * second, 14 * second) / energy(nd, 10 * second, 14 * second)));
    r.erleMoved = erle(echo, o, 16 * second, 20 * second);
    r.reconverge = convergence(echo, o, rate, 14 * second, 20 * second);
    r.cpuMsPerS = spent / 20;
    return r;
}

// Double talk first: the far end talks 0-6 s, the near end 4.4-8.4 s. What
// the talk over it costs the near end (its gain 4.7-6.1 s over its gain
// 6.9-7.7 s, alone), in dB, and the echo left 2.3-4 s below the far end's voice then.
std::pair<double, double> nearOverFar(Canceller &c, int rate, int delayMs)
{
    const int second = rate, n = rate / 50, total = 9 * second, d = delayMs * rate / 1000, d2 = d + 60 * rate / 1000;
    QVector<qint16> far = Tone::voice(total, rate, 28, 120), near(total, 0), mic(total), out(total, 0);
    std::fill(far.begin() + 6 * second, far.end(), 0);
    const QVector<qint16> talk = Tone::voice(4 * second, rate, 29, 210);
    std::copy(talk.begin(), talk.end(), near.begin() + 44 * second / 10);
    for (int i = 0; i < total; ++i)
        mic[i] = qint16(std::clamp(near[i] + (i >= d ? far[i - d] : 0) + (i >= d2 ? far[i - d2] / 3.0 : 0), -32768.0, 32767.0));
    for (int at = 0; at + n <= total; at += n) {
        c.playback(far.constData() + at);
        c.capture(mic.constData() + at, out.data() + at);
    }
    const QVector<double> o(out.begin(), out.end()), nd(near.begin(), near.end()), fd(far.begin(), far.end());
    const auto gain = [&](double from, double to) {
        return energy(o, int(from * second), int(to * second)) / energy(nd, int(from * second), int(to * second));
    };
    return { 10 * std::log10(gain(6.9, 7.7) / gain(4.7, 6.1)),
             10 * std::log10(energy(fd, 23 * second / 10, 4 * second) / std::max(1.0, energy(o, 23 * second / 10, 4 * second))) };
}

// The speaker dry for 40 ms at 3 s of the far end's voice (120 ms path):
// the longest any 20 ms of capture took from then to 6 s, in ms. EchoCanceller
// matches its learned path against what was heard in that time.
double longestWhenDry(Canceller &c, int rate)
{
    const int second = rate, n = rate / 50, total = 6 * second, dry = second / 25;
    QVector<qint16> far = Tone::voice(total, rate, 1, 120);
    far.insert(3 * second, dry, 0);
    far.resize(total);
    const EchoRoom room { rate, 120, -1, -1 };
    const QVector<qint16> mic = room.microphone(far, QVector<qint16>());
    QVector<qint16> out(total, 0);
    double longest = 0;
    for (int at = 0; at + n <= total; at += n) {
        if (at == 3 * second + dry)
            c.interrupted();
        if (at < 3 * second || at >= 3 * second + dry)
            c.playback(far.constData() + at);
        const auto t0 = std::chrono::steady_clock::now();
        c.capture(mic.constData() + at, out.data() + at);
        if (at >= 3 * second)
            longest = std::max(longest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return longest;
}

void row(const QString &name, double speex, double webrtc, double ours, const char *unit)
{
    printf("%-56s %9.1f %9.1f %9.1f  %s\n", qPrintable(name), speex, webrtc, ours, unit);
}

} // namespace

int main()
{
    printf("%-56s %9s %9s %9s  %s\n", "figure", "speexdsp", "webrtc-DA", "Sorvanto", "unit");
    for (int rate : { 16000, 8000 }) {
        double cpu[3] = {};
        for (auto [delay, moved] : { std::pair(40, 120), std::pair(120, 200), std::pair(200, 300) }) {
            Speex s(rate, 400);
            WebRtc w(rate);
            Ours o(rate);
            const Run a = measure(s, rate, delay, moved), b = measure(w, rate, delay, moved), c = measure(o, rate, delay, moved);
            const QString at = QStringLiteral(" (%1 Hz, %2 ms)").arg(rate).arg(delay);
            row("ERLE 2-8 s" + at, a.erle, b.erle, c.erle, "dB");
            row("converged (20 dB) after" + at, a.converge, b.converge, c.converge, "s");
            row("near-end loss in double talk" + at, a.doubleTalkLoss, b.doubleTalkLoss, c.doubleTalkLoss, "dB");
            row(QStringLiteral("ERLE 2-6 s after a move to %1 ms").arg(moved) + at, a.erleMoved, b.erleMoved, c.erleMoved, "dB");
            row(QStringLiteral("reconverged after the move to %1 ms").arg(moved) + at, a.reconverge, b.reconverge, c.reconverge, "s");
            Speex s2(rate, 400);
            WebRtc w2(rate);
            Ours o2(rate);
            const auto x = nearOverFar(s2, rate, delay), y = nearOverFar(w2, rate, delay), z = nearOverFar(o2, rate, delay);
            row("near-end loss, talking over the far end" + at, x.first, y.first, z.first, "dB");
            row("echo below the far end 2.3-4 s, same run" + at, x.second, y.second, z.second, "dB");
            if (rate == 16000 && delay == 120)
                row("ERLE the canceller reports" + at, 0, 0, o.c.erle(), "dB");
            cpu[0] += a.cpuMsPerS / 3, cpu[1] += b.cpuMsPerS / 3, cpu[2] += c.cpuMsPerS / 3;
        }
        row(QStringLiteral("CPU, AEC+NS+AGC (%1 Hz)").arg(rate), cpu[0], cpu[1], cpu[2], "ms per s of audio");
        Speex s(rate, 400);
        WebRtc w(rate);
        Ours o(rate);
        row(QStringLiteral("longest 20 ms of capture, speaker dry (%1 Hz)").arg(rate), longestWhenDry(s, rate), longestWhenDry(w, rate),
            longestWhenDry(o, rate), "ms");
    }
    return 0;
}
