// The settings and history database: a first start builds four tables and one
// default row that loads column by column, a later start leaves the file alone,
// any text (quotes included) round-trips, and recent numbers are de-duplicated.
#include "mainwindow.h"
#include "privatedatadir.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {

// Reads the phone's file through a connection of our own.
class Peek
{
public:
    explicit Peek(const QString &file)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
        db.setDatabaseName(file);
        db.open();
    }
    ~Peek() { QSqlDatabase::removeDatabase("peek"); }
    QVariantList column(const QString &sql)
    {
        QVariantList out;
        QSqlQuery q(QSqlDatabase::database("peek"));
        if (q.exec(sql))
            while (q.next())
                out << q.value(0);
        return out;
    }
    bool exec(const QString &sql) { return QSqlQuery(QSqlDatabase::database("peek")).exec(sql); }
};

QByteArray digest(const QString &file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

bool isPrivate(const QString &file)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return QFile::exists(file) && !(QFile::permissions(file) & others);
}

} // namespace

class TstDatabase : public QObject
{
    Q_OBJECT

private slots:
    void firstStartBuildsSchemaAndDefaults();
    void laterStartLeavesFileAlone();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void recentNumbers();
};

void TstDatabase::firstStartBuildsSchemaAndDefaults()
{
    PrivateDataDir dir;
    {
        MainWindow w;
        // The stored row differs from the constructor's defaults in these
        // columns, so loading proves each lands in its own member.
        w.getSettingsDB_();
        QCOMPARE(w.keepAlive, 15);
        QCOMPARE(w.transport, QString("UDP"));
        QCOMPARE(w.encryptMedia, QString("Отключено"));
        QVERIFY(w.codecPCMA && w.codecPCMU && w.useLog);
        QCOMPARE(w.sipServerPort, QString("5060"));
        QCOMPARE(w.registrTimeout, 3600);
        QCOMPARE(w.mediaPort, 60000);
        QVERIFY(w.STUN.startsWith("udp://") && w.STUN.endsWith(":3478"));
    }
    QVERIFY(isPrivate(dir.databaseFile()));
    QVERIFY(isPrivate(dir.logFile()));

    Peek peek(dir.databaseFile());
    QCOMPARE(peek.column("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name"),
             QVariantList({"history", "historybox", "number", "settings"}));
    QCOMPARE(peek.column("SELECT id FROM settings"), QVariantList({1}));
    QCOMPARE(peek.column("SELECT typeof(registrTimeout) || typeof(keepAlive) || typeof(mediaPort) FROM settings"),
             QVariantList({"integerintegerinteger"}));
    QCOMPARE(peek.column("SELECT hideCallerId || useSTUN || useLog FROM settings"), QVariantList({"falsefalsetrue"}));
}

void TstDatabase::laterStartLeavesFileAlone()
{
    PrivateDataDir dir;
    { MainWindow w; }
    {
        Peek peek(dir.databaseFile());
        // A stored STUN decision is never loaded: the network check makes it afresh.
        QVERIFY(peek.exec("UPDATE settings SET useSTUN='true', user='201' WHERE id=1"));
    }
    const QByteArray before = digest(dir.databaseFile());
    MainWindow w;
    QCOMPARE(digest(dir.databaseFile()), before);
    w.getSettingsDB_();
    QCOMPARE(w.user, QString("201"));
    QVERIFY(!w.useSTUN);
}

void TstDatabase::settingsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "sip.example.test";
    QTest::newRow("single quote") << "O'Brien";
    QTest::newRow("statement break") << "x'); DROP TABLE settings; --";
    QTest::newRow("cyrillic and blanks") << "  Иван Петров  ";
}

void TstDatabase::settingsRoundTrip()
{
    QFETCH(QString, text);
    PrivateDataDir dir;
    {
        MainWindow w;
        w.account = w.user = w.name = w.prefix = w.STUN = text;
        w.password = "pw-" + text;
        w.hideCallerId = true;
        w.useLog = true;
        w.codecPCMU = false;
        w.registrTimeout = 120;
        w.mediaPort = 40000;
        w.updateSettingsDB();
    }
    MainWindow w;
    w.getSettingsDB_();
    QCOMPARE(w.account, text);
    QCOMPARE(w.user, text);
    QCOMPARE(w.name, text);
    QCOMPARE(w.prefix, text);
    QCOMPARE(w.STUN, text);
    QCOMPARE(w.password, "pw-" + text);
    QVERIFY(w.hideCallerId);
    QVERIFY(!w.codecPCMU);
    QCOMPARE(w.registrTimeout, 120);
    QCOMPARE(w.mediaPort, 40000);

    Peek peek(dir.databaseFile());
    QCOMPARE(peek.column("SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'"),
             QVariantList({4}));
    QCOMPARE(peek.column("SELECT hideCallerId || codecPCMU FROM settings"), QVariantList({"truefalse"}));

    QFile log(dir.logFile());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    QVERIFY(logged.contains("password ***"));
    QVERIFY(!logged.contains("pw-"));
}

void TstDatabase::recentNumbers()
{
    PrivateDataDir dir;
    MainWindow w;
    struct Call { const char *number, *start, *kind; };
    const Call calls[] = {
        {"100", "05.01.2025 10:00:00", "Out"},
        {"200", "31.12.2024 10:00:00", "Out"},
        {"100", "06.01.2025 11:00:00", "Out"}, // a repeat does not move the number
        {"300", "07.01.2025 10:00:00", "In"},  // incoming calls never feed the box
        {"400", "08.01.2025 10:00:00", "Break"},
        {"5'00", "01.01.2025 09:00:00", "Out"},
    };
    for (const Call &c : calls) {
        w.called = c.number;
        w.currtime = c.start;
        w.time = "00:00:00";
        w.info = c.kind;
        w.setHistoryDB();
    }

    Peek peek(dir.databaseFile());
    QCOMPARE(peek.column("SELECT COUNT(*) FROM history"), QVariantList({6}));
    // Ordered by the stored text, day first: the December row leads.
    QCOMPARE(peek.column("SELECT called FROM historybox ORDER BY ctime DESC"), QVariantList({"200", "100", "5'00"}));
    QCOMPARE(peek.column("SELECT ctime FROM historybox WHERE called='100'"), QVariantList({"05.01.2025 10:00:00"}));

    QComboBox *box = w.findChild<QComboBox *>("comboBox");
    QVERIFY2(box, "the main window has no recent-numbers box");
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    QCOMPARE(items, QStringList({"Недавние", "200  ", "100  ", "5'00  "}));
    QCOMPARE(box->itemData(0, Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft));
    QCOMPARE(box->itemData(3, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight));
}

QTEST_MAIN(TstDatabase)
#include "tst_database.moc"
