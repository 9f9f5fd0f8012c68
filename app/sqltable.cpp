#include "sqltable.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

QString sqlLiteral(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

QString SqlTable::createStatement() const
{
    QStringList declarations;
    for (const SqlColumn &c : columns)
        declarations << c.name + QLatin1Char(' ') + c.declaration;
    return QStringLiteral("CREATE TABLE ") + name + QStringLiteral(" (id INTEGER PRIMARY KEY AUTOINCREMENT, ")
           + declarations.join(QStringLiteral(", ")) + closing;
}

static bool run(QSqlQuery &query, const QString &statement, QString *error)
{
    if (query.exec(statement))
        return true;
    if (error)
        *error = statement + QStringLiteral(": ") + query.lastError().text();
    return false;
}

bool SqlTable::migrate(const QSqlDatabase &db, QString *error) const
{
    QSqlQuery query(db);
    if (!run(query, QStringLiteral("PRAGMA table_info(") + name + QLatin1Char(')'), error))
        return false;
    QStringList present; // SQLite's names are case-insensitive
    while (query.next())
        present << query.value(QStringLiteral("name")).toString().toLower();
    query.finish();

    if (present.isEmpty()) {
        qDebug() << "!!!!! createDB table" << name;
        for (const QString &statement : QStringList(createStatement()) + seed) {
            if (!run(query, statement, error))
                return false;
        }
        return true;
    }
    for (const SqlColumn &c : columns) {
        if (present.contains(c.name.toLower()))
            continue;
        QString statement = QStringLiteral("ALTER TABLE ") + name + QStringLiteral(" ADD COLUMN ") + c.name
                            + QLatin1Char(' ') + c.declaration;
        if (!c.byDefault.isEmpty())
            statement += QStringLiteral(" DEFAULT ") + c.byDefault;
        qDebug() << "!!!!! createDB" << statement;
        if (!run(query, statement, error))
            return false;
    }
    return true;
}

bool migrateTables(const QSqlDatabase &connection, const QVector<SqlTable> &tables, QString *error)
{
    QSqlDatabase db = connection;
    if (!db.transaction()) {
        if (error)
            *error = db.lastError().text();
        return false;
    }
    for (const SqlTable &table : tables) {
        if (!table.migrate(db, error)) {
            db.rollback();
            return false;
        }
    }
    if (db.commit())
        return true;
    if (error)
        *error = db.lastError().text();
    db.rollback();
    return false;
}
