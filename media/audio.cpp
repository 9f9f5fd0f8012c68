#include "audio.h"

#include "audioinput.h"
#include "audiooutput.h"
#include "audiothread.h"
#include "echocanceller.h"
#include "pulsedevices.h"
#include "rtp.h"

#include <QAudioInput>
#include <QDebug>
#include <QAudioOutput>
#include <QVarLengthArray>

#include <cmath>
#include <cstring>
#include <limits>

Audio::Audio(Rtp *rtp, QObject *parent)
    : QObject(parent), rtp(rtp)
{
    audioInit();
    PulseDevices::Hooks hooks;
    hooks.captured = [this](const char *data, int len) { capturedAtLevel(data, len); };
    hooks.fill = [this](qint16 *out, int count) { fillSpeaker(out, count, speakerValue); };
    hooks.ranDry = [this] { playbackRanDry(); };
    pulse = std::make_unique<PulseDevices>(std::move(hooks));
    connect(rtp, &Rtp::codecChanged, this, &Audio::followCodec);
}

Audio::~Audio() = default;

QAudioFormat Audio::deviceFormat(const QAudioDeviceInfo &info, int sampleRate, int channelCount, int sampleSize)
{
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channelCount);
    format.setSampleSize(sampleSize);
    format.setCodec("audio/pcm");
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    if (!info.isFormatSupported(format)) {
        qWarning().noquote() << "Default format not supported - trying to use nearest";
        format = info.nearestFormat(format);
    }
    return format;
}

void Audio::logDeviceFormats(const QAudioDeviceInfo &info, const QAudioFormat &format)
{
    qDebug().noquote() << "supportedChannelCounts:" << info.supportedChannelCounts();
    qDebug().noquote() << "supportedCodecs:" << info.supportedCodecs();
    qDebug().noquote() << "supportedByteOrders:" << info.supportedByteOrders();
    qDebug().noquote() << "supportedSampleRates:" << info.supportedSampleRates();
    qDebug().noquote() << "supportedSampleSizes:" << info.supportedSampleSizes();
    qDebug().noquote() << "supportedSampleTypes:" << info.supportedSampleTypes();
    qDebug().noquote() << "preferredFormat:" << info.preferredFormat();
    qDebug().noquote() << "bytesPerFrame:" << format.bytesPerFrame() << "sampleRate:" << format.sampleRate()
                       << "sampleSize:" << format.sampleSize() << "sampleType:" << format.sampleType()
                       << "channelCount:" << format.channelCount();
}

void Audio::audioInit()
{
    createAudioOut(deviceRate, 1, 16);
    createAudioIn(deviceRate, 1, 16);
    setMicValue(micValue);
}

void Audio::useRate()
{
    const int rate = rtp->sampleRate();
    if (rate != deviceRate) {
        qDebug().noquote() << "!!! Audio devices at" << rate << "Hz";
        deviceRate = rate;
        audioInit();
        setSpeakerValue(speakerValue);
    }
    if (!echoCanceller || echoCanceller->rate() != rate)
        echoCanceller = std::make_unique<EchoCanceller>(rate);
    echoCanceller->reset();
    echoCanceller->setEnabled(echoCancel);
    micPending.clear();
}

void Audio::setEchoCancel(bool on)
{
    runOn(this, [this, on] { echoCancel = on; });
}

void Audio::captured(const char *data, int len)
{
    if (!data || len <= 0)
        return;
    if (echoCanceller && echoCanceller->isEnabled()) {
        micPending.append(data, len);
        const int block = 2 * (deviceRate / 100);
        const int whole = micPending.size() / block * block;
        if (whole > 0) {
            echoCanceller->capture(reinterpret_cast<qint16 *>(micPending.data()), whole / 2);
            rtp->txPcm.append(micPending.constData(), whole);
            micPending.remove(0, whole);
        }
    } else {
        rtp->txPcm.append(data, len);
    }
    if (rtp->txPcm.size() >= rtp->frameBytesNow())
        emit rtp->msgTransmiterSignal();
}

void Audio::capturedAtLevel(const char *data, int len)
{
    if (micValue >= 1.0f) {
        captured(data, len);
        return;
    }
    QVarLengthArray<qint16, 1024> pcm(len / 2);
    std::memcpy(pcm.data(), data, size_t(pcm.size()) * 2);
    for (qint16 &s : pcm)
        s = qint16(std::lround(s * micValue));
    captured(reinterpret_cast<const char *>(pcm.constData()), pcm.size() * 2);
}

