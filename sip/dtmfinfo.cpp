#include "dtmfinfo.h"

#include "telephoneevent.h"

namespace {

// "5", "*", "a", or an event number "0".."15" as some gateways write it.
QChar keyOf(QStringRef text)
{
    text = text.trimmed();
    if (text.size() == 1 && telephoneEventOf(text.at(0)) >= 0)
        return text.at(0).toUpper();
    bool ok = false;
    const int event = text.size() == 2 ? text.toInt(&ok) : -1;
    return ok ? telephoneEventDigit(event) : QChar();
}

} // namespace

QChar dtmfInfoDigit(const QString &contentType, const QString &body)
{
    // A key is a few bytes; nothing longer is read.
    if (body.size() > 1024)
        return QChar();
    const QString type = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (type == QLatin1String("application/dtmf"))
        return keyOf(QStringRef(&body));
    if (type != QLatin1String("application/dtmf-relay"))
        return QChar();
    for (const QStringRef &line : body.splitRef(QLatin1Char('\n'))) {
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed().compare(QLatin1String("Signal"), Qt::CaseInsensitive) == 0)
            return keyOf(line.mid(eq + 1));
    }
    return QChar();
}
