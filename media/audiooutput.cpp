#include "audiooutput.h"

#include "audio.h"
#include "rtp.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDebug>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

AudioOutput::AudioOutput(Audio *audio)
    : QIODevice(audio), audio(audio)
{
}

AudioOutput::~AudioOutput() = default;

Rtp *AudioOutput::rtp() const
{
    return audio ? audio->rtp : nullptr;
}

void AudioOutput::createAudioOut(int sampleRate, int channelCount, int sampleSize)
{
    const QAudioDeviceInfo info = QAudioDeviceInfo::defaultOutputDevice();
    format = Audio::deviceFormat(info, sampleRate, channelCount, sampleSize);
    qDebug().noquote() << "!!!!!!!!!  Selected Output device =" << info.deviceName();

    delete audioOutput;
    audioOutput = new QAudioOutput(info, format, this);
    qDebug().noquote() << "(SPEAKER) bufferSize_:" << format.bytesForDuration(160000);
    audioOutput->setBufferSize(format.bytesForDuration(playbackBufferUs));
    Audio::logDeviceFormats(info, format);
    qDebug().noquote() << "audioOut buffer Size:" << audioOutput->bufferSize();
}

void AudioOutput::audioStart()
{
    if (isOpen())
        close();
    // Unbuffered: a buffered device would read 16 KiB (a second) ahead.
    const bool opened = open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    qDebug().noquote() << "File open" << (opened ? "true" : "false");
    qDebug().noquote() << "is device Sequential=" << isSequential();
    running = true;
    if (!audioOutput)
        return;
    audioOutput->start(this);
    // The platform settles buffer and period only once the stream runs.
    qDebug().noquote() << "audioOut granted buffer:" << audioOutput->bufferSize() << "period:" << audioOutput->periodSize();
}

void AudioOutput::audioStop()
{
    running = false;
    if (audioOutput)
        audioOutput->stop();
    close();
}

qint64 AudioOutput::readData(char *data, qint64 maxlen)
{
    if (!data || maxlen <= 0)
        return 0;
    // Zero samples are silence; the device plays 16-bit linear, not A-law.
    std::memset(data, 0, static_cast<size_t>(maxlen));
    Rtp *session = rtp();
    if (!running || !session)
        return maxlen;
    // Whole samples only; the platform asks for whole periods anyway.
    const int samples = static_cast<int>(std::min<qint64>(maxlen / 2, 1 << 20));
    // Idle while it is asked for more: the device ran dry and played silence.
    if (audioOutput && audioOutput->state() == QAudio::IdleState)
        audio->playbackRanDry();
    QVarLengthArray<qint16, 1024> pcm(samples);
    // At full level: Qt sets the speaker's own.
    audio->fillSpeaker(pcm.data(), samples, 1.0f);
    auto *out = reinterpret_cast<unsigned char *>(data);
    for (int i = 0; i < samples; ++i) {
        out[2 * i] = loByte(pcm[i]);
        out[2 * i + 1] = hiByte(pcm[i]);
    }
    return 2 * qint64(samples);
}

qint64 AudioOutput::writeData(const char *data, qint64 len)
{
    Q_UNUSED(data)
    qWarning().noquote().nospace() << "AudioOutput::writeData IOError: device is read-only. " << len;
    return 0;
}
