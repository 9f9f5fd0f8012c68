// The compiled-in key sounds: PCM WAV, mono, 8000 Hz, 8-bit unsigned, 1600
// samples, each holding its key's Q.23 pair and no other key's tones; the
// call-progress tones are present.
#include <QFile>
#include <QtEndian>
#include <QtMath>
#include <QtTest>

class TstSounds : public QObject
{
    Q_OBJECT

    // Relative power of one frequency over the whole sample block.
    static double goertzel(const QByteArray &pcm, double freq)
    {
        const double k = 2.0 * qCos(2.0 * M_PI * freq / 8000.0);
        double s1 = 0, s2 = 0;
        for (char c : pcm) {
            const double s0 = (quint8(c) - 128) + k * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return s1 * s1 + s2 * s2 - k * s1 * s2;
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(tray); }

    void keySound_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        const int rows[] = {697, 770, 852, 941}, cols[] = {1209, 1336, 1477};
        const char *names[4][3] = {{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}, {"zv", "0", "rh"}};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c)
                QTest::newRow(names[r][c]) << QString(":/sounds/dtmf_%1.wav").arg(names[r][c]) << rows[r] << cols[c];
    }
    void keySound()
    {
        QFETCH(QString, file);
        QFETCH(int, row);
        QFETCH(int, col);
        QFile f(file);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
        const QByteArray wav = f.readAll();
        QCOMPARE(wav.size(), 44 + 1600);
        // RIFF WAVE, PCM, mono, 8000 Hz, 8 bits, a data chunk of 1600 bytes
        QCOMPARE(wav.left(4) + wav.mid(8, 8) + wav.mid(36, 4), QByteArray("RIFFWAVEfmt data"));
        QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 20), quint32(0x00010001));
        QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 24), quint32(8000));
        QCOMPARE(qFromLittleEndian<quint16>(wav.constData() + 34), quint16(8));
        QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 40), quint32(1600));
        const QByteArray pcm = wav.mid(44);

        const double want = qMin(goertzel(pcm, row), goertzel(pcm, col));
        for (int other : {697, 770, 852, 941, 1209, 1336, 1477})
            if (other != row && other != col)
                QVERIFY2(goertzel(pcm, other) * 100 < want, qPrintable(QString::number(other)));
    }

    void toneFiles()
    {
        for (const char *name : {":/sounds/zvonok.mp3", ":/sounds/csc.mp3", ":/sounds/busy.mp3"}) {
            QFile f(QString::fromLatin1(name));
            QVERIFY2(f.open(QIODevice::ReadOnly), name);
            const QByteArray head = f.read(3);
            // An ID3 tag or an MPEG frame sync.
            QVERIFY2(head == "ID3" || (quint8(head[0]) == 0xFF && (quint8(head[1]) & 0xE0) == 0xE0), name);
        }
    }
};

QTEST_MAIN(TstSounds)
#include "tst_sounds.moc"
