#include "echocanceller.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <QDebug>
#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

constexpr int ring = 1024;          // blocks of history: 10 s
constexpr int window = 100;         // blocks correlated: 1 s
constexpr int maxLag = 60;          // blocks: up to 600 ms from speaker to microphone
constexpr int referenceBlocks = 128; // blocks of the speaker's samples kept: 1.28 s
// The linear filter spans 200 ms from the delay it is told, the echo found
// there and its reflections up to 60 ms later. A delay found from 10 to 130
// ms after the told one changes nothing (every change makes the filter adapt
// again); one outside is told, less 30 ms. At 8 kHz the envelope's delay
// lies a block or two late (its reflections), which the margin covers.
constexpr int tailBlocks = 20;
constexpr int coveredFrom = 1, coveredTo = 13, marginBlocks = 3;
// A delay that moves by more than 60 ms from the one told is told again even
// inside that span: the filter took 6 s and more to unlearn the old echo
// where it stood, and under a second to learn one told afresh.
constexpr int movedBlocks = 6;
// When the speaker runs dry it plays silence and then everything later; the
// echo moves by about as long as the gap (the server's queue may change too).
// Once the moved echo has reached the microphone (the found delay and 50 ms
// on) and 250 ms of it were heard, the learned echo path is matched, sample
// by sample, against what the microphone heard, up to 60 ms either way of
// where the blocks played and heard since put it (the speaker's lead over the
// microphone fell by the spell's length, and the server's queue may have
// changed by some ms), and the reference moves by the best fit, so the filter
// fits again at once. Searched around no move instead, a spell longer than
// 60 ms matched a likeness at the search's edge (80 ms at 57), and the echo
// came back 8 dB louder than without the canceller for the rest of the call. From
// the moved echo's arrival until then, and 200 ms after a move while the later
// stages follow, the microphone is held 40 dB down while the far end talks. A
// fit must explain half of what was heard (far-end speech); without one, it
// is tried again after each 100 ms with far-end speech, 12 times at most,
// after which the envelope's delay search takes over. A spell while a match
// is under way begins it again.
// The match is made a slice at a time, over the 10 blocks heard (100 ms) that
// a try takes, the next try starting as one ends. Whole, it held the audio
// thread 13 ms at 16 kHz, and 15-75 ms in loopback calls with the machine
// busy: longer than the speaker's queue, so the speaker ran dry again, and the
// match began once more, every 100 ms.
constexpr int fitBlocks = 25, maxShiftMs = 60, retryBlocks = 10, triesAllowed = 12, settleBlocks = 20;
constexpr int fitSlices = retryBlocks / 2;   // for each of its two sums
const float voiceLevel = float(std::log(1.0 + 300.0 * 300.0));   // a 10 ms block's log energy with far-end speech in it
constexpr int micBlocks = 40;        // the microphone's samples kept: 400 ms
constexpr float heldGain = 0.01f;

float logEnergy(const qint16 *x, int n)
{
    double s = 0;
    for (int i = 0; i < n; ++i)
        s += double(x[i]) * x[i];
    return float(std::log(1.0 + s / n));
}

} // namespace

// The match in the making: what it was made of when it started, and its sums so far.
struct EchoCanceller::Fit
{
    std::vector<float> h, x, y, model;
    std::vector<double> cross, energy;
    qint64 offset = 0;   // echoOffset() when it started
    qint64 centre = 0;   // the move the blocks' count tells, in samples
    int most = 0;        // samples the echo may have moved, either way of it
    int step = 0;
};

EchoCanceller::EchoCanceller(int rate)
    : sampleRate(rate), block(rate / 100), frame(std::make_unique<webrtc::AudioFrame>()), played(ring), heard(ring)
{
    setEnabled(true);
}

EchoCanceller::~EchoCanceller()
{
    release();
}

void EchoCanceller::release()
{
    if (residual)
        speex_preprocess_state_destroy(residual);
    if (filter)
        speex_echo_state_destroy(filter);
    residual = nullptr;
    filter = nullptr;
}

