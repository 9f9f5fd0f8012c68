#include "sdpsession.h"

#include <QRandomGenerator>

#include <algorithm>
#include <limits>

namespace {

// The static audio payload types of RFC 3551 6 that a far end may offer
// without an a=rtpmap line.
SdpFormat staticFormat(int payloadType)
{
    SdpFormat f;
    f.payloadType = payloadType;
    switch (payloadType) {
    case 0: f.encoding = QStringLiteral("PCMU"); break;
    case 3: f.encoding = QStringLiteral("GSM"); break;
    case 4: f.encoding = QStringLiteral("G723"); break;
    case 8: f.encoding = QStringLiteral("PCMA"); break;
    case 9: f.encoding = QStringLiteral("G722"); break;
    case 18: f.encoding = QStringLiteral("G729"); break;
    default: break;
    }
    return f;
}

// A non-negative decimal number no larger than `max`, else -1.
qint64 number(const QStringRef &text, qint64 max)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n >= 0 && n <= max && !text.startsWith(QLatin1Char('+')) ? n : -1;
}

bool directionOf(const QString &name, SdpDirection &direction)
{
    for (SdpDirection d : {SdpDirection::SendRecv, SdpDirection::SendOnly, SdpDirection::RecvOnly, SdpDirection::Inactive}) {
        if (name == sdpDirectionName(d)) {
            direction = d;
            return true;
        }
    }
    return false;
}

QString mediaLine(const QString &media, int port, const QString &protocol, const QString &formats)
{
    return QStringLiteral("m=%1 %2 %3 %4\r\n").arg(media).arg(port).arg(protocol, formats);
}

} // namespace

QString sdpDirectionName(SdpDirection direction)
{
    switch (direction) {
    case SdpDirection::SendRecv: return QStringLiteral("sendrecv");
    case SdpDirection::SendOnly: return QStringLiteral("sendonly");
    case SdpDirection::RecvOnly: return QStringLiteral("recvonly");
    case SdpDirection::Inactive: return QStringLiteral("inactive");
    }
    return QString();
}

SdpOrigin SdpOrigin::newSession(const QString &address)
{
    SdpOrigin o;
    // Below 2^30: stacks that hold these numbers in 32 bits (signed, even)
    // still read them after years of version steps.
    o.sessionId = QRandomGenerator::global()->bounded(1u, 1u << 30);
    o.version = o.sessionId;
    o.address = address;
    return o;
}

SdpOrigin SdpOrigin::next() const
{
    SdpOrigin o = *this;
    ++o.version;
    return o;
}

QString SdpSession::toText() const
{
    const QString ip = QStringLiteral("IN IP4 ");
    // One arg() for several markers: a "%1" inside a far end's text is not a marker.
    QString text = QStringLiteral("v=0\r\no=%1 %2 %3 ")
                       .arg(origin.user, QString::number(origin.sessionId), QString::number(origin.version))
        + ip + origin.address + QStringLiteral("\r\ns=-\r\n");
    if (!connectionAddress.isEmpty())
        text += QStringLiteral("c=") + ip + connectionAddress + QStringLiteral("\r\n");
    text += QStringLiteral("t=0 0\r\n");
    // Refused streams keep their place around the audio one (RFC 3264 6).
    for (int i = 0; i < otherMedia.size() && i < audioIndex; ++i)
        text += QStringLiteral("m=") + otherMedia.at(i) + QStringLiteral("\r\n");
    if (hasAudio) {
        QStringList numbers;
        for (const SdpFormat &f : formats)
            numbers << QString::number(f.payloadType);
        text += mediaLine(QStringLiteral("audio"), mediaPort, mediaProtocol, numbers.join(QLatin1Char(' ')));
        if (!mediaConnectionAddress.isEmpty())
            text += QStringLiteral("c=") + ip + mediaConnectionAddress + QStringLiteral("\r\n");
        text += QStringLiteral("a=") + sdpDirectionName(direction) + QStringLiteral("\r\n");
        for (const SdpFormat &f : formats) {
            text += QStringLiteral("a=rtpmap:%1 %2/%3")
                        .arg(QString::number(f.payloadType), f.encoding, QString::number(f.clockRate));
            text += (f.channels > 1 ? QStringLiteral("/%1").arg(f.channels) : QString()) + QStringLiteral("\r\n");
            if (!f.fmtp.isEmpty())
                text += QStringLiteral("a=fmtp:%1 %2\r\n").arg(f.payloadType).arg(f.fmtp);
        }
        if (ptime > 0)
            text += QStringLiteral("a=ptime:%1\r\n").arg(ptime);
        for (const auto &a : m_attributes)
            text += QStringLiteral("a=") + a.first + (a.second.isEmpty() ? QString() : QLatin1Char(':') + a.second)
                + QStringLiteral("\r\n");
    }
    for (int i = qMax(0, audioIndex); i < otherMedia.size(); ++i)
        text += QStringLiteral("m=") + otherMedia.at(i) + QStringLiteral("\r\n");
    return text;
}

