#ifndef TESTPHONE_H
#define TESTPHONE_H

// The whole phone for GUI tests: fresh database in the test-mode data
// directory, no STUN server, and the account given. Widgets are reached by
// object name.

#include <QString>
#include <QWidget>

class Application;

class TestPhone
{
public:
    // Builds the phone; `server` empty means no account (nothing is registered).
    static Application *create(const QString &server = QString(), const QString &port = QStringLiteral("5060"),
                               const QString &user = QString(), const QString &password = QString());

    template <class T> static T *widget(QWidget *window, const char *name)
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
};

#endif // TESTPHONE_H
