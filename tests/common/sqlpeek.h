#pragma once
// Looks into the phone's SQLite file through a connection of its own, so a
// test can seed or check rows beside the phone's "SQLITE" connection.
#include <QVariant>
#include <QSqlQuery>

class SqlPeek
{
public:
    explicit SqlPeek(const QString &file) : m_db(QSqlDatabase::addDatabase("QSQLITE", "sqlpeek"))
    {
        m_db.setDatabaseName(file);
        m_db.open();
    }
    ~SqlPeek()
    {
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase("sqlpeek");
    }
    // The first column of every row the statement returns (empty on error).
    QVariantList column(const QString &sql)
    {
        QVariantList out;
        for (QSqlQuery query(sql, m_db); query.next();) out << query.value(0);
        return out;
    }
    // Runs one statement with the values bound in order; true on success.
    bool exec(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery query(m_db);
        const bool prepared = query.prepare(sql);
        for (const QVariant &value : values) query.addBindValue(value);
        return prepared && query.exec();
    }

    QSqlDatabase db() const { return m_db; }

private:
    QSqlDatabase m_db;
};
