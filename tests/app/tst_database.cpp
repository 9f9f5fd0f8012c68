// The settings and history database: a first start builds four tables and one
// default row that loads column by column, a later start leaves the file alone,
// any text (quotes included) round-trips, and recent numbers are de-duplicated.
#include "mainwindow.h"
#include "privatedatadir.h"
#include "sqlpeek.h"
#include "testmain.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QtTest>

namespace {

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
    void settingsRoundTrip();
    void recentNumbers();
};

void TstDatabase::firstStartBuildsSchemaAndDefaults()
{
    PrivateDataDir dir;
    {
        MainWindow w;
        // These stored defaults differ from the constructor's, so loading
        // proves each column lands in its own member.
        w.getSettingsDB_();
        QCOMPARE(w.keepAlive, 15);
        QCOMPARE(w.transport, QString("UDP"));
        QCOMPARE(w.encryptMedia, QString("Отключено"));
        QVERIFY(w.codecPCMA && w.codecPCMU && w.useLog);
        QVERIFY(w.STUN.startsWith("udp://") && w.STUN.endsWith(":3478"));
    }
    // Both files hold the account's secrets.
    QVERIFY(isPrivate(dir.databaseFile()) && isPrivate(dir.logFile()));

    SqlPeek peek(dir.databaseFile());
    QCOMPARE(peek.column("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name"),
             QVariantList({"history", "historybox", "number", "settings"}));
    QCOMPARE(peek.column("SELECT id || sipServerPort || registrTimeout || mediaPort || hideCallerId || useSTUN "
                         "|| typeof(registrTimeout) FROM settings"),
             QVariantList({"15060360060000falsefalseinteger"}));
}

void TstDatabase::laterStartLeavesFileAlone()
{
    PrivateDataDir dir;
    { MainWindow w; }
    {
        SqlPeek peek(dir.databaseFile());
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

void TstDatabase::settingsRoundTrip()
{
    // a quote, Cyrillic letters and outer blanks are stored exactly
    const QString text = "  O'Brien Иван'); --  ";
    PrivateDataDir dir;
    {
        MainWindow w; // nothing loaded yet: unset texts must still satisfy NOT NULL
        w.account = w.STUN = text;
        w.password = "pw-" + text;
        w.updateSettingsDB();
    }
    MainWindow w;
    w.getSettingsDB_();
    QCOMPARE(w.account, text);
    QCOMPARE(w.STUN, text);
    QCOMPARE(w.password, "pw-" + text);
    QCOMPARE(SqlPeek(dir.databaseFile()).column("SELECT COUNT(*) FROM settings"), QVariantList({1}));

    // the password never reaches the log
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

    SqlPeek peek(dir.databaseFile());
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
}

SORVANTO_TEST_MAIN(TstDatabase)
#include "tst_database.moc"
