#ifndef SETTINGSSTORE_H
#define SETTINGSSTORE_H

// The settings row of the database. One table of fields drives the schema, the
// default row, loading, saving, the log dump and the settings dialog, so a new
// setting is one line in settingsstore.cpp.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

#include <variant>

#include "accountsettings.h"

extern const char *const kDefaultStunUrl;

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
    const char *byDefault;   // default row value as stored
    int updateRank;          // place in the UPDATE statement
    const char *widget;      // the settings dialog's field, or nullptr
    int option = Plain;      // NotLoaded: decided at run time, only written back
    int minimum = 0;         // numbers: accepted range when maximum > 0
    int maximum = 0;

    bool isInteger() const { return std::holds_alternative<int AccountSettings::*>(member); }
    bool isFlag() const { return std::holds_alternative<bool AccountSettings::*>(member); }
    QVariant value(const AccountSettings &w) const; // text, flag or number
    void setValue(AccountSettings &w, const QVariant &v) const;
};

class SettingsStore
{
public:
    explicit SettingsStore(const QSqlDatabase &db) : m_db(db) {}

    static const QVector<SettingField> &fields();
    // CREATE TABLE settings and the INSERT of the default row.
    static QStringList schema();
    // Every loaded column of row 1 into the members; false when there is no row.
    bool load(AccountSettings &w) const;
    bool save(const AccountSettings &w, QString *error) const;
    // One log line per setting, name followed by value.
    static void dump(const AccountSettings &w);

private:
    QSqlDatabase m_db;
};

#endif // SETTINGSSTORE_H
