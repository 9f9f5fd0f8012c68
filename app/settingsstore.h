#ifndef SETTINGSSTORE_H
#define SETTINGSSTORE_H

// The settings row of the database. One table of fields drives the schema, the
// columns an older file gains, loading, saving, the log dump and the settings
// dialog; the default row is a default-constructed AccountSettings. A new
// setting is a member with its default in accountsettings.h and one line in
// settingsstore.cpp.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

#include <variant>

#include "accountsettings.h"
#include "sqltable.h"

// Bound, an unset text would be NULL and break the NOT NULL columns; a
// statement built as text would hold ''.
inline QVariant sqlText(const QString &value)
{
    return value.isNull() ? QString(QLatin1String("")) : value;
}

struct SettingField
{
    enum Option { Plain = 0, NotLoaded = 1, Secret = 2 };

    const char *column;      // also the name of the AccountSettings member
    const char *declaration; // its type in CREATE TABLE
    std::variant<QString AccountSettings::*, bool AccountSettings::*, int AccountSettings::*> member;
    int updateRank;          // place in the UPDATE statement
    const char *widget;      // the settings dialog's field, or nullptr
    int option = Plain;      // NotLoaded: decided at run time, only written back
    int minimum = 0;         // numbers: accepted range when maximum > 0
    int maximum = 0;

    bool isInteger() const { return std::holds_alternative<int AccountSettings::*>(member); }
    bool isFlag() const { return std::holds_alternative<bool AccountSettings::*>(member); }
    QVariant value(const AccountSettings &w) const; // text, flag or number
    QVariant storedValue(const AccountSettings &w) const; // flags as 'true'/'false', texts never NULL
    QString literal(const AccountSettings &w) const;      // the stored value written in SQL
    void setValue(AccountSettings &w, const QVariant &v) const;
};

class SettingsStore
{
public:
    explicit SettingsStore(const QSqlDatabase &db) : m_db(db) {}

    static const QVector<SettingField> &fields();
    // The settings table: its columns and defaults, the default row as its seed.
    static SqlTable table();
    // CREATE TABLE settings and the INSERT of the default row.
    static QStringList schema();
    // Brings the whole file (settings and history) up to date, in one transaction.
    bool migrate(QString *error) const;
    // Every loaded column of row 1 into the members, found by name; a column
    // the file lacks leaves its member as it was. False when there is no row.
    bool load(AccountSettings &w) const;
    bool save(const AccountSettings &w, QString *error) const;
    // One log line per setting, name followed by value.
    static void dump(const AccountSettings &w);

private:
    QSqlDatabase m_db;
};

#endif // SETTINGSSTORE_H
