#include "echocanceller.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int ring = 1024;          // blocks of history: 10 s
constexpr int window = 100;         // blocks correlated: 1 s
constexpr int maxLag = 60;          // blocks: up to 600 ms from speaker to microphone
constexpr int referenceBlocks = 64; // blocks of the speaker's samples kept: 640 ms
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

// A block of silence at the highest rate.
const qint16 *silence()
{
    static const std::vector<qint16> zeros(480, 0);
    return zeros.data();
}

float logEnergy(const qint16 *x, int n)
{
    double s = 0;
    for (int i = 0; i < n; ++i)
        s += double(x[i]) * x[i];
    return float(std::log(1.0 + s / n));
}

} // namespace

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
    residual = nullptr, filter = nullptr;
}

void EchoCanceller::configure()
{
    release();
    filter = speex_echo_state_init(block, tailBlocks * block);
    speex_echo_ctl(filter, SPEEX_ECHO_SET_SAMPLING_RATE, &sampleRate);
    // Its defaults: echo left by the filter down by up to 40 dB (15 while
    // the near end talks), noise by up to 15 dB; its gain control stays off,
    // as it raised what was left of the echo.
    residual = speex_preprocess_state_init(block, sampleRate);
    speex_preprocess_ctl(residual, SPEEX_PREPROCESS_SET_ECHO_STATE, filter);
    int on = 1;
    speex_preprocess_ctl(residual, SPEEX_PREPROCESS_SET_DENOISE, &on);
    reference.assign(size_t(referenceBlocks * block), 0);
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
    // near talker with it. Lower levels left the echo only 14-24 dB down in
    // one call of six on the test machine's loopback.
    apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kHighSuppression);
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
        const qint64 told = heardCount - 1 + skew - 1 - toldBlocks;
        const qint16 *ref = silence();
        if (told >= 0 && told < playedCount && told > playedCount - referenceBlocks)
            ref = reference.data() + told % referenceBlocks * block;
        speex_echo_cancellation(filter, x, ref, cleaned.data());
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
        // The figure counts blocks whose echo is due from far-end speech (not
        // only those in which the last stage still found echo: after the
        // filter those are few, and fed a wrong reference its suppression
        // alone made them look 10 dB better than the call was).
        const qint64 due = playedCount - 1 - delayBlocks;   // the block whose echo this is
        if (located && due >= 0 && due > playedCount - ring && played[size_t(due % ring)] > std::log(1.0 + 300.0 * 300.0)) {
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
    int best = -1;
    double bestCorr = 0.5;   // below this the envelopes are not alike
    for (int lag = 0; lag <= maxLag; ++lag) {
        double rr = 0, r2 = 0, rm = 0, mm = 0, m2 = 0;
        int used = 0;
        for (int k = 0; k < n; ++k) {
            const Heard &h = heard[size_t((heardCount - 1 - k) % ring)];
            const qint64 p = h.played - 1 - lag;
            if (p < 0 || p <= playedCount - ring)
                continue;   // before the call, or forgotten
            const double r = played[size_t(p % ring)], m = h.energy;
            rr += r, r2 += r * r, rm += r * m, mm += m, m2 += m * m, ++used;
        }
        const double rVar = r2 - rr * rr / std::max(1, used), mVar = m2 - mm * mm / std::max(1, used);
        // Half a second at least, with the far end talking in it.
        if (used < window / 2 || rVar < 1.0 * used || mVar <= 0)
            continue;
        const double corr = (rm - rr * mm / used) / std::sqrt(rVar * mVar);
        if (corr > bestCorr)
            bestCorr = corr, best = lag;
    }
    // How many blocks the speaker is ahead of the microphone on average:
    // the reference's place is fixed by it whenever the delay is told.
    double ahead = 0;
    for (int k = 0; k < n; ++k)
        ahead += double(heard[size_t((heardCount - 1 - k) % ring)].played - (heardCount - 1 - k)) / std::max(1, n);
    if (!located)
        skew = std::llround(ahead);
    if (best < 0)
        return;
    if (std::abs(best - candidate) <= 1) {
        delayBlocks = best;
        located = true;
        if (toldFor < 0)
            toldFor = best;
        // Outside the filter, or moved: told again (and the filter adapts there).
        if (best < toldBlocks + coveredFrom || best > toldBlocks + coveredTo || std::abs(best - toldFor) > movedBlocks)
            toldBlocks = std::max(0, best - marginBlocks), skew = std::llround(ahead), toldFor = best;
    }
    candidate = best;
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
