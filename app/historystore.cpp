#include "historystore.h"
#include "settingsstore.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

QStringList HistoryStore::schema()
{
    return {QStringLiteral("CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, "
                           "ctime VARCHAR(50) NOT NULL, time VARCHAR(50) NOT NULL, info VARCHAR(50) NULL)"),
            QStringLiteral("CREATE TABLE number (id INTEGER PRIMARY KEY AUTOINCREMENT, num VARCHAR(50) NOT NULL, "
                           "info VARCHAR(50) NULL)"),
            QStringLiteral("CREATE TABLE historybox (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, "
                           "ctime VARCHAR(50) NOT NULL, info VARCHAR(50) NULL)")};
}

bool HistoryStore::append(const QString &called, const QString &ctime, const QString &time, const QString &info,
                          QString *error) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO history (called,  ctime, time, info )VALUES (?, ?, ?, ?)"));
    for (const QString &value : {called, ctime, time, info})
        query.addBindValue(sqlText(value));
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
        qDebug() << " called = " << query.value(1).toString() << " currtime = " << query.value(2).toString()
                 << " time = " << query.value(3).toString() << " info = " << query.value(4).toString();
    }
}

QStringList HistoryStore::recentNumbers() const
{
    // Only outgoing calls feed the box, one row per number, first seen wins.
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("SELECT * FROM history WHERE info = 'Out' ORDER BY ctime DESC"));
    while (query.next()) {
        const QString number = query.value(1).toString();
        bool present = false;
        QSqlQuery seen(m_db);
        seen.exec(QStringLiteral("SELECT * FROM historybox"));
        while (!present && seen.next())
            present = seen.value(1).toString() == number;
        if (present)
            continue;
        QSqlQuery insert(m_db);
        insert.prepare(QStringLiteral("INSERT INTO historybox (called, ctime, info )VALUES (?, ?, ?)"));
        insert.addBindValue(sqlText(number));
        insert.addBindValue(sqlText(query.value(2).toString()));
        insert.addBindValue(sqlText(query.value(4).toString()));
        insert.exec();
    }

    QStringList numbers;
    query.exec(QStringLiteral("SELECT * FROM historybox ORDER BY ctime DESC"));
    while (query.next())
        numbers << query.value(1).toString();
    return numbers;
}
