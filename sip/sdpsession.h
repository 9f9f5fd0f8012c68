#ifndef SDPSESSION_H
#define SDPSESSION_H

// The session description of one offer or answer (RFC 4566) with its single
// audio stream, as a value: written in the order v o s c t m, read leniently
// from whatever a far end sends, and answered by the rules of RFC 3264.

#include "sdpformat.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

enum class SdpDirection { SendRecv, SendOnly, RecvOnly, Inactive };

// "sendrecv", "sendonly", "recvonly", "inactive": the attribute names.
QString sdpDirectionName(SdpDirection direction);

// The o= line's numbers of one call: a random session id when the call
// starts, and a version that grows by one with each description sent in it
// (RFC 4566 5.2, RFC 3264 8).
struct SdpOrigin
{
    QString user = QStringLiteral("-");
    quint64 sessionId = 0;
    quint64 version = 0;
    QString address;

    static SdpOrigin newSession(const QString &address);
    // The origin of the dialog's next offer or answer.
    SdpOrigin next() const;
};

class SdpSession
{
public:
    // Inputs longer than this, and lines or formats beyond these counts, are
    // not read: a description is a few hundred bytes.
    static constexpr int maxText = 32768;
    static constexpr int maxLines = 256;
    static constexpr int maxFormats = 32;
    static constexpr int defaultEventPayload = 101;

    SdpOrigin origin;
    QString connectionAddress;       // session-level c=
    QString mediaConnectionAddress;  // c= of the audio stream, when it has its own
    int mediaPort = 0;
    QString mediaProtocol = QStringLiteral("RTP/AVP");
    SdpFormats formats;              // in m= line order
    SdpDirection direction = SdpDirection::SendRecv;
    int ptime = 0;                   // 0: no a=ptime line
    // Streams other than the audio one, as "video 0 RTP/AVP 31", and where
    // the audio stream stands among them; an answer keeps them, refused.
    QStringList otherMedia;
    int audioIndex = 0;
    bool hasAudio = false;           // an audio m= line was read (or one is written)

    QString toText() const;
    static SdpSession fromText(const QString &text);

    // a= lines other than rtpmap, fmtp, ptime and direction, in order.
    QStringList attributes(const QString &name) const;
    void addAttribute(const QString &name, const QString &value = QString());
    void removeAttributes(const QString &name);

    // Where the author of this description receives its audio.
    QString address() const { return mediaConnectionAddress.isEmpty() ? connectionAddress : mediaConnectionAddress; }
    // c=0.0.0.0: the old way of holding (RFC 2543); nothing may be sent there.
    bool nullAddress() const { return address() == QLatin1String("0.0.0.0"); }
    // Whether its author wants audio sent to it, and sends some itself.
    bool wantsToReceive() const;
    bool wantsToSend() const;

    const SdpFormat *format(const QString &encoding, int clockRate = 0) const;
    const SdpFormat *formatOf(int payloadType) const;
    // telephone-event/8000 with events 0-15 (RFC 4733 3).
    static SdpFormat telephoneEvent(int payloadType = defaultEventPayload, int clockRate = 8000);

    // Our offer: `codecs` in our order, then telephone-event at 101, sendrecv,
    // 20 ms packets, from and to `address` (the origin's, when empty). In a
    // call that has a codec (`inUse`), a re-offer names it first, so that an
    // answerer keeping the offer's order keeps the call's codec.
    static SdpSession offer(const SdpOrigin &origin, int port, const SdpFormats &codecs, const QString &address = QString(),
                            const SdpFormat &inUse = SdpFormat());

    // The answer to `offer` (RFC 3264 6.1): the offered formats that match
    // one of `enabled`, in the offer's order and with its payload numbers,
    // then telephone-event if offered at the voice's clock; the direction
    // that mirrors the offer's; the other streams refused. No format in
    // common leaves the formats empty: the caller refuses with 488.
    // Origin, addresses, port and ptime are the caller's to fill in. In a call
    // that already has a codec (`inUse`), a re-offer that still holds it is
    // answered with it first: the call keeps its codec rather than move to
    // another for a hold or a refresh.
    static SdpSession answer(const SdpSession &offer, const SdpFormats &enabled, const SdpFormat &inUse = SdpFormat());
    static SdpDirection answerDirection(const SdpSession &offer);
    // `formats` with the first one that is `inUse`'s codec moved to the front (none: as they are).
    static void putFirst(SdpFormats &formats, const SdpFormat &inUse);

private:
    QVector<QPair<QString, QString>> m_attributes;
};

#endif // SDPSESSION_H
