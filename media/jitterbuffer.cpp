#include "jitterbuffer.h"

#include "audiocodec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kMaxDropout = 3000, kMaxMisorder = 100;         // RFC 3550 A.1
constexpr int kSilentPeak = 128;                              // -48 dBFS

qint16 clip(double v)
{
    return qint16(std::lround(std::max(-32768.0, std::min(32767.0, v))));
}

// Best lag in [from, to] by normalised correlation of the `window` samples
// ending at `end` with those `lag` earlier; 0 when nothing repeats.
int bestLag(const qint16 *x, int end, int window, int from, int to, double minimum)
{
    int best = 0;
    double bestScore = minimum;
    for (int lag = from; lag <= to && end - window - lag >= 0; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (int i = end - window; i < end; ++i) {
            xy += double(x[i]) * x[i - lag];
            xx += double(x[i]) * x[i];
            yy += double(x[i - lag]) * x[i - lag];
        }
        const double score = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

} // namespace

JitterBuffer::JitterBuffer()
{
    std::fill(std::begin(seen), std::end(seen), -1);
}

void JitterBuffer::reset()
{
    const int keepRate = hz, keepClock = clockHz;
    AudioCodec *const keepDecoder = decoder;
    *this = JitterBuffer();
    hz = keepRate;
    clockHz = keepClock;
    frame = hz / 50;
    decoder = keepDecoder;
    history = QVector<qint16>(2 * frame, 0);
    frameLength = frame;
}

void JitterBuffer::setFormat(int sampleRate, int clockRate, AudioCodec *codec)
{
    hz = sampleRate > 0 ? sampleRate : rate;
    clockHz = clockRate > 0 ? clockRate : hz;
    decoder = codec;
    reset();
}

int JitterBuffer::targetMs() const
{
    const int wanted = int(std::ceil(frame * 1000.0 / hz + 3 * jitterMs()));
    return std::max(minTargetMs, std::min(maxTargetMs, wanted));
}

int JitterBuffer::holdSamples() const
{
    return (targetMs() - deviceMs) * hz / 1000;
}

int JitterBuffer::bufferedSamples() const
{
    if (frames.empty())
        return 0;
    const qint64 from = playing ? next : frames.begin()->first;
    return int((frames.rbegin()->first - from + 1) * frameLength) - (playing ? position : 0);
}

JitterBuffer::Figures JitterBuffer::figures() const
{
    Figures f;
    f.received = received;
    const quint64 expected = expectedBefore + (started ? quint64(highest - base + 1) : 0);
    f.lost = expected > unique ? expected - unique : 0;
    f.late = late;
    f.duplicated = duplicated;
    f.meanJitterMs = jitterCount ? jitterSumMs / jitterCount : 0;
    f.maxJitterMs = jitterMaxMs;
    f.targetMs = targetMs();
    return f;
}

// A new source, or the same one starting over: its numbers continue after
// what is buffered, so what is left of the old stream still plays first.
void JitterBuffer::newStream(quint16 sequence)
{
    if (started)
        expectedBefore += quint64(highest - base + 1);
    const qint64 ext = started ? std::max(highest, next) + 1 : 0;
    started = true;
    highest = base = ext;
    highestSequence = sequence;
    haveTransit = false;
    restartCandidate = -1;
}

void JitterBuffer::push(quint16 sequence, quint32 timestamp, quint32 source, const qint16 *samples, int count,
                        double arrivalMs)
{
    if (!samples || count <= 0)
        return;
    store(sequence, timestamp, source, samples, count, QByteArray(), arrivalMs);
}

void JitterBuffer::pushPayload(quint16 sequence, quint32 timestamp, quint32 source, const QByteArray &payload,
                               double arrivalMs)
{
    if (!decoder || payload.isEmpty())
        return;
    // Counted as 20 ms until decoded: what the codec makes of it is known only then.
    store(sequence, timestamp, source, nullptr, frame, payload, arrivalMs);
}

void JitterBuffer::store(quint16 sequence, quint32 timestamp, quint32 source, const qint16 *samples, int count,
                         const QByteArray &payload, double arrivalMs)
{
    ++received;
    if (!started || source != ssrc) {
        ssrc = source;
        newStream(sequence);
    }
    qint64 ext = highest + qint16(quint16(sequence - highestSequence));
    if (ext - highest > kMaxDropout || highest - ext > kMaxMisorder) {
        // A jump: the source restarted if the next packet follows this one.
        if (restartCandidate != sequence) {
            restartCandidate = quint16(sequence + 1);
            ++late;
            dropped += quint64(count);
            return;
        }
        newStream(sequence);
        ext = highest;
    }
    restartCandidate = -1;

    // Interarrival jitter, RFC 3550 A.8, in timestamp units.
    const double arrival = arrivalMs * clockHz / 1000.0;
    if (haveTransit) {
        const double d = (arrival - lastArrival) - double(qint32(timestamp - lastTimestamp));
        jitter += (std::fabs(d) - jitter) / 16.0;
        jitterSumMs += jitterMs();
        jitterMaxMs = std::max(jitterMaxMs, jitterMs());
        ++jitterCount;
    }
    haveTransit = true;
    lastArrival = arrival;
    lastTimestamp = timestamp;

    qint64 &slot = seen[quint64(ext) % 512];
    if (slot == ext) {
        ++duplicated;
        dropped += quint64(count);
        return;
    }
    slot = ext;
    ++unique;
    if (ext > highest) {
        highest = ext;
        highestSequence = sequence;
    }
    base = std::min(base, ext);
    // Its turn has passed, or the codec has rebuilt it already (it is held, yet no duplicate).
    if ((nextValid && ext < next) || frames.count(ext)) {
        ++late;
        dropped += quint64(count);
        return;
    }
    if (samples) {
        frames[ext] = QVector<qint16>(samples, samples + count);
    } else {
        frames[ext] = QVector<qint16>();
        coded[ext] = payload;
    }
    frameLength = count;

    // Never more than the longest target waits: the oldest go.
    while (!frames.empty() && bufferedSamples() > maxTargetMs * hz / 1000) {
        const auto first = frames.begin();
        dropped += quint64(first->second.size() - (playing && first->first == next ? position : 0));
        ++late;
        // The codec still hears of it, in order.
        const auto payload = coded.find(first->first);
        if (payload != coded.end() && decoder && decoder->hasConcealment())
            decodeInOrder(first->first, payload->second);
        next = first->first + 1;
        nextValid = true;
        position = 0;
        coded.erase(first->first);
        frames.erase(first);
    }
}

void JitterBuffer::pull(qint16 *out, int count)
{
    while (count > 0) {
        if (!playing) {
            if (frames.empty() || bufferedSamples() < holdSamples()) {
                conceal(out, count);
                return;
            }
            playing = true;
            next = frames.begin()->first;
            nextValid = true;
            position = 0;
            heldForNext = 0;
        }
        const auto it = frames.find(next);
        if (it != frames.end()) {
            decodeDue(it);
            // Above the target: shorten by a silent frame, or by a pitch period.
            if (position == 0 && bufferedSamples() > holdSamples() + frame) {
                const QVector<qint16> &f = it->second;
                const bool silent = std::all_of(f.begin(), f.end(), [](qint16 s) { return std::abs(s) < kSilentPeak; });
                if (silent) {
                    frames.erase(it);
                    ++next;
                    continue;
                }
                shrink(it->second);
            }
            const int n = std::min(count, it->second.size() - position);
            play(it->second, out, n);
            out += n;
            count -= n;
            position += n;
            if (position >= it->second.size()) {
                frames.erase(it);
                ++next;
                position = 0;
            }
            continue;
        }
        if (frames.empty()) {
            // Nothing yet: wait for it, covering the wait; after 60 ms fill up again.
            if (missing >= silenceAfter()) {
                playing = false;
                continue;
            }
            const int n = std::min(count, silenceAfter() - missing);
            conceal(out, n);
            heldForNext += n;
            out += n;
            count -= n;
            continue;
        }
        // Later ones are here: while they fill less than the target this one
        // may still come; then it is lost, and its 20 ms may have passed already.
        const bool wait = bufferedSamples() < holdSamples();
        if (!wait && heldForNext == 0 && decoder && decoder->hasConcealment()) {
            // The codec rebuilds the lost frame, from the next packet's FEC when it is here.
            const auto following = coded.find(next + 1);
            QVector<qint16> rebuilt = catchUp(next + 1, following != coded.end() ? following->second : QByteArray());
            if (!rebuilt.isEmpty()) {
                frames[next] = rebuilt;
                ++concealedByCodec;
                continue;
            }
        }
        const int n = std::min(count, wait ? frame : frameLength - heldForNext);
        if (n > 0) {
            conceal(out, n);
            out += n;
            count -= n;
            heldForNext += n;
        }
        if (!wait && heldForNext >= frameLength) {
            ++next;
            heldForNext = 0;
        }
    }
}

// The codec hears of every frame in order. Those the buffer gave up (covering
// them itself, skipping them while it filled up again) are concealed by the
// codec all the same before the next one it decodes, the last of them from
// that packet's FEC, and what it makes is thrown away: Opus decodes a packet
// against the frames before it, and not told of a loss it plays a wrong tone
// for a while after it. Over more than the longest target the codec has faded
// to silence anyway. Returns the last frame concealed, empty for none.
QVector<qint16> JitterBuffer::catchUp(qint64 upTo, const QByteArray &following)
{
    QVector<qint16> last;
    if (heard >= 0 && decoder->hasConcealment())
        for (qint64 k = std::max(heard + 1, upTo - maxTargetMs / 20); k < upTo; ++k)
            last = decoder->conceal(k + 1 == upTo ? following : QByteArray());
    heard = std::max(heard, upTo - 1);
    return last;
}

QVector<qint16> JitterBuffer::decodeInOrder(qint64 ext, const QByteArray &payload)
{
    catchUp(ext, payload);
    heard = ext;
    return decoder->decode(payload);
}

// A coded frame is decoded when its turn comes, so the decoder sees the
// packets in order; one that does not decode plays as silence.
void JitterBuffer::decodeDue(std::map<qint64, QVector<qint16>>::iterator it)
{
    const auto payload = coded.find(it->first);
    if (payload == coded.end())
        return;
    QVector<qint16> sound = decoder ? decodeInOrder(it->first, payload->second) : QVector<qint16>();
    coded.erase(payload);
    if (sound.isEmpty())
        sound = QVector<qint16>(frame, 0);
    it->second = sound;
}

// The gain of the t-th concealed sample: 6 dB down for each 20 ms repeat,
// reached in a short ramp, and silence after 60 ms.
double JitterBuffer::concealed(int t) const
{
    auto level = [](int repeat) { return repeat > 3 ? 0.0 : std::ldexp(1.0, -repeat); };
    const int repeat = t / frame + 1;
    const double from = level(repeat - 1), to = level(repeat);
    return from + (to - from) * std::min(1.0, double(t % frame) / ramp());
}

void JitterBuffer::conceal(qint16 *out, int count)
{
    if (missing == 0) {
        const int n = history.size();
        int lag = bestLag(history.constData(), n, frame / 2, minLag(), maxLag(), 0.0);
        if (lag == 0)
            lag = frame;
        cycle = history.mid(n - lag);
    }
    for (int i = 0; i < count; ++i, ++missing) {
        const double g = missing < silenceAfter() + ramp() ? concealed(missing) : 0.0;
        out[i] = g > 0 ? clip(cycle.at(missing % cycle.size()) * g) : 0;
    }
    resumeAt = -1;
}

void JitterBuffer::play(const QVector<qint16> &sound, qint16 *out, int count)
{
    const qint16 *in = sound.constData() + position;
    if (missing > 0) {
        resumeAt = missing;
        fadeDone = 0;
        missing = 0;
    }
    heldForNext = 0;
    for (int i = 0; i < count; ++i) {
        if (resumeAt >= 0 && fadeDone < fade()) {
            // Cross-fade from the concealment to the sound: no step either way.
            const double w = double(fadeDone + 1) / (fade() + 1);
            const int t = resumeAt + fadeDone;
            const double c = t < silenceAfter() + ramp() ? cycle.at(t % cycle.size()) * concealed(t) : 0.0;
            out[i] = clip(c * (1 - w) + in[i] * w);
            ++fadeDone;
        } else {
            out[i] = in[i];
        }
    }
    // Keep the newest played samples for the next gap.
    const int keep = std::min(count, history.size());
    std::copy(history.begin() + keep, history.end(), history.begin());
    std::copy(out + count - keep, out + count, history.end() - keep);
}

// Removes one pitch period, cross-faded over the period before it, so the
// delay shrinks by a few milliseconds without a step the ear hears.
bool JitterBuffer::shrink(QVector<qint16> &sound)
{
    const int n = sound.size();
    const int lag = bestLag(sound.constData(), n, n / 4, minLag(), std::min(maxLag(), n / 2), 0.7);
    if (lag == 0)
        return false;
    QVector<qint16> out(n - lag);
    for (int i = 0; i < out.size(); ++i) {
        if (i < lag) {
            const double w = double(i + 1) / (lag + 1);
            out[i] = clip(sound.at(i) * (1 - w) + sound.at(i + lag) * w);
        } else {
            out[i] = sound.at(i + lag);
        }
    }
    sound = out;
    return true;
}