void EchoCanceller::configure()
{
    release();
    filter = speex_echo_state_init(block, tailBlocks * block);
    speex_echo_ctl(filter, SPEEX_ECHO_SET_SAMPLING_RATE, &sampleRate);
    // Its defaults: echo left by the filter down by up to 40 dB (15 while
    // the near end talks), noise by up to 15 dB; its gain control stays off,
    // as it raised what was left of the echo. Its overlap holds back one
    // block, 10 ms more from mouth to wire. At 8 kHz webrtc's stage takes
    // what the filter leaves alone, so there it is left out: the echo stayed
    // 37-41 dB down in the loopback calls (43-44 with it), and the near
    // talker lost at most 3.7 dB in double talk in bench_echo (7.1 with it).
    // At 16 kHz it stays: without it the ERLE of bench_phone's call over the
    // loopback fell from 29 dB to 7-18.
    if (preprocessed()) {
        residual = speex_preprocess_state_init(block, sampleRate);
        speex_preprocess_ctl(residual, SPEEX_PREPROCESS_SET_ECHO_STATE, filter);
        int on = 1;
        speex_preprocess_ctl(residual, SPEEX_PREPROCESS_SET_DENOISE, &on);
    }
    reference.assign(size_t(referenceBlocks * block), 0);
    heardSamples.assign(size_t(micBlocks * block), 0);
    aligned.assign(size_t(block), 0);
    cleaned.assign(size_t(block), 0);

    webrtc::Config config;
    // The extended filter and its conservative far-end alignment suit a
    // desktop's long and unknown device delays. At 8 kHz the library's own
    // delay search kept it steady when our told delay moved; at 16 kHz its
    // search missed a 200 ms delay for 14 s (bench_echo), so there it is
    // given our aligned reference.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(librarySearchesDelay()));
    config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    apm.reset(webrtc::AudioProcessing::Create(config));
    apm->echo_cancellation()->enable_drift_compensation(false);
    // After the filter little echo is left for it, so it takes little of the
    // near talker with it: the moderate level, at every rate. In the loopback
    // calls, two at once, the echo stayed 44-82 dB down at 16 kHz (32 calls)
    // and 37-41 at 8 kHz. At the high level the near talker lost up to 7.1 dB
    // in double talk at 16 kHz (over 6 dB in two calls of sixteen), and up to
    // 5.6 at 8 kHz (3.5 at the moderate).
    apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kModerateSuppression);
    apm->echo_cancellation()->enable_metrics(true);
    apm->echo_cancellation()->Enable(true);
    apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kModerate);
    apm->noise_suppression()->Enable(true);
    apm->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital);
    apm->gain_control()->Enable(true);
    apm->high_pass_filter()->Enable(true);
    pending.clear();
    playedCount = heardCount = 0;
    delayBlocks = toldBlocks = 0;
    skew = 0;
    toldFor = -1;
    candidate = -1;
    shiftSamples = 0;
    realignAt = settledAt = 0;
    dryFrom = -window;
    matched = false;
    fit.reset();
    located = false;
    erleBlocks.assign(erleBlocks.size(), 0);
}

void EchoCanceller::setEnabled(bool on)
{
    // Another rate than the library's passes through, as switched off.
    on = on && (sampleRate == 8000 || sampleRate == 16000 || sampleRate == 32000 || sampleRate == 48000);
    if (on && !enabled)
        configure();   // the path may have changed while it was off
    else if (!on)
        release();
    enabled = on;
}

void EchoCanceller::reset()
{
    configure();
}

