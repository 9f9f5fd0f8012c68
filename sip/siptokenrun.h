#ifndef SIPTOKENRUN_H
#define SIPTOKENRUN_H

// A token the header parsers collect from a value. While its characters are
// contiguous in the value it is only a span: collecting costs nothing and
// taking it costs one copy. A character skipped inside it (a dropped CR, a
// blank) makes it fall back to a buffer of its own.

#include <QString>
#include <QStringView>

class SipTokenRun
{
public:
    explicit SipTokenRun(const QString &text) : text(text.constData()) {}

    // Starts empty with an end no position can meet, so the common case, the
    // next character of the span, is one comparison.
    void add(int pos)
    {
        if (Q_LIKELY(start + length == pos))
            ++length;
        else
            addApart(pos);
    }

    QStringView view() const
    {
        return spilled ? QStringView(spill) : QStringView(length ? text + start : text, length);
    }

    // As the parsers' takeToken: an empty token gives an empty, not a null, string.
    QString take()
    {
        QString taken = spilled ? spill : QString(length ? text + start : text, length);
        clear();
        return taken;
    }

    // The entry of `names` equal to `token`, or null.
    template <int N>
    static const QString *find(QStringView token, const QString (&names)[N])
    {
        for (const QString &known : names) {
            if (QStringView(known) == token)
                return &known;
        }
        return nullptr;
    }

    // A token equal to one of `common` shares that string instead of copying.
    template <int N>
    QString takeShared(const QString (&common)[N])
    {
        if (const QString *known = find(view(), common)) {
            clear();
            return *known;
        }
        return take();
    }

    void clear()
    {
        start = -2;
        length = 0;
        if (spilled) {
            spill = QString();
            spilled = false;
        }
    }

private:
    Q_NEVER_INLINE void addApart(int pos)
    {
        if (spilled) {
            spill += text[pos];
        } else if (length == 0) {
            start = pos;
            length = 1;
        } else {
            spill = QString(text + start, length);
            spill += text[pos];
            spilled = true;
            // no position meets this end again: every later character comes here
            start = -2;
            length = 0;
        }
    }

    const QChar *text;
    int start = -2;
    int length = 0;
    QString spill;
    bool spilled = false;
};

#endif // SIPTOKENRUN_H
