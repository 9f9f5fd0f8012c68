#ifndef HISTORYSTORE_H
#define HISTORYSTORE_H

// The call history and the de-duplicated list of numbers called recently that
// feeds the main window's drop-down box.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class HistoryStore
{
public:
    explicit HistoryStore(const QSqlDatabase &db) : m_db(db) {}

    // CREATE TABLE history, number and historybox.
    static QStringList schema();
    bool append(const QString &called, const QString &ctime, const QString &time, const QString &info,
                QString *error) const;
    // Every history row to the log (diagnostics only).
    void dump() const;
    // Adds each number called out that the box does not hold yet, then lists
    // the box's numbers by their start-time text, latest first.
    QStringList recentNumbers() const;

private:
    QSqlDatabase m_db;
};

#endif // HISTORYSTORE_H
