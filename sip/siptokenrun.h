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

    void add(int pos)
    {
        if (spilled) {
            spill += text[pos];
        } else if (length == 0) {
            start = pos;
            length = 1;
        } else if (start + length == pos) {
            ++length;
        } else {
            spill = QString(text + start, length);
            spill += text[pos];
            spilled = true;
        }
    }

    QStringView view() const { return spilled ? QStringView(spill) : QStringView(text + start, length); }

    // As the parsers' takeToken: an empty token gives an empty, not a null, string.
    QString take()
    {
        QString taken = spilled ? spill : QString(text + start, length);
        clear();
        return taken;
    }

    void clear()
    {
        length = 0;
        if (spilled) {
            spill = QString();
            spilled = false;
        }
    }

private:
    const QChar *text;
    int start = 0;
    int length = 0;
    QString spill;
    bool spilled = false;
};

#endif // SIPTOKENRUN_H