void EchoCanceller::playback(const qint16 *samples, int count)
{
    if (!enabled || count <= 0)
        return;
    pending.insert(pending.end(), samples, samples + count);
    size_t at = 0;
    for (; at + size_t(block) <= pending.size(); at += size_t(block)) {
        if (librarySearchesDelay()) {
            frame->UpdateFrame(0, 0, pending.data() + at, size_t(block), sampleRate, webrtc::AudioFrame::kNormalSpeech,
                               webrtc::AudioFrame::kVadUnknown, 1);
            apm->ProcessReverseStream(frame.get());
        }
        std::copy(pending.begin() + qint64(at), pending.begin() + qint64(at) + block,
                  reference.begin() + playedCount % referenceBlocks * block);
        played[size_t(playedCount++ % ring)] = logEnergy(pending.data() + at, block);
    }
    pending.erase(pending.begin(), pending.begin() + qint64(at));
}

void EchoCanceller::capture(qint16 *samples, int count)
{
    if (!enabled)
        return;
    for (int at = 0; at + block <= count; at += block) {
        qint16 *x = samples + at;
        heard[size_t(heardCount++ % ring)] = { logEnergy(x, block), playedCount };
        if (heardCount % 10 == 0)
            estimateDelay();
        double in = 0;
        for (int i = 0; i < block; ++i)
            in += double(x[i]) * x[i];
        // What was played the told delay before this block, counted in
        // blocks of both streams (so that it does not move with the sizes in
        // which the devices hand them over); silence where there is none.
        const qint64 told = (heardCount - 1) * block - echoOffset();
        std::copy(x, x + block, heardSamples.begin() + (heardCount - 1) % micBlocks * block);
        for (int i = 0; i < block; ++i)
            aligned[size_t(i)] = speakerSample(told + i);
        const qint16 *ref = aligned.data();
        speex_echo_cancellation(filter, x, ref, cleaned.data());
        if (residual)
            speex_preprocess_run(residual, cleaned.data());
        if (!librarySearchesDelay()) {
            frame->UpdateFrame(0, 0, ref, size_t(block), sampleRate, webrtc::AudioFrame::kNormalSpeech,
                               webrtc::AudioFrame::kVadUnknown, 1);
            apm->ProcessReverseStream(frame.get());
        }
        frame->UpdateFrame(0, 0, cleaned.data(), size_t(block), sampleRate, webrtc::AudioFrame::kNormalSpeech,
                           webrtc::AudioFrame::kVadUnknown, 1);
        apm->set_stream_delay_ms(0);
        apm->ProcessStream(frame.get());
        std::copy(frame->data_, frame->data_ + block, x);
        if ((realignAt > 0 && heardCount >= heldFrom && farTalks(maxShiftMs / 10 + 2)) || heardCount < settledAt)
            for (int i = 0; i < block; ++i)
                x[i] = qint16(std::lround(x[i] * heldGain));
        if (realignAt > 0 && heardCount >= realignAt)
            realign();
        // The figure counts blocks whose echo is due from far-end speech (not
        // only those in which the last stage still found echo: after the
        // filter those are few, and fed a wrong reference its suppression
        // alone made them look 10 dB better than the call was).
        const qint64 due = playedCount - 1 - delayBlocks;   // the block whose echo this is
        if (located && due >= 0 && due > playedCount - ring && played[size_t(due % ring)] > voiceLevel) {
            double out = 0;
            for (int i = 0; i < block; ++i)
                out += double(x[i]) * x[i];
            const int db = int(std::lround(10 * std::log10(std::max(in, 1.0) / std::max(out, 1.0))));
            ++erleBlocks[size_t(std::clamp(db - erleFloorDb, 0, int(erleBlocks.size()) - 1))];
        }
    }
}

