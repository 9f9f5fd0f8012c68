#ifndef FIXTURETABLE_H
#define FIXTURETABLE_H

// Rows of a data-driven test from a file under tests/data. Lines starting with "#" are comments; the
// first other line names the columns ("case | column | ..."), every further line is one row, its cells
// split at " | ", all of them strings. "$name = text" defines text that "$name" then stands for. In a
// cell "{N*text}" is text N times, and \r \n \t \\ and \uXXXX are escapes.

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QtTest>

inline QString fixtureCell(QString cell)
{
    static const QRegularExpression repeat(QStringLiteral("\\{(\\d+)\\*([^}]*)\\}"));
    for (QRegularExpressionMatch m = repeat.match(cell); m.hasMatch(); m = repeat.match(cell))
        cell.replace(m.capturedStart(), m.capturedLength(), m.captured(2).repeated(m.captured(1).toInt()));
    const QMap<QChar, QChar> escapes{{'r', '\r'}, {'n', '\n'}, {'t', '\t'}};
    QString out;
    for (int i = 0; i < cell.size(); ++i) {
        if (cell.at(i) != '\\' || i + 1 == cell.size())
            out += cell.at(i);
        else if (cell.at(++i) == 'u')
            out += QChar(cell.midRef(i + 1, 4).toUShort(nullptr, 16)), i += 4;
        else
            out += escapes.value(cell.at(i), cell.at(i));
    }
    return out;
}

// `name` is relative to tests/data, e.g. "sip/uris.txt".
inline void fixtureRows(const QString &name)
{
    QFile file(QFINDTESTDATA("../data/" + name));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable("no fixture " + name));
    QMap<QString, QString> vars;
    static QList<QByteArray> columns; // the table keeps only pointers to their names
    const int first = columns.size();
    for (QString line : QString::fromUtf8(file.readAll()).split('\n')) {
        for (auto v = vars.constEnd(); v != vars.constBegin();) { // longer names before their prefixes
            --v;
            line.replace(v.key(), v.value());
        }
        if (line.startsWith('$'))
            vars.insert(line.section(" = ", 0, 0), line.section(" = ", 1));
        if (line.trimmed().isEmpty() || line.startsWith('#') || line.startsWith('$'))
            continue;
        QStringList cells = (line + ' ').split(QStringLiteral(" | "));
        cells.last().chop(1);
        if (columns.size() == first) {
            for (const QString &column : cells.mid(1))
                QTest::addColumn<QString>((columns << column.toUtf8()).last().constData());
            continue;
        }
        QVERIFY2(cells.size() - 1 == columns.size() - first, qPrintable(name + ": " + line));
        QTestData &row = QTest::newRow(qPrintable(cells.first()));
        for (const QString &cell : cells.mid(1))
            row << fixtureCell(cell);
    }
}

// The current row's text in `column`, where a test reads it once.
inline QString cell(const char *column) { return *static_cast<QString *>(QTest::qData(column, QMetaType::QString)); }

#endif // FIXTURETABLE_H
