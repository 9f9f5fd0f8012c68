#include "settingsstore.h"
#include "historystore.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <algorithm>

namespace {

using M = AccountSettings;
const char *const kText45 = "VARCHAR(45) NOT NULL";
const char *const kText45Null = "VARCHAR(45) NULL";
const char *const kFlag = "VARCHAR(32) NOT NULL";
const char *const kNumber = "INTEGER NOT NULL";

} // namespace

const QVector<SettingField> &SettingsStore::fields()
{
    // Column, declaration, member, place in the UPDATE, dialog widget, options
    // and range. A new column goes at the end: an older file gains it there.
    static const QVector<SettingField> table = {
        {"account", kText45, &M::account, 1, "lineEdit_51"},
        {"sipServerIp", kText45, &M::sipServerIp, 2, "lineEdit_52"},
        {"sipProxyIp", kText45Null, &M::sipProxyIp, 3, "lineEdit_53"},
        {"sipServerPort", "VARCHAR(32) NOT NULL", &M::sipServerPort, 4, "lineEdit_64", 0, 1024, 65535},
        {"user", kText45, &M::user, 5, "lineEdit_54"},
        {"domain", kText45, &M::domain, 6, "lineEdit_55"},
        {"login", kText45Null, &M::login, 7, "lineEdit_56"},
        {"password", kText45Null, &M::password, 8, "lineEdit_57", SettingField::Secret},
        {"name", kText45Null, &M::name, 9, "lineEdit_58"},
        {"voicemail", kText45Null, &M::voicemail, 10, "lineEdit_59"},
        {"prefix", kText45Null, &M::prefix, 11, "lineEdit_60"},
        {"plan", kText45Null, &M::plan, 12, "lineEdit_61"},
        {"hideCallerId", kFlag, &M::hideCallerId, 13, "checkBox"},
        {"encryptMedia", kText45, &M::encryptMedia, 14, "comboBox_62"},
        {"transport", kText45, &M::transport, 15, "comboBox_63"},
        {"publicAddr", kText45, &M::publicAddr, 16, "comboBox_64"},
        {"registrTimeout", kNumber, &M::registrTimeout, 27, "lineEdit_62", 0, 60, 86400},
        {"keepAlive", kNumber, &M::keepAlive, 28, "lineEdit_63", 0, 0, 3600},
        {"publicPresent", kFlag, &M::publicPresent, 17, nullptr},
        {"enableRewriteIp", kFlag, &M::enableRewriteIp, 18, nullptr},
        {"ICE", kFlag, &M::ICE, 19, nullptr},
        {"disableSessionTimer", kFlag, &M::disableSessionTimer, 20, nullptr},
        {"useLog", kFlag, &M::useLog, 21, "checkBox_5"},
        {"mediaIp", kText45, &M::mediaIp, 26, "comboBox_1"},
        {"mediaPort", kNumber, &M::mediaPort, 29, "lineEdit_65", 0, 1024, 65535},
        {"codecPCMA", kFlag, &M::codecPCMA, 22, "checkBox_2"},
        {"codecPCMU", kFlag, &M::codecPCMU, 23, "checkBox_3"},
        {"useSTUN", kFlag, &M::useSTUN, 24, nullptr, SettingField::NotLoaded},
        {"STUN", "VARCHAR(32) NOT NULL", &M::STUN, 25, "lineEdit_67"},
        {"caFile", "TEXT NOT NULL", &M::caFile, 30, "lineEdit_69"},
        {"codecG722", kFlag, &M::codecG722, 31, "checkBox_6"},
        {"codecOpus", kFlag, &M::codecOpus, 32, "checkBox_7"},
        {"echoCancel", kFlag, &M::echoCancel, 33, "checkBox_8"},
    };
    return table;
}

QVariant SettingField::value(const AccountSettings &w) const
{
    return std::visit([&w](auto m) { return QVariant(w.*m); }, member);
}

void SettingField::setValue(AccountSettings &w, const QVariant &v) const
{
    if (auto m = std::get_if<QString AccountSettings::*>(&member))
        w.**m = v.toString();
    else if (auto m = std::get_if<bool AccountSettings::*>(&member))
        w.**m = v.toBool(); // "false", "0" and "" are false
    else
        w.*std::get<int AccountSettings::*>(member) = v.toInt();
}

QVariant SettingField::storedValue(const AccountSettings &w) const
{
    const QVariant v = value(w);
    if (isInteger())
        return v;
    if (isFlag())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return sqlText(v.toString());
}

QString SettingField::literal(const AccountSettings &w) const
{
    const QVariant v = storedValue(w);
    return isInteger() ? QString::number(v.toInt()) : sqlLiteral(v.toString());
}

SqlTable SettingsStore::table()
{
    const AccountSettings defaults;
    SqlTable t{QStringLiteral("settings"), {}, QStringLiteral(" )"), {}};
    QStringList columns, values;
    for (const SettingField &f : fields()) {
        t.columns << SqlColumn{QLatin1String(f.column), QLatin1String(f.declaration), f.literal(defaults)};
        columns << QLatin1String(f.column);
        values << f.literal(defaults);
    }
    t.seed << QStringLiteral("INSERT INTO settings (") + columns.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (")
                  + values.join(QStringLiteral(", ")) + QStringLiteral(")");
    return t;
}

QStringList SettingsStore::schema()
{
    const SqlTable t = table();
    return QStringList(t.createStatement()) + t.seed;
}

bool SettingsStore::migrate(QString *error) const
{
    return migrateTables(m_db, QVector<SqlTable>{table()} + HistoryStore::tables(), error);
}

bool SettingsStore::load(AccountSettings &w) const
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("SELECT * FROM settings WHERE id=1"));
    if (!query.next())
        return false;
    // By name: an older file lacks columns, a newer one has more, and columns
    // added to a file stand after the ones it had.
    const QSqlRecord row = query.record();
    for (const SettingField &f : fields()) {
        const int i = row.indexOf(QLatin1String(f.column));
        if (i >= 0 && !(f.option & SettingField::NotLoaded))
            f.setValue(w, query.value(i));
    }
    return true;
}

bool SettingsStore::save(const AccountSettings &w, QString *error) const
{
    QVector<const SettingField *> order;
    for (const SettingField &f : fields())
        order << &f;
    std::sort(order.begin(), order.end(),
              [](const SettingField *a, const SettingField *b) { return a->updateRank < b->updateRank; });
    // Every value is bound, so a quote in a setting is stored as typed. The
    // account block has always been written without blanks around "=".
    QStringList assignments;
    for (const SettingField *f : order)
        assignments << QLatin1String(f->column) + QLatin1String(f->updateRank <= 12 ? "=?" : " = ?");
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE settings SET ") + assignments.join(QStringLiteral(", "))
                  + QStringLiteral(" WHERE id=1"));
    for (const SettingField *f : order)
        query.addBindValue(f->storedValue(w));
    if (query.exec())
        return true;
    if (error)
        *error = query.lastError().text();
    return false;
}

void SettingsStore::dump(const AccountSettings &w)
{
    for (const SettingField &f : fields()) {
        if (f.option & SettingField::Secret)
            qDebug() << f.column << "***"; // the password never reaches the log
        else
            std::visit([&](auto m) { qDebug() << f.column << w.*m; }, f.member);
    }
}