void EchoCanceller::estimateDelay()
{
    // The lag at which the microphone's envelope follows the speaker's best
    // (Pearson correlation over the last second); taken once it is found twice
    // in a row, so that a near-end talker's burst does not move it.
    const int n = int(std::min<qint64>(heardCount, window));
    std::array<double, maxLag + 1> corr;
    constexpr double unknown = -2;   // too little heard to tell at that lag
    corr.fill(unknown);
    for (int lag = 0; lag <= maxLag; ++lag) {
        double rr = 0, r2 = 0, rm = 0, mm = 0, m2 = 0;
        int used = 0;
        for (int k = 0; k < n; ++k) {
            const Heard &h = heard[size_t((heardCount - 1 - k) % ring)];
            const qint64 p = h.played - 1 - lag;
            if (p < 0 || p <= playedCount - ring)
                continue;   // before the call, or forgotten
            const double r = played[size_t(p % ring)], m = h.energy;
            rr += r;
            r2 += r * r;
            rm += r * m;
            mm += m;
            m2 += m * m;
            ++used;
        }
        const double rVar = r2 - rr * rr / std::max(1, used), mVar = m2 - mm * mm / std::max(1, used);
        // Half a second at least, with the far end talking in it.
        if (used < window / 2 || rVar < 1.0 * used || mVar <= 0)
            continue;
        corr[size_t(lag)] = (rm - rr * mm / used) / std::sqrt(rVar * mVar);
    }
    // The best lag must be a peak, above the lags told on either side of it:
    // one at the end of the lags told is a slope, the envelopes' start or end
    // (the far end falling quiet, a talker's burst), not the echo. Below 0.5
    // the envelopes are not alike. Once the echo is found, a move needs them
    // as alike as the far end talking alone makes them (0.98 and more in the
    // loopback calls): with the near end talking too, or the far end falling
    // quiet within the second searched, lags 30-450 ms off the echo matched
    // at 0.5-0.74, and the filter told to start there let the echo through
    // until it was found again.
    const double alike = located ? 0.9 : 0.5;
    int best = -1;
    for (size_t lag = 1; lag < maxLag; ++lag)
        if (corr[lag] > alike && corr[lag - 1] > unknown && corr[lag + 1] > unknown && corr[lag] > corr[lag - 1]
            && corr[lag] >= corr[lag + 1] && (best < 0 || corr[lag] > corr[size_t(best)]))
            best = int(lag);
    // Nor is a found echo moved on a second that holds the speaker's last dry
    // spell: that second holds the echo before and after it, and the match
    // after a dry speaker moves the reference to the sample (the search undid
    // such a move at once, and the filter had to learn the echo again).
    if (located && heardCount - window < dryFrom)
        best = -1;
    // How many blocks the speaker is ahead of the microphone on average:
    // the reference's place is fixed by it whenever the delay is told.
    const double ahead = lead(window);
    if (!located)
        skew = ahead;
    // Nor while that lead is changing: the speaker is running dry (the
    // process was starved, and is told so once it runs again), and the
    // second's mean lies between the leads before and after.
    if (located && std::abs(lead(retryBlocks) - ahead) >= 1)
        best = -1;
    if (best < 0)
        return;
    if (std::abs(best - candidate) <= 1) {
        delayBlocks = best;
        located = true;
        if (toldFor < 0)
            toldFor = best;
        // The found delay is counted in blocks played before a block heard, and
        // a dry spell does not move it: the speaker's lead over the microphone
        // falls by as much as the echo comes later. What the reference moved
        // by beyond that count (the server's queue changed too) moved the
        // echo's delay in blocks as well, and where the reference stands.
        const double unexplained = double(shiftSamples) - (skew - ahead) * block;
        const int moved = int(std::lround(unexplained / block));
        const int at = toldBlocks + moved;   // where the reference stands
        // Outside the filter, or moved: told again (and the filter adapts there).
        // So too when the blocks played and heard no longer line up as when it
        // was told, by 20 ms and more, and no match followed the speaker's
        // last dry spell: the match failed, or the devices' clocks drifted
        // apart. After a match the count is left alone: in a loopback call it
        // disagreed with the match, and telling the filter afresh let a second
        // of echo through.
        const bool slipped = !matched && !fit && realignAt == 0 && std::abs(unexplained) >= 2 * block;
        if (best < at + coveredFrom || best > at + coveredTo || std::abs(best - toldFor - moved) > movedBlocks || slipped) {
            toldBlocks = std::max(0, best - marginBlocks);
            skew = ahead;
            toldFor = best;
            shiftSamples = 0;
            qDebug().noquote() << "!!! Echo: heard" << best * 10 << "ms after it played; the filter starts there";
        }
    }
    candidate = best;
}

