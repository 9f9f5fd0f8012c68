// Keys as RTP events (RFC 4733): the receiver's one report per event, and keys read from INFO bodies. The packets
// sent for a key, in the voice's numbering and clock: tst_rtp.

#include "dtmfinfo.h"
#include "fixturetable.h"
#include "telephoneevent.h"

#include <QtTest>

class TstTelephoneEvent : public QObject
{
    Q_OBJECT

private slots:
    void received_data() { fixtureRows("media/events-received.txt"); }
    void received()
    {
        QFETCH(QString, packets);
        TelephoneEventReceiver receiver;
        QString keys;
        for (const QString &packet : packets.split(' ')) {
            const QByteArray payload = QByteArray::fromHex(packet.section(':', 1).toLatin1());
            const QChar key = receiver.take(packet.section(':', 0, 0).toUInt(), reinterpret_cast<const uchar *>(payload.constData()), payload.size());
            keys += key.isNull() ? QString() : QString(key);
        }
        QTEST(keys, "keys");
    }

    void info_data() { fixtureRows("sip/info-keys.txt"); }
    void info()
    {
        QFETCH(QString, type);
        QFETCH(QString, body);
        const QChar key = dtmfInfoDigit(type, body);
        QTEST(key.isNull() ? QString() : QString(key), "key");
    }
};

QTEST_GUILESS_MAIN(TstTelephoneEvent)
#include "tst_telephoneevent.moc"
