#ifndef SQLPEEK_H
#define SQLPEEK_H

// Looks into the phone's SQLite file through a connection of its own, so a
// test can seed or check rows beside the phone's "SQLITE" connection.

#include <QString>
#include <QVariantList>

class SqlPeek
{
public:
    explicit SqlPeek(const QString &file);
    ~SqlPeek();
    SqlPeek(const SqlPeek &) = delete;
    SqlPeek &operator=(const SqlPeek &) = delete;

    // The first column of every row the statement returns (empty on error).
    QVariantList column(const QString &sql);
    // Runs one statement with the values bound in order; true on success.
    bool exec(const QString &sql, const QVariantList &values = {});
};

#endif // SQLPEEK_H
