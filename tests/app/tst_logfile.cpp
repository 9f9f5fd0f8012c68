// The log file: one line per message with time stamp, level tag and category;
// a log above 10 MiB is emptied at start-up while one of exactly 10 MiB is
// appended to; with the log switched off in the settings nothing follows the load.
#include "mainwindow.h"
#include "privatedatadir.h"
#include "sqlpeek.h"
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

QByteArray readAll(const QString &file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

class TstLogFile : public QObject
{
    Q_OBJECT

private slots:
    void truncation_data();
    void truncation();
    void lineFormat_data();
    void lineFormat();
    void switchedOffAfterLoad();
};

void TstLogFile::truncation_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("one byte above 10 MiB") << qint64(10485761) << true;
    QTest::newRow("exactly 10 MiB") << qint64(10485760) << false;
}

void TstLogFile::truncation()
{
    QFETCH(qint64, size);
    QFETCH(bool, emptied);
    PrivateDataDir dir;
    QVERIFY(QDir().mkpath(dir.dataPath()));
    {
        QFile old(dir.logFile());
        QVERIFY(old.open(QIODevice::WriteOnly));
        QVERIFY(old.write(QByteArray(size, 'x')) == size);
    }

    { MainWindow w; }

    const QByteArray log = readAll(dir.logFile());
    if (emptied) {
        QVERIFY(!log.isEmpty());
        QVERIFY(!log.contains('x' + QByteArray(100, 'x')));
        QVERIFY(log.startsWith(QDate::currentDate().toString("yyyy-").toLatin1()));
    } else {
        QVERIFY(log.size() > size);
        QCOMPARE(log.left(size), QByteArray(size, 'x'));
    }
}

void TstLogFile::lineFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<QString>("tag");
    QTest::newRow("debug") << int(QtDebugMsg) << QByteArray("default") << "DBG";
    QTest::newRow("info") << int(QtInfoMsg) << QByteArray("default") << "INF";
    QTest::newRow("warning, own category") << int(QtWarningMsg) << QByteArray("sorvanto.sip") << "WRN";
    QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray("default") << "CRT";
}

void TstLogFile::lineFormat()
{
    QFETCH(int, type);
    QFETCH(QByteArray, category);
    QFETCH(QString, tag);
    PrivateDataDir dir;
    MainWindow w;

    const char *text = "!!! marker Привет";
    qt_message_output(QtMsgType(type), QMessageLogContext(nullptr, 0, nullptr, category.constData()), text);

    const QStringList lines = QString::fromUtf8(readAll(dir.logFile())).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    const QRegularExpression shape(QString("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} %1 %2: %3$")
                                       .arg(tag, QRegularExpression::escape(QString::fromLatin1(category)),
                                            QRegularExpression::escape(QString::fromUtf8(text))));
    QVERIFY2(shape.match(lines.last()).hasMatch(), qPrintable(lines.last()));
    // The separator of a new session: 53 hyphens, then CR LF.
    QVERIFY(lines.filter(QString(53, '-') + "\r").size() == 3);
}

void TstLogFile::switchedOffAfterLoad()
{
    PrivateDataDir dir;
    { MainWindow w; }
    QVERIFY(SqlPeek(dir.databaseFile()).exec("UPDATE settings SET useLog='false' WHERE id=1"));

    MainWindow w;
    const QByteArray constructed = readAll(dir.logFile());
    QVERIFY(constructed.contains(QString(53, '-').toLatin1()));

    w.show();
    qDebug() << "!!! after the first show";
    w.writeLogFile("direct line");

    const QByteArray log = readAll(dir.logFile());
    QVERIFY(log.startsWith(constructed));
    // The load announces itself while the log is still on; after it, silence.
    QVERIFY2(log.trimmed().endsWith("!!!!! getSettingsDB"), log.right(300).constData());
}

SORVANTO_TEST_MAIN(TstLogFile)
#include "tst_logfile.moc"
