// A file written by the last release loads with every value kept; an older file gains the columns it lacks
// with their defaults, a newer one's unknown columns load and survive a save; a failed migration changes nothing.
// The history lists calls by kind and number.
#include "historystore.h"
#include "settingsstore.h"
#include "testmain.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

// One SQLite file in a temporary directory, open on a connection of its own.
class DbFile
{
public:
    DbFile() : m_db(QSqlDatabase::addDatabase("QSQLITE", "store")) { m_db.setDatabaseName(path()), m_db.open(); }
    ~DbFile() { m_db.close(), m_db = QSqlDatabase(), QSqlDatabase::removeDatabase("store"); }
    QString path() const { return m_dir.filePath("sorvanto.dat"); }
    QSqlDatabase db() const { return m_db; }
    QByteArray bytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Statements end a line with ";"; lines starting "--" are comments.
    bool run(const QString &statements)
    {
        QString text;
        for (const QString &line : statements.split('\n'))
            text += line.startsWith("--") ? QString() : line + '\n';
        for (const QString &statement : text.split(";\n", Qt::SkipEmptyParts)) {
            QSqlQuery query(m_db);
            if (!statement.trimmed().isEmpty() && !query.exec(statement)) {
                qWarning() << statement << query.lastError().text();
                return false;
            }
        }
        return true;
    }
    bool load(const QString &fixture)
    {
        QFile f(QFINDTESTDATA("../data/app/" + fixture));
        return f.open(QIODevice::ReadOnly) && run(QString::fromUtf8(f.readAll()));
    }
    // The settings row read by column name, as stored text.
    QMap<QString, QString> row() const
    {
        QMap<QString, QString> out;
        QSqlQuery query("SELECT * FROM settings WHERE id=1", m_db);
        const bool found = query.next();
        for (int i = 0; found && i < query.record().count(); ++i)
            out[query.record().fieldName(i)] = query.value(i).toString();
        return out;
    }
    QStringList column(const QString &sql) const
    {
        QStringList out;
        for (QSqlQuery query(sql, m_db); query.next();)
            out << query.value(0).toString();
        return out;
    }

private:
    QTemporaryDir m_dir;
    QSqlDatabase m_db;
};

class TstSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void migrate_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("gained"); // column=value the file gains with its default
        QTest::newRow("last release, in use") << "released-used.sql" << QString() << QStringList();
        QTest::newRow("last release, first start") << "released-new.sql" << QString() << QStringList();
        QTest::newRow("older: no keepAlive, no STUN")
            << "released-used.sql" << "ALTER TABLE settings DROP COLUMN keepAlive;\nALTER TABLE settings DROP COLUMN STUN;\n"
            << QStringList{"keepAlive=15", "STUN=udp://stun.sipgate.net:3478"};
        QTest::newRow("older: no transport, no history info, no number table")
            << "released-used.sql"
            << "ALTER TABLE settings DROP COLUMN transport;\nALTER TABLE history DROP COLUMN info;\nDROP TABLE number;\n"
            << QStringList{"transport=UDP"};
        QTest::newRow("newer: an unknown column among the known") << "newer.sql" << QString() << QStringList();
    }
    void migrate()
    {
        QFETCH(QString, fixture);
        QFETCH(QString, change);
        QFETCH(QStringList, gained);
        DbFile file;
        QVERIFY(file.load(fixture) && file.run(change));
        const QMap<QString, QString> before = file.row();
        const QStringList calls = file.column("SELECT called || ctime || time FROM history ORDER BY ctime DESC");
        QVERIFY(!before.isEmpty());

        QString error;
        QVERIFY2(SettingsStore(file.db()).migrate(&error), qPrintable(error));
        QMap<QString, QString> expected = before;
        for (const QString &g : gained)
            expected[g.section('=', 0, 0)] = g.section('=', 1);
        QCOMPARE(file.row(), expected); // the file gained exactly these, and kept the rest
        for (const SqlTable &t : QVector<SqlTable>{SettingsStore::table()} + HistoryStore::tables()) {
            const QStringList present = file.column("SELECT name FROM pragma_table_info('" + t.name + "')");
            for (const SqlColumn &c : t.columns)
                QVERIFY2(present.contains(c.name), qPrintable(t.name + "." + c.name));
        }

        AccountSettings s;
        s.keepAlive = -1, s.transport = "?"; // a column not loaded would show
        QVERIFY(SettingsStore(file.db()).load(s));
        for (const SettingField &f : SettingsStore::fields()) {
            const QString loaded = f.storedValue(s).toString();
            if (f.option & SettingField::NotLoaded)
                QCOMPARE(loaded, f.storedValue(AccountSettings()).toString());
            else
                QVERIFY2(loaded == expected.value(f.column), qPrintable(QString(f.column) + " = " + loaded));
        }
        QStringList read;
        for (const HistoryRecord &r : HistoryStore(file.db()).calls())
            read << r.called + r.ctime + r.time;
        QCOMPARE(read, calls);

        // Saving writes back what was loaded and leaves unknown columns alone.
        QVERIFY(SettingsStore(file.db()).save(s, &error));
        expected["useSTUN"] = "false";
        QCOMPARE(file.row(), expected);
    }

    void calls_data()
    {
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("called");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("every call, by start-time text") << "" << "" << QStringList{"200", "400", "300", "100"};
        QTest::newRow("outgoing") << "Out" << "" << QStringList{"200", "100"};
        QTest::newRow("one number") << "" << "300" << QStringList{"300"};
        QTest::newRow("one number, another kind") << "Out" << "300" << QStringList();
        QTest::newRow("a quote in the number") << "" << "1' OR '1'='1" << QStringList();
    }
    void calls()
    {
        QFETCH(QString, info);
        QFETCH(QString, called);
        QFETCH(QStringList, listed);
        DbFile file;
        QVERIFY(file.load("released-used.sql"));
        QStringList numbers;
        for (const HistoryRecord &r : HistoryStore(file.db()).calls(info, called))
            numbers << r.called;
        QCOMPARE(numbers, listed);
    }

    // A first start writes the schema and the default row the last release wrote, and those
    // defaults are the ones in memory before any load.
    void newFile()
    {
        QMap<QString, QString> released;
        QStringList releasedSchema;
        {
            DbFile file;
            QVERIFY(file.load("released-new.sql"));
            released = file.row();
            releasedSchema = file.column("SELECT sql FROM sqlite_master ORDER BY name");
        }
        for (const SettingField &f : SettingsStore::fields())
            QVERIFY2(f.storedValue(AccountSettings()).toString() == released.value(f.column), f.column);
        DbFile file;
        QString error;
        QVERIFY2(SettingsStore(file.db()).migrate(&error), qPrintable(error));
        QCOMPARE(file.column("SELECT sql FROM sqlite_master ORDER BY name"), releasedSchema);
        QCOMPARE(file.row(), released);
    }

    // The settings gain a column, then the history cannot: neither change reaches the file.
    void failedMigrationChangesNothing()
    {
        DbFile file;
        QVERIFY(file.load("released-used.sql")
                && file.run("ALTER TABLE settings DROP COLUMN keepAlive;\nALTER TABLE history RENAME TO calls;\n"
                            "CREATE VIEW history AS SELECT id, called, ctime, time FROM calls;\n"));
        const QByteArray before = file.bytes();
        QString error;
        QVERIFY(!SettingsStore(file.db()).migrate(&error));
        QVERIFY2(error.contains("history"), qPrintable(error));
        QCOMPARE(file.bytes(), before);
        QVERIFY(!file.row().contains("keepAlive"));
    }
};

SORVANTO_TEST_MAIN(TstSettingsStore)
#include "tst_settingsstore.moc"
