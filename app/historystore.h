#ifndef HISTORYSTORE_H
#define HISTORYSTORE_H

// The call history and the de-duplicated list of numbers called recently that
// feeds the main window's drop-down box.

#include "sqltable.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

struct HistoryRecord
{
    QString called;
    QString ctime; // "dd.MM.yyyy HH:mm:ss"
    QString time;  // talk time, "hh:mm:ss"
    QString info;  // "In", "Out" or "Break"
    bool encrypted = false; // signalling over TLS and media over SRTP
};

class HistoryStore
{
public:
    explicit HistoryStore(const QSqlDatabase &db) : m_db(db) {}

    // The history, number and historybox tables.
    static QVector<SqlTable> tables();
    // CREATE TABLE history, number and historybox.
    static QStringList schema();
    bool append(const QString &called, const QString &ctime, const QString &time, const QString &info,
                QString *error, bool encrypted = false) const;
    // Every history row to the log (diagnostics only).
    void dump() const;
    // Adds each number called out that the box does not hold yet, then lists
    // the box's numbers by their start-time text, latest first.
    QStringList recentNumbers() const;
    // The calls of one kind (every kind when `info` is empty), of one number
    // when `called` is not empty, by their start-time text, latest first.
    // Empty when the statement fails.
    QVector<HistoryRecord> calls(const QString &info = QString(), const QString &called = QString()) const;

private:
    QSqlDatabase m_db;
};

#endif // HISTORYSTORE_H