void Audio::fillSpeaker(qint16 *out, int count, float level)
{
    rtp->rxBuffer.pull(out, count);
    // The canceller's reference is exactly this: what the speaker is given, now.
    if (echoCanceller && echoCanceller->isEnabled() && audioActive)
        echoCanceller->playback(out, count);
    if (level < 1.0f)
        for (int i = 0; i < count; ++i)
            out[i] = qint16(std::lround(out[i] * level));
}

void Audio::playbackRanDry()
{
    if (echoCanceller && echoCanceller->isEnabled() && audioActive)
        echoCanceller->playbackInterrupted();
}

double Audio::erle() const
{
    return echoCanceller && echoCanceller->isEnabled() ? echoCanceller->erle()
                                                        : std::numeric_limits<double>::quiet_NaN();
}

void Audio::createAudioIn(int sampleRate, int channelCount, int sampleSize)
{
    if (!audioInput)
        audioInput = new AudioInput(this);
    audioInput->createAudioIn(sampleRate, channelCount, sampleSize);
}

void Audio::createAudioOut(int sampleRate, int channelCount, int sampleSize)
{
    if (!audioOutput)
        audioOutput = new AudioOutput(this);
    audioOutput->createAudioOut(sampleRate, channelCount, sampleSize);
}

void Audio::audioStart()
{
    runOn(this, [this] { start(); });
}

void Audio::start()
{
    // After early media the session and the speaker run on: the answer's
    // stream joins the same jitter buffer, and packets go to the address of
    // the answer's SDP, which the socket reads for each packet.
    const bool early = speakerRunning() && !audioActive;
    if (!early) {
        rtp->initSession();
        useRate();
        chooseDevices();
    }
    startCapture();
    if (!early)
        startPlayback();
    audioActive = true;
    emit activeChanged(true);
}

void Audio::audioStop()
{
    runOn(this, [this] { stop(); });
}

void Audio::stop()
{
    if (audioActive || speakerRunning())
        rtp->logCallFigures(erle());
    // The call's keys go with it.
    rtp->clearSrtp();
    rtp->endSession();
    const bool wasActive = audioActive;
    audioActive = false;
    stopDevices();
    if (wasActive)
        emit activeChanged(false);
}

void Audio::audioStartSpeaker()
{
    runOn(this, [this] { startSpeaker(); });
}

void Audio::startSpeaker()
{
    if (speakerRunning())
        return; // a repeated 183: the early media plays on
    rtp->initSession();
    useRate();
    chooseDevices();
    startPlayback();
}

void Audio::followCodec()
{
    const bool capturing = audioActive, playing = speakerRunning();
    if (rtp->sampleRate() == deviceRate || (!capturing && !playing))
        return;   // the devices and the canceller go on as they are
    stopDevices();
    useRate();
    if (capturing)
        startCapture();
    if (playing)
        startPlayback();
}

void Audio::chooseDevices()
{
    direct = pulse->usable();
    if (!direct)
        pulse->retry();   // for the next call: the server may have started since
}

void Audio::startCapture()
{
    if (direct)
        pulse->startCapture(deviceRate);
    else
        audioInput->audioStart();
}

void Audio::stopDevices()
{
    audioInput->audioStop();
    audioOutput->audioStop();
    pulse->stopCapture();
    pulse->stopPlayback();
}

void Audio::startPlayback()
{
    if (direct)
        pulse->startPlayback(deviceRate);
    else
        audioOutput->audioStart();
}

bool Audio::speakerRunning() const
{
    return audioOutput->running || pulse->playing();
}

bool Audio::sendDtmf(QChar key)
{
    bool sent = false;
    runOn(this, [&] { sent = audioActive && rtp->sendKey(key); });
    return sent;
}

void Audio::setMicValue(float v)
{
    runOn(this, [this, v] {
        micValue = v;
        if (audioInput && audioInput->audioInput)
            audioInput->audioInput->setVolume(static_cast<qreal>(v));
    });
}

void Audio::setSpeakerValue(float v)
{
    runOn(this, [this, v] {
        speakerValue = v;
        if (audioOutput && audioOutput->audioOutput)
            audioOutput->audioOutput->setVolume(static_cast<qreal>(v));
    });
}
