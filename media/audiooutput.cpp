#include "audiooutput.h"

#include "audio.h"
#include "rtp.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDebug>

#include <algorithm>
#include <cstring>

AudioOutput::AudioOutput(Audio *audio)
    : QIODevice(audio), audio(audio), lastChunk(lastChunkCapacity, '\0')
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
    audioOutput->setBufferSize(playbackBufferBytes);
    Audio::logDeviceFormats(info, format);
    qDebug().noquote() << "audioOut buffer Size:" << audioOutput->bufferSize();
}

void AudioOutput::audioStart()
{
    if (isOpen())
        close();
    const bool opened = open(QIODevice::ReadWrite);
    qDebug().noquote() << "File open" << (opened ? "true" : "false");
    qDebug().noquote() << "is device Sequential=" << isSequential();
    lastChunk.fill('\0');
    lastLength = startChunkBytes;
    repeatedBytes = 0;
    running = true;
    if (audioOutput)
        audioOutput->start(this);
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

    QByteArray &rx = session->rxPcm;
    if (rx.isEmpty()) {
        // A lost packet or two: say the last chunk again, never more than asked.
        const int n = static_cast<int>(std::min<qint64>(lastLength, maxlen));
        const int repeat = std::max(0, std::min(n, maxRepeatBytes - repeatedBytes));
        std::memcpy(data, lastChunk.constData(), static_cast<size_t>(repeat));
        repeatedBytes += n;
        return n;
    }

    const int n = static_cast<int>(std::min<qint64>(maxlen, rx.size()));
    std::memcpy(data, rx.constData(), static_cast<size_t>(n));
    rx.remove(0, n);
    lastLength = std::min(n, lastChunkCapacity);
    std::memcpy(lastChunk.data(), data, static_cast<size_t>(lastLength));
    repeatedBytes = 0;
    return n;
}

qint64 AudioOutput::writeData(const char *data, qint64 len)
{
    Q_UNUSED(data)
    qWarning().noquote().nospace() << "AudioOutput::writeData IOError: device is read-only. " << len;
    return 0;
}
