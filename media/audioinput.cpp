#include "audioinput.h"

#include "audio.h"
#include "rtp.h"

#include <QAudioDeviceInfo>
#include <QAudioInput>
#include <QDebug>

#include <limits>

AudioInput::AudioInput(Audio *audio)
    : QIODevice(audio), audio(audio)
{
}

AudioInput::~AudioInput() = default;

Rtp *AudioInput::rtp() const
{
    return audio ? audio->rtp : nullptr;
}

void AudioInput::createAudioIn(int sampleRate, int channelCount, int sampleSize)
{
    const QAudioDeviceInfo info = QAudioDeviceInfo::defaultInputDevice();
    format = Audio::deviceFormat(info, sampleRate, channelCount, sampleSize);
    qDebug().noquote() << "!!!!!!!!! Selected input device =" << info.deviceName();

    delete audioInput;
    audioInput = new QAudioInput(info, format, this);
    qDebug().noquote() << "(MIC) bufferSize_:" << format.bytesForDuration(160000);
    audioInput->setBufferSize(format.bytesForDuration(capturePeriodUs));
    Audio::logDeviceFormats(info, format);
    qDebug().noquote() << "audioIn buffer Size:" << audioInput->bufferSize();
}

void AudioInput::audioStart()
{
    if (isOpen())
        close();
    const bool opened = open(QIODevice::ReadWrite);
    qDebug().noquote() << "File open" << (opened ? "true" : "false");
    qDebug().noquote() << "is device Sequential=" << isSequential();
    running = true;
    if (!audioInput)
        return;
    audioInput->start(this);
    // The platform settles buffer and period only once the stream runs.
    qDebug().noquote() << "audioIn granted buffer:" << audioInput->bufferSize() << "period:" << audioInput->periodSize();
}

void AudioInput::audioStop()
{
    running = false;
    if (audioInput)
        audioInput->stop();
    close();
}

qint64 AudioInput::readData(char *data, qint64 maxlen)
{
    Q_UNUSED(data)
    Q_UNUSED(maxlen)
    qWarning().noquote() << "AudioInput::readData IOError: device is write-only.";
    return 0;
}

qint64 AudioInput::writeData(const char *data, qint64 len)
{
    Rtp *session = rtp();
    if (!running || !session)
        return 0;
    // Platform blocks are a few hundred bytes; anything beyond an int is not ours.
    if (!data || len <= 0 || len > std::numeric_limits<int>::max() / 2)
        return 0;
    audio->captured(data, static_cast<int>(len));
    return len;
}
