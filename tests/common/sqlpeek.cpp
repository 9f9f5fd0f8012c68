#include "sqlpeek.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace {
const char *const kConnection = "sqlpeek";
}

SqlPeek::SqlPeek(const QString &file)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", kConnection);
    db.setDatabaseName(file);
    db.open();
}

SqlPeek::~SqlPeek()
{
    QSqlDatabase::database(kConnection, false).close();
    QSqlDatabase::removeDatabase(kConnection);
}

QVariantList SqlPeek::column(const QString &sql)
{
    QVariantList out;
    QSqlQuery query(QSqlDatabase::database(kConnection, false));
    if (query.exec(sql))
        while (query.next())
            out << query.value(0);
    return out;
}

bool SqlPeek::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(kConnection, false));
    if (!query.prepare(sql))
        return false;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec();
}