SdpSession SdpSession::fromText(const QString &text)
{
    SdpSession s;
    s.origin = SdpOrigin();
    enum { Session, Audio, OtherMedia } level = Session;
    SdpDirection sessionDirection = SdpDirection::SendRecv;
    bool mediaDirection = false;
    int lines = 0;
    const QStringRef body = text.leftRef(maxText);
    // Lines end in CR LF, or in a bare LF or CR from a careless writer.
    for (int start = 0, end = 0; start < body.size() && lines < maxLines; start = end + 1) {
        end = start;
        while (end < body.size() && body.at(end) != QLatin1Char('\r') && body.at(end) != QLatin1Char('\n'))
            ++end;
        const QStringRef line = body.mid(start, end - start);
        if (line.size() < 2 || line.at(1) != QLatin1Char('='))
            continue;
        ++lines;
        const QChar key = line.at(0);
        const QStringRef value = line.mid(2);
        const QVector<QStringRef> fields = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (key == QLatin1Char('m')) {
            if (fields.size() >= 3 && fields.at(0) == QLatin1String("audio") && !s.hasAudio) {
                level = Audio;
                s.hasAudio = true;
                s.audioIndex = s.otherMedia.size();
                s.mediaPort = int(qMax<qint64>(0, number(fields.at(1).split(QLatin1Char('/')).at(0), 65535)));
                s.mediaProtocol = fields.at(2).toString();
                for (int i = 3; i < fields.size() && s.formats.size() < maxFormats; ++i) {
                    const qint64 pt = number(fields.at(i), 127);
                    if (pt >= 0)
                        s.formats << staticFormat(int(pt));
                }
            } else {
                level = OtherMedia;
                if (s.otherMedia.size() < maxFormats && fields.size() >= 4) {
                    // Refused as it came: port 0, its protocol and one of its
                    // formats (RFC 3264 6), each cut to a sane length.
                    s.otherMedia << QStringList{fields.at(0).left(32).toString(), QStringLiteral("0"),
                                                fields.at(2).left(32).toString(), fields.at(3).left(32).toString()}
                                        .join(QLatin1Char(' '));
                }
            }
        } else if (level == OtherMedia) {
            continue;
        } else if (key == QLatin1Char('o') && level == Session && fields.size() >= 6) {
            s.origin.user = fields.at(0).toString();
            s.origin.sessionId = quint64(qMax<qint64>(0, number(fields.at(1), std::numeric_limits<qint64>::max())));
            s.origin.version = quint64(qMax<qint64>(0, number(fields.at(2), std::numeric_limits<qint64>::max())));
            s.origin.address = fields.at(5).toString();
        } else if (key == QLatin1Char('c') && fields.size() >= 3 && fields.at(0) == QLatin1String("IN")) {
            // "IN IP4 224.2.1.1/127": the TTL is not part of the address
            const QString address = fields.at(2).split(QLatin1Char('/')).at(0).toString();
            (level == Session ? s.connectionAddress : s.mediaConnectionAddress) = address;
        } else if (key == QLatin1Char('a')) {
            const int colon = value.indexOf(QLatin1Char(':'));
            const QString name = (colon < 0 ? value : value.left(colon)).toString();
            const QStringRef rest = colon < 0 ? QStringRef() : value.mid(colon + 1);
            SdpDirection d;
            if (directionOf(name, d)) {
                if (level == Session)
                    sessionDirection = d;
                else
                    s.direction = d, mediaDirection = true;
            } else if (level == Audio && (name == QLatin1String("rtpmap") || name == QLatin1String("fmtp"))) {
                // "rtpmap:8 PCMA/8000", "rtpmap:111 opus/48000/2", "fmtp:101 0-15"
                const int space = rest.indexOf(QLatin1Char(' '));
                const qint64 pt = number(space < 0 ? rest : rest.left(space), 127);
                auto it = std::find_if(s.formats.begin(), s.formats.end(), [pt](const SdpFormat &f) { return f.payloadType == pt; });
                if (pt < 0 || space < 0 || it == s.formats.end())
                    continue;
                const QStringRef param = rest.mid(space + 1).trimmed();
                if (name == QLatin1String("fmtp")) {
                    it->fmtp = param.toString();
                    continue;
                }
                const QVector<QStringRef> parts = param.split(QLatin1Char('/'));
                const qint64 clock = number(parts.value(1), 1000000);
                const qint64 channels = parts.size() > 2 ? number(parts.at(2), 255) : 1;
                if (parts.at(0).isEmpty() || clock <= 0 || channels <= 0)
                    continue;
                it->encoding = parts.at(0).toString();
                it->clockRate = int(clock);
                it->channels = int(channels);
            } else if (level == Audio && name == QLatin1String("ptime")) {
                s.ptime = int(qMax<qint64>(0, number(rest, 1000)));
            } else if (!name.isEmpty() && s.m_attributes.size() < maxLines) {
                s.m_attributes.append({name, rest.toString()});
            }
        }
    }
    if (!mediaDirection)
        s.direction = sessionDirection;
    return s;
}

