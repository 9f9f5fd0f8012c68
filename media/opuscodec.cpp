#include "opuscodec.h"

#include <QStringList>

#include <opus.h>

namespace {

// The value of one a=fmtp parameter ("name=value; name=value"), or empty.
QString fmtpValue(const QString &fmtp, const QString &name)
{
    for (const QString &p : fmtp.split(QLatin1Char(';'))) {
        const int eq = p.indexOf(QLatin1Char('='));
        if (eq > 0 && p.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return p.mid(eq + 1).trimmed();
    }
    return {};
}

constexpr int maxFrame = OpusCodec::rate * 120 / 1000;   // the longest Opus packet: 120 ms

} // namespace

OpusCodec::OpusCodec(const SdpFormat &format) : AudioCodec(format)
{
    int error = 0;
    encoder = opus_encoder_create(rate, 1, OPUS_APPLICATION_VOIP, &error);
    decoder = opus_decoder_create(rate, 1, &error);
    fec = fmtpValue(format.fmtp, QStringLiteral("useinbandfec")) == QLatin1String("1");
    if (encoder) {
        opus_encoder_ctl(encoder, OPUS_SET_BITRATE(24000));
        opus_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
        opus_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(5));
        // Redundancy is only coded when a loss rate is expected.
        opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(fec ? 1 : 0));
        opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(fec ? 10 : 0));
        bool ok = false;
        const int bitrate = fmtpValue(format.fmtp, QStringLiteral("maxaveragebitrate")).toInt(&ok);
        if (ok && bitrate >= 6000 && bitrate < 24000)
            opus_encoder_ctl(encoder, OPUS_SET_BITRATE(bitrate));
    }
}

OpusCodec::~OpusCodec()
{
    opus_encoder_destroy(encoder);
    opus_decoder_destroy(decoder);
}

SdpFormat OpusCodec::offer()
{
    SdpFormat f;
    f.payloadType = 111;
    f.encoding = QStringLiteral("opus");
    f.clockRate = 48000;
    f.channels = 2;
    f.fmtp = QStringLiteral("maxplaybackrate=16000; sprop-maxcapturerate=16000; useinbandfec=1");
    return f;
}

QByteArray OpusCodec::encode(const qint16 *pcm)
{
    if (!encoder)
        return {};
    unsigned char packet[1276];   // the largest Opus frame
    const int n = opus_encode(encoder, pcm, frameSamples(), packet, int(sizeof packet));
    return n > 0 ? QByteArray(reinterpret_cast<const char *>(packet), n) : QByteArray();
}

QVector<qint16> OpusCodec::decode(const QByteArray &payload)
{
    if (!decoder || payload.isEmpty())
        return {};
    QVector<qint16> out(maxFrame);
    const int n = opus_decode(decoder, reinterpret_cast<const unsigned char *>(payload.constData()), payload.size(),
                              out.data(), maxFrame, 0);
    out.resize(qMax(0, n));
    return out;
}

QVector<qint16> OpusCodec::conceal(const QByteArray &next)
{
    if (!decoder)
        return QVector<qint16>(frameSamples(), 0);
    QVector<qint16> out(frameSamples());
    int n = -1;
    // With the following packet at hand, its redundant copy of the lost frame;
    // Opus falls back to its own concealment when the packet carries none.
    if (!next.isEmpty())
        n = opus_decode(decoder, reinterpret_cast<const unsigned char *>(next.constData()), next.size(), out.data(),
                        frameSamples(), 1);
    if (n != frameSamples())
        n = opus_decode(decoder, nullptr, 0, out.data(), frameSamples(), 0);
    if (n != frameSamples())
        out.fill(0);
    return out;
}