bool EchoCanceller::farTalks(int span) const
{
    const qint64 due = playedCount - 1 - delayBlocks;   // the block whose echo is heard now
    for (qint64 b = std::max<qint64>({0, due - span, playedCount - ring + 1}); b <= due + span && b < playedCount; ++b)
        if (played[size_t(b % ring)] > voiceLevel)
            return true;
    return false;
}

double EchoCanceller::lead(int blocks) const
{
    const qint64 n = std::min<qint64>(heardCount, blocks);
    double sum = 0;
    for (qint64 b = heardCount - n; b < heardCount; ++b)
        sum += double(heard[size_t(b % ring)].played - b);
    return n > 0 ? sum / double(n) : 0;
}

qint64 EchoCanceller::echoOffset() const
{
    return (toldBlocks + 1 - std::llround(skew)) * block + shiftSamples;
}

qint16 EchoCanceller::speakerSample(qint64 n) const
{
    const qint64 kept = qint64(reference.size());
    return n >= 0 && n < playedCount * block && n >= playedCount * block - kept ? reference[size_t(n % kept)] : 0;
}

void EchoCanceller::playbackInterrupted()
{
    dryFrom = heardCount + delayBlocks;
    // Before the delay is found there is no learned path to move. A match
    // already under way begins again (the microphone held on from the first
    // spell): what it heard holds the echo from before this spell too, and
    // moved by the earlier spells alone it left the echo 5-10 dB below the far
    // end, or above it, when the busy speaker ran dry twice in half a second.
    matched = false;
    if (enabled && located) {
        if (realignAt == 0)
            heldFrom = dryFrom;
        fit.reset();
        realignAt = dryFrom + 5 + fitBlocks;
        tries = 0;
    }
}

void EchoCanceller::realign()
{
    if (!fit) {
        // Made only over far-end speech, the one thing that shows where the
        // echo now is; while the far end is quiet the match waits without
        // spending a try.
        if (!farTalks(fitBlocks / 2)) {
            realignAt = heardCount + retryBlocks;
            return;
        }
        startFit();
    }
    if (fitStep())
        finishFit();
}

void EchoCanceller::startFit()
{
    fit = std::make_unique<Fit>();
    const int taps = tailBlocks * block, length = fitBlocks * block;
    fit->most = maxShiftMs * sampleRate / 1000;
    fit->offset = echoOffset();
    // The speaker's lead over the microphone since it played again, against its lead when the reference was
    // placed, less the moves since, tells how far the echo moved.
    fit->centre = std::llround((skew - lead(retryBlocks)) * block) - shiftSamples;
    std::vector<spx_int32_t> learned(static_cast<size_t>(taps));
    speex_echo_ctl(filter, SPEEX_ECHO_GET_IMPULSE_RESPONSE, learned.data());
    fit->h.assign(learned.rbegin(), learned.rend());   // reversed: h[taps - 1 - j] is tap j
    // What was heard last, and the filter's echo of what was played for it,
    // m(u) = sum h[j] x(u - j), moved by the count's move and up to `most` either way of it.
    const qint64 end = heardCount * block;   // one past the last sample heard
    const qint64 first = end - length - fit->offset - fit->centre - fit->most;
    fit->x.resize(static_cast<size_t>(length + 2 * fit->most + taps - 1));
    fit->y.resize(static_cast<size_t>(length));
    fit->model.assign(static_cast<size_t>(length + 2 * fit->most), 0.0f);
    for (size_t i = 0; i < fit->x.size(); ++i)
        fit->x[i] = speakerSample(first - taps + 1 + qint64(i));
    for (int i = 0; i < length; ++i)
        fit->y[size_t(i)] = heardSamples[size_t((end - length + i) % (micBlocks * block))];
    fit->cross.assign(size_t(2 * fit->most + 1), 0.0);
    fit->energy.assign(fit->cross.size(), 0.0);
}