QStringList SdpSession::attributes(const QString &name) const
{
    QStringList values;
    for (const auto &a : m_attributes)
        if (a.first == name)
            values << a.second;
    return values;
}

void SdpSession::addAttribute(const QString &name, const QString &value)
{
    m_attributes.append({name, value});
}

void SdpSession::removeAttributes(const QString &name)
{
    m_attributes.erase(std::remove_if(m_attributes.begin(), m_attributes.end(),
                                      [&name](const QPair<QString, QString> &a) { return a.first == name; }),
                       m_attributes.end());
}

bool SdpSession::wantsToReceive() const
{
    return hasAudio && mediaPort > 0 && !address().isEmpty() && !nullAddress()
        && (direction == SdpDirection::SendRecv || direction == SdpDirection::RecvOnly);
}

bool SdpSession::wantsToSend() const
{
    return hasAudio && mediaPort > 0 && (direction == SdpDirection::SendRecv || direction == SdpDirection::SendOnly);
}

const SdpFormat *SdpSession::format(const QString &encoding, int clockRate) const
{
    for (const SdpFormat &f : formats)
        if (f.encoding.compare(encoding, Qt::CaseInsensitive) == 0 && (clockRate == 0 || f.clockRate == clockRate))
            return &f;
    return nullptr;
}

const SdpFormat *SdpSession::formatOf(int payloadType) const
{
    for (const SdpFormat &f : formats)
        if (f.payloadType == payloadType)
            return &f;
    return nullptr;
}

SdpFormat SdpSession::telephoneEvent(int payloadType, int clockRate)
{
    SdpFormat f;
    f.payloadType = payloadType;
    f.encoding = QStringLiteral("telephone-event");
    f.clockRate = clockRate;
    f.fmtp = QStringLiteral("0-15");
    return f;
}

SdpSession SdpSession::offer(const SdpOrigin &origin, int port, const SdpFormats &codecs, const QString &address,
                             const SdpFormat &inUse)
{
    SdpSession s;
    s.origin = origin;
    s.connectionAddress = address.isEmpty() ? origin.address : address;
    s.hasAudio = true;
    s.mediaPort = port;
    s.formats = codecs;
    putFirst(s.formats, inUse);
    s.formats << telephoneEvent();
    s.ptime = 20;
    return s;
}

void SdpSession::putFirst(SdpFormats &formats, const SdpFormat &inUse)
{
    if (inUse.encoding.isEmpty())
        return;
    const auto kept = std::find_if(formats.begin(), formats.end(), [&inUse](const SdpFormat &f) { return f.sameCodec(inUse); });
    if (kept != formats.end())
        std::rotate(formats.begin(), kept, kept + 1);
}

SdpDirection SdpSession::answerDirection(const SdpSession &offer)
{
    // c=0.0.0.0 forbids sending to the offerer, nothing more (RFC 3264 8.4):
    // a far end holding that old way may still play music on hold to us, so
    // we stay ready to receive (recvonly), or inactive if it sends nothing.
    const bool weMaySend = offer.wantsToReceive();
    const bool weReceive = offer.wantsToSend();
    if (weMaySend && weReceive)
        return SdpDirection::SendRecv;
    if (weMaySend)
        return SdpDirection::SendOnly;
    return weReceive ? SdpDirection::RecvOnly : SdpDirection::Inactive;
}

SdpSession SdpSession::answer(const SdpSession &offer, const SdpFormats &enabled, const SdpFormat &inUse)
{
    SdpSession a;
    a.hasAudio = offer.hasAudio;
    a.mediaProtocol = offer.mediaProtocol;
    a.otherMedia = offer.otherMedia;
    a.audioIndex = offer.audioIndex;
    a.direction = answerDirection(offer);
    // The offer's order: unless there is a reason, the answerer keeps the
    // offerer's preference (RFC 3264 6.1), as most phones do.
    for (const SdpFormat &f : offer.formats) {
        const bool wanted = std::any_of(enabled.cbegin(), enabled.cend(), [&f](const SdpFormat &e) { return e.sameCodec(f); });
        if (wanted && f.encoding.compare(QLatin1String("telephone-event"), Qt::CaseInsensitive) != 0)
            a.formats << f;
    }
    putFirst(a.formats, inUse);
    // Events run on the voice's clock (RFC 4733 2.1).
    if (!a.formats.isEmpty()) {
        if (const SdpFormat *event = offer.format(QStringLiteral("telephone-event"), a.formats.first().clockRate))
            a.formats << telephoneEvent(event->payloadType, event->clockRate);
    }
    return a;
}
