#include "historystore.h"
#include "settingsstore.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

QVector<SqlTable> HistoryStore::tables()
{
    const QString number = QStringLiteral("VARCHAR(50) NOT NULL");
    const QString optional = QStringLiteral("VARCHAR(50) NULL");
    const QString none = QStringLiteral("''");
    const QString close = QStringLiteral(")");
    return {{QStringLiteral("history"),
             {{QStringLiteral("called"), number, none},
              {QStringLiteral("ctime"), number, none},
              {QStringLiteral("time"), number, none},
              {QStringLiteral("info"), optional, QString()},
              // Whether the call was encrypted end to end; rows older than it were not.
              {QStringLiteral("encrypted"), QStringLiteral("INTEGER NOT NULL"), QStringLiteral("0")}},
             close, {}},
            {QStringLiteral("number"), {{QStringLiteral("num"), number, none}, {QStringLiteral("info"), optional, QString()}},
             close, {}},
            {QStringLiteral("historybox"),
             {{QStringLiteral("called"), number, none},
              {QStringLiteral("ctime"), number, none},
              {QStringLiteral("info"), optional, QString()}},
             close, {}}};
}

QStringList HistoryStore::schema()
{
    QStringList statements;
    for (const SqlTable &t : tables())
        statements << t.createStatement();
    return statements;
}

bool HistoryStore::append(const QString &called, const QString &ctime, const QString &time, const QString &info,
                          QString *error, bool encrypted) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO history (called,  ctime, time, info, encrypted )VALUES (?, ?, ?, ?, ?)"));
    for (const QString &value : {called, ctime, time, info})
        query.addBindValue(sqlText(value));
    query.addBindValue(encrypted ? 1 : 0);
    if (query.exec())
        return true;
    if (error)
        *error = query.lastError().text();
    return false;
}

void HistoryStore::dump() const
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("SELECT * FROM history"));
    while (query.next()) {
        qDebug() << " called = " << query.value(QStringLiteral("called")).toString()
                 << " currtime = " << query.value(QStringLiteral("ctime")).toString()
                 << " time = " << query.value(QStringLiteral("time")).toString()
                 << " info = " << query.value(QStringLiteral("info")).toString();
    }
}

QStringList HistoryStore::recentNumbers() const
{
    // Only outgoing calls feed the box, one row per number, first seen wins.
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("SELECT * FROM history WHERE info = 'Out' ORDER BY ctime DESC"));
    while (query.next()) {
        const QString number = query.value(QStringLiteral("called")).toString();
        bool present = false;
        QSqlQuery seen(m_db);
        seen.exec(QStringLiteral("SELECT * FROM historybox"));
        while (!present && seen.next())
            present = seen.value(QStringLiteral("called")).toString() == number;
        if (present)
            continue;
        QSqlQuery insert(m_db);
        insert.prepare(QStringLiteral("INSERT INTO historybox (called, ctime, info )VALUES (?, ?, ?)"));
        insert.addBindValue(sqlText(number));
        insert.addBindValue(sqlText(query.value(QStringLiteral("ctime")).toString()));
        insert.addBindValue(sqlText(query.value(QStringLiteral("info")).toString()));
        insert.exec();
    }

    QStringList numbers;
    query.exec(QStringLiteral("SELECT * FROM historybox ORDER BY ctime DESC"));
    while (query.next())
        numbers << query.value(QStringLiteral("called")).toString();
    return numbers;
}

QVector<HistoryRecord> HistoryStore::calls(const QString &info, const QString &called) const
{
    // The values are bound, never pasted into the statement: a quote in a
    // searched number must not end the literal.
    QStringList where;
    if (!info.isEmpty())
        where << QStringLiteral("info = ?");
    if (!called.isEmpty())
        where << QStringLiteral("called = ?");
    QString statement = QStringLiteral("SELECT * FROM history");
    if (!where.isEmpty())
        statement += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    QSqlQuery query(m_db);
    if (!query.prepare(statement + QStringLiteral(" ORDER BY ctime DESC")))
        return {};
    for (const QString &value : {info, called}) {
        if (!value.isEmpty())
            query.addBindValue(value);
    }
    QVector<HistoryRecord> records;
    if (!query.exec())
        return records;
    while (query.next()) {
        records << HistoryRecord{query.value(QStringLiteral("called")).toString(),
                                 query.value(QStringLiteral("ctime")).toString(),
                                 query.value(QStringLiteral("time")).toString(),
                                 query.value(QStringLiteral("info")).toString(),
                                 query.value(QStringLiteral("encrypted")).toInt() != 0};
    }
    return records;
}
