// Keys as RTP events (RFC 4733): the packets each 20 ms tick carries for a key (marker on the first, one timestamp,
// growing duration, three end packets), the receiver's one report per event, and keys read from INFO bodies.

#include "dtmfinfo.h"
#include "fixturetable.h"
#include "telephoneevent.h"

#include <QtTest>

class TstTelephoneEvent : public QObject
{
    Q_OBJECT

private slots:
    void sent_data() { fixtureRows("media/events-sent.txt"); }
    void sent()
    {
        QFETCH(QString, clockRate);
        QFETCH(QString, keys);
        QFETCH(QString, releaseTick);
        const int rate = clockRate.toInt(), release = releaseTick.toInt();
        TelephoneEventSender sender(rate);
        for (int i = 0; i < keys.size(); ++i)
            sender.press(keys.at(i), i == 0 && release >= 0);
        QStringList ticks;
        const int step = rate / 50;
        for (int tick = 0; tick < 40 && (ticks.isEmpty() || ticks.last() != "."); ++tick) {
            if (tick == release)
                sender.release();
            TelephoneEventPacket packet;
            ticks << (sender.tick(quint32(1000 + tick * step), packet)
                          ? (packet.marker ? "M" : "") + packet.payload.toHex() + "@" + QString::number(packet.timestamp)
                          : QStringLiteral("."));
        }
        QTEST(ticks.join(' '), "ticks");
        QVERIFY(sender.idle());
    }

    void received_data() { fixtureRows("media/events-received.txt"); }
    void received()
    {
        QFETCH(QString, packets);
        TelephoneEventReceiver receiver;
        QString keys;
        for (const QString &packet : packets.split(' ')) {
            const QByteArray payload = QByteArray::fromHex(packet.section(':', 1).toLatin1());
            const QChar key = receiver.take(packet.section(':', 0, 0).toUInt(), reinterpret_cast<const uchar *>(payload.constData()),
                                            payload.size());
            if (!key.isNull())
                keys += key;
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
