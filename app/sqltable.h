#ifndef SQLTABLE_H
#define SQLTABLE_H

// A table of sorvanto.dat as this version wants it. Stored data evolves, never
// breaks: a file that lacks the table gets it with its first rows, a table that
// lacks a column gains it with its default, and columns this version does not
// know (a newer version's) are left alone.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

struct SqlColumn
{
    QString name;
    QString declaration; // its type in CREATE TABLE
    QString byDefault;   // the SQL literal an existing row gains; empty for NULL
};

struct SqlTable
{
    QString name;
    QVector<SqlColumn> columns; // after the id
    QString closing;            // ")" or " )", as the statement has always been written
    QStringList seed;           // what a new table starts with

    QString createStatement() const;
    // Creates the table with its seed, or adds each column the file lacks.
    bool migrate(const QSqlDatabase &db, QString *error) const;
};

// A text as an SQL literal: quoted, its quotes doubled.
QString sqlLiteral(const QString &text);

// Brings every table of the file up to date in one transaction: all or nothing.
bool migrateTables(const QSqlDatabase &db, const QVector<SqlTable> &tables, QString *error);

#endif // SQLTABLE_H
