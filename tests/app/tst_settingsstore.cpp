// A file written by the last release loads with every value kept; an older file gains the columns it lacks
// with their defaults, a newer one's unknown columns load and survive a save; a failed migration changes nothing.
#include "fixturetable.h"
#include "historystore.h"
#include "peerprocess.h"
#include "settingsstore.h"
#include "sqlpeek.h"
#include "testmain.h"

#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

// A fixture's statements (each ends a line with ";", "--" starts a comment), then `change`.
static bool load(SqlPeek &file, const QString &fixture, const QString &change = QString())
{
    QString text = QString::fromUtf8(PeerProcess::read(QFINDTESTDATA("../data/app/" + fixture))) + change;
    text.remove(QRegularExpression("^--[^\n]*\n", QRegularExpression::MultilineOption));
    text.replace(QLatin1String("$DEFAULT_STUN_URL"), QLatin1String(kDefaultStunUrl)); // the public server, named once
    for (const QString &statement : text.split(";\n", Qt::SkipEmptyParts))
        if (!statement.trimmed().isEmpty() && !file.exec(statement))
            return false;
    return !text.isEmpty();
}

// The settings row read by column name, as stored text.
static QMap<QString, QString> row(SqlPeek &file)
{
    QMap<QString, QString> out;
    QSqlQuery query("SELECT * FROM settings WHERE id=1", file.db());
    const bool found = query.next();
    for (int i = 0; found && i < query.record().count(); ++i)
        out[query.record().fieldName(i)] = query.value(i).toString();
    return out;
}

// The first column of every row as text.
static QStringList texts(SqlPeek &file, const QString &sql) { return QVariant(file.column(sql)).toStringList(); }

class TstSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void migrate_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("gained"); // column=value the file gains with its default
        QTest::newRow("last release, in use: G.722 and the canceller on, Opus off")
            << "released-used.sql" << QString() << QStringList{"codecG722=true", "codecOpus=false", "echoCancel=true"};
        QTest::newRow("older: no keepAlive, no STUN")
            << "released-used.sql" << "ALTER TABLE settings DROP COLUMN keepAlive;\nALTER TABLE settings DROP COLUMN STUN;\n"
            << QStringList{"keepAlive=15", QStringLiteral("STUN=") + kDefaultStunUrl};
        QTest::newRow("older: no transport, no history info, no number table")
            << "released-used.sql"
            << "ALTER TABLE settings DROP COLUMN transport;\nALTER TABLE history DROP COLUMN info;\nDROP TABLE number;\n"
            << QStringList{"transport=UDP"};
        QTest::newRow("newer: an unknown column among the known") << "newer.sql" << QString() << QStringList();
    }
    void migrate()
    {
        QFETCH(QStringList, gained);
        QTemporaryDir dir;
        SqlPeek file(dir.filePath("sorvanto.dat"));
        QVERIFY(load(file, cell("fixture"), cell("change")));
        const QMap<QString, QString> before = row(file);
        const QStringList calls = texts(file, "SELECT called || ctime || time FROM history ORDER BY ctime DESC");
        QVERIFY(!before.isEmpty());

        QString error;
        QVERIFY2(SettingsStore(file.db()).migrate(&error), qPrintable(error));
        QMap<QString, QString> expected = before;
        for (const QString &g : gained)
            expected[g.section('=', 0, 0)] = g.section('=', 1);
        for (const SettingField &f : SettingsStore::fields()) // settings newer than the last release
            if (!expected.contains(f.column))
                expected[f.column] = f.storedValue(AccountSettings()).toString();
        QCOMPARE(row(file), expected); // the file gained exactly these, and kept the rest
        for (const SqlTable &t : QVector<SqlTable>{SettingsStore::table()} + HistoryStore::tables()) {
            const QStringList present = texts(file, "SELECT name FROM pragma_table_info('" + t.name + "')");
            for (const SqlColumn &c : t.columns)
                QVERIFY2(present.contains(c.name), qPrintable(t.name + "." + c.name));
        }

        AccountSettings s;
        s.keepAlive = -1, s.transport = "?"; // a column not loaded would show in the save below
        QVERIFY(SettingsStore(file.db()).load(s));
        QStringList read;
        for (const HistoryRecord &r : HistoryStore(file.db()).calls())
            read << r.called + r.ctime + r.time + (r.encrypted ? "(encrypted)" : ""); // older rows were not
        QCOMPARE(read, calls);

        // Saving writes back what was loaded and leaves unknown columns alone; useSTUN is never loaded: the
        // network check decides it, and the file had it on.
        QVERIFY(SettingsStore(file.db()).save(s, &error));
        expected["useSTUN"] = "false";
        QCOMPARE(row(file), expected);
    }

    // A first start writes the schema and the default row the last release wrote, and those
    // defaults are the ones in memory before any load.
    void newFile()
    {
        QMap<QString, QString> released;
        QStringList releasedSchema;
        const QString schemaSql = "SELECT sql FROM sqlite_master ORDER BY name = 'settings', name";
        QTemporaryDir dir;
        {
            SqlPeek file(dir.filePath("released.dat"));
            QVERIFY(load(file, "released-new.sql"));
            released = row(file);
            releasedSchema = texts(file, schemaSql);
        }
        for (const SettingField &f : SettingsStore::fields())
            QVERIFY2(!released.contains(f.column) || f.storedValue(AccountSettings()).toString() == released[f.column], f.column);
        SqlPeek file(dir.filePath("sorvanto.dat"));
        QString error;
        QVERIFY2(SettingsStore(file.db()).migrate(&error), qPrintable(error));
        const QStringList schema = texts(file, schemaSql);
        QCOMPARE(schema.size(), releasedSchema.size());
        for (int i = 0; i < schema.size(); ++i) // newer columns may follow, before ")" or " )"
            QVERIFY2(schema[i].startsWith(releasedSchema[i].chopped(releasedSchema[i].endsWith(" )") ? 2 : 1)), qPrintable(schema[i]));
        const QMap<QString, QString> first = row(file);
        for (const QString &column : released.keys())
            QCOMPARE(column + "=" + first.value(column), column + "=" + released[column]);
        // The last release still adds its calls to a file this one made (a user going back a version).
        QVERIFY(file.exec("INSERT INTO history (called,  ctime, time, info )VALUES (?, ?, ?, ?)", {"1", "2", "3", ""}));
    }

    // The settings gain a column, then the history cannot: neither change reaches the file.
    void failedMigrationChangesNothing()
    {
        QTemporaryDir dir;
        SqlPeek file(dir.filePath("sorvanto.dat"));
        QVERIFY(load(file, "released-used.sql",
                     "ALTER TABLE settings DROP COLUMN keepAlive;\nALTER TABLE history RENAME TO calls;\n"
                     "CREATE VIEW history AS SELECT id, called, ctime, time FROM calls;\n"));
        const QByteArray before = PeerProcess::read(dir.filePath("sorvanto.dat"));
        QString error;
        QVERIFY(!SettingsStore(file.db()).migrate(&error));
        QVERIFY2(error.contains("history"), qPrintable(error));
        QCOMPARE(PeerProcess::read(dir.filePath("sorvanto.dat")), before);
        QVERIFY(!row(file).contains("keepAlive"));
    }
};

SORVANTO_TEST_MAIN(TstSettingsStore)
#include "tst_settingsstore.moc"
