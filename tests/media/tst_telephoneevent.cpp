// Keys as RTP events (RFC 4733): the packets each 20 ms tick carries for a key (marker on the first, one timestamp,
// growing duration, three end packets), the receiver's one report per event, and keys read from INFO bodies.

#include "dtmfinfo.h"
#include "telephoneevent.h"

#include <QtTest>

class TstTelephoneEvent : public QObject
{
    Q_OBJECT

private slots:
    // Each tick: "M" for the marker, key, duration, "E" for an end packet, "@timestamp"; "." sends voice.
    void sent_data()
    {
        QTest::addColumn<int>("clockRate");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("releaseTick"); // the first key is held until this tick; -1: pressed
        QTest::addColumn<QString>("ticks");
        QTest::newRow("one key") << 8000 << "5" << -1
            << "M5:160@1000 5:320@1000 5:480@1000 5:640@1000 5:800E@1000 5:800E@1000 5:800E@1000 .";
        QTest::newRow("two keys, one after the other") << 8000 << "#a" << -1
            << "M#:160@1000 #:320@1000 #:480@1000 #:640@1000 #:800E@1000 #:800E@1000 #:800E@1000 "
               "MA:160@2120 A:320@2120 A:480@2120 A:640@2120 A:800E@2120 A:800E@2120 A:800E@2120 .";
        QTest::newRow("held past the minimum") << 8000 << "0" << 6
            << "M0:160@1000 0:320@1000 0:480@1000 0:640@1000 0:800@1000 0:960@1000 0:1120E@1000 0:1120E@1000 "
               "0:1120E@1000 .";
        QTest::newRow("released early lasts the minimum") << 8000 << "9" << 1
            << "M9:160@1000 9:320@1000 9:480@1000 9:640@1000 9:800E@1000 9:800E@1000 9:800E@1000 .";
        QTest::newRow("48 kHz clock") << 48000 << "1" << -1
            << "M1:960@1000 1:1920@1000 1:2880@1000 1:3840@1000 1:4800E@1000 1:4800E@1000 1:4800E@1000 .";
        QTest::newRow("no event for other keys") << 8000 << "xE+" << -1 << ".";
    }
    void sent()
    {
        QFETCH(int, clockRate);
        QFETCH(QString, keys);
        QFETCH(int, releaseTick);
        TelephoneEventSender sender(clockRate);
        for (int i = 0; i < keys.size(); ++i)
            sender.press(keys.at(i), i == 0 && releaseTick >= 0);
        QStringList ticks;
        const int step = clockRate / 50;
        for (int tick = 0; tick < 40 && (ticks.isEmpty() || ticks.last() != "."); ++tick) {
            if (tick == releaseTick)
                sender.release();
            TelephoneEventPacket packet;
            TelephoneEventPayload p;
            if (!sender.tick(quint32(1000 + tick * step), packet)) {
                ticks << ".";
                continue;
            }
            QVERIFY(p.decode(reinterpret_cast<const uchar *>(packet.payload.constData()), packet.payload.size()));
            QCOMPARE(p.volume, 10);
            ticks << QStringLiteral("%1%2:%3%4@%5").arg(packet.marker ? "M" : "").arg(telephoneEventDigit(p.event))
                         .arg(p.duration).arg(p.end ? "E" : "").arg(packet.timestamp);
        }
        QTEST(ticks.join(' '), "ticks");
        QVERIFY(sender.idle());
    }

    void payloadBytes()
    {
        TelephoneEventPayload p;
        p.event = 11;
        p.end = true;
        p.volume = 10;
        p.duration = 800;
        QCOMPARE(p.encode().toHex(), QByteArray("0b8a0320"));
        const uchar wire[] = {0x0f, 0x3f, 0xff, 0xfe};
        QVERIFY(!p.decode(wire, 3));
        QVERIFY(p.decode(wire, 4));
        QCOMPARE(QString("%1 %2 %3 %4").arg(p.event).arg(p.end).arg(p.volume).arg(p.duration), QString("15 0 63 65534"));
    }

    // Packets as "timestamp:payload hex"; the keys reported.
    void received_data()
    {
        QTest::addColumn<QString>("packets");
        QTest::addColumn<QString>("keys");
        QTest::newRow("one event, updates and three ends") << "8:050a00a0 8:050a0140 8:058a0320 8:058a0320 8:058a0320" << "5";
        QTest::newRow("two events") << "8:0b0a00a0 8:0b8a0320 8:0b8a0320 168:0c0a00a0 168:0c8a0320" << "#A";
        QTest::newRow("same key again") << "8:010a00a0 8:018a0320 300:010a00a0 300:018a0320" << "11";
        QTest::newRow("across the timestamp wrap") << "4294967200:030a00a0 4294967200:038a0320 64:020a00a0" << "32";
        QTest::newRow("start lost, ends arrive") << "8:098a0320 8:098a0320" << "9";
        QTest::newRow("end retransmitted late") << "8:078a0320 300:040a00a0 8:078a0320" << "74";
        QTest::newRow("short payload, no key") << "8:050a00 16:" << "";
        QTest::newRow("events beyond the keys") << "8:100a00a0 16:ff8a0320" << "";
    }
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

    void info_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("key");
        QTest::newRow("dtmf-relay") << "application/dtmf-relay" << "Signal=5\r\nDuration=160\r\n" << "5";
        QTest::newRow("dtmf-relay, spaces, star") << "Application/DTMF-Relay; charset=x" << "Signal= *\r\nDuration= 250" << "*";
        QTest::newRow("dtmf-relay, Duration first, lower a") << "application/dtmf-relay" << "Duration=100\nsignal=a" << "A";
        QTest::newRow("dtmf-relay, event number for #") << "application/dtmf-relay" << "Signal=11\r\n" << "#";
        QTest::newRow("dtmf") << "application/dtmf" << "9" << "9";
        QTest::newRow("dtmf, event number") << "application/dtmf" << "10\r\n" << "*";
        QTest::newRow("no Signal line") << "application/dtmf-relay" << "Duration=160" << "";
        QTest::newRow("event number for A") << "application/dtmf-relay" << "Signal=12" << "A";
        QTest::newRow("not a key") << "application/dtmf-relay" << "Signal=E" << "";
        QTest::newRow("number beyond the keys") << "application/dtmf" << "16" << "";
        QTest::newRow("other type") << "text/plain" << "5" << "";
        QTest::newRow("empty") << "application/dtmf" << "" << "";
        QTest::newRow("garbage") << "application/dtmf-relay" << "Signal\r\n=\r\nSignal=\u00ff\u0000" << "";
        QTest::newRow("huge") << "application/dtmf" << QString(5000, '5') << "";
    }
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