bool EchoCanceller::fitStep()
{
    // Each sum is built a term at a time for all its outputs at once, so that
    // the inner loops run along the samples and the compiler vectorises them
    // (one sum after another it may not: their order is kept). The terms add
    // up in the same order either way, and in slices: a fifth of the terms of
    // the model, then of the match, in each block heard.
    const bool model = fit->step < fitSlices;
    const size_t terms = model ? fit->h.size() : fit->y.size(), slice = size_t(fit->step % fitSlices);
    const size_t from = terms * slice / fitSlices, to = terms * (slice + 1) / fitSlices;
    if (model) {
        float *__restrict m = fit->model.data();
        const size_t outputs = fit->model.size();
        for (size_t j = from; j < to; ++j) {
            const float hj = fit->h[j], *__restrict xj = fit->x.data() + j;
            for (size_t u = 0; u < outputs; ++u)
                m[u] += hj * xj[u];
        }
    } else {
        // For each shift d, at k = most - d: what the moved echo and the heard have in common, and its energy.
        double *__restrict c = fit->cross.data(), *__restrict en = fit->energy.data();
        const size_t shifts = fit->cross.size();
        for (size_t i = from; i < to; ++i) {
            const float yi = fit->y[i], *__restrict e = fit->model.data() + i;
            for (size_t k = 0; k < shifts; ++k) {
                c[k] += yi * e[k];
                en[k] += e[k] * e[k];
            }
        }
    }
    return ++fit->step == 2 * fitSlices;
}

void EchoCanceller::finishFit()
{
    const std::unique_ptr<Fit> done = std::move(fit);
    // The envelope's delay search told a new delay meanwhile: the reference stands where that put it.
    if (echoOffset() != done->offset) {
        realignAt = 0;
        return;
    }
    const double heardEnergy = std::inner_product(done->y.begin(), done->y.end(), done->y.begin(), 0.0);
    // The shift whose echo explains the largest share of what was heard.
    const int most = done->most;
    int best = 0;
    double bestShare = 0;
    for (int d = -most; d <= most; ++d) {
        const size_t k = size_t(most - d);
        const double share = done->energy[k] > 0 && heardEnergy > 0
            ? done->cross[k] * done->cross[k] / (done->energy[k] * heardEnergy)
            : 0;
        if (share > bestShare) {
            bestShare = share;
            best = d;
        }
    }
    best += int(done->centre);
    if (bestShare >= 0.5) {
        matched = true;
        shiftSamples += best;
        qDebug().noquote() << "!!! Echo: the speaker ran dry; its echo moved by" << best * 1000 / sampleRate << "ms, the filter follows";
        realignAt = 0;
        if (std::abs(best) * 500 >= sampleRate)   // 2 ms and more: the later stages have something to follow
            settledAt = heardCount + settleBlocks;
        // The filter keeps the reference's last 200 ms: the blocks just heard go through it again with the
        // reference where it now stands, so that what it keeps runs on without a jump.
        std::vector<qint16> ref(static_cast<size_t>(block));
        const qint64 moved = echoOffset();
        for (qint64 b = heardCount - tailBlocks; b < heardCount; ++b) {
            for (int i = 0; i < block; ++i)
                ref[size_t(i)] = speakerSample(b * block - moved + i);
            speex_echo_cancellation(filter, heardSamples.data() + b % micBlocks * block, ref.data(), cleaned.data());
        }
    } else {
        realignAt = ++tries < triesAllowed ? heardCount : 0;   // the next try now: 100 ms after this one began
    }
}

double EchoCanceller::erle() const
{
    // The median block: double talk and the first second, while the filter
    // converges, are a minority of the blocks in which the far end talks.
    const int blocks = std::accumulate(erleBlocks.begin(), erleBlocks.end(), 0);
    for (int db = 0, seen = 0; db < int(erleBlocks.size()); ++db)
        if ((seen += erleBlocks[size_t(db)]) * 2 >= blocks && blocks > 0)
            return db + erleFloorDb;
    return 0;
}
