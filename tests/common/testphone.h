#ifndef TESTPHONE_H
#define TESTPHONE_H

// A main window for GUI tests: fresh database in the test-mode data directory,
// no STUN server, and the account given. Widgets are reached by object name.

#include <QString>
#include <QWidget>

class MainWindow;
class SipTestServer;

class TestPhone
{
public:
    // Builds the window; `server` empty means no account (nothing is registered).
    static MainWindow *create(const QString &server = QString(), const QString &port = QStringLiteral("5060"),
                              const QString &user = QString(), const QString &password = QString());
    // Account 100 on 127.0.0.2:`port`, shown, with `server` listening there;
    // returns once its first REGISTER has arrived (null if none came).
    static MainWindow *registered(SipTestServer &server, quint16 port);

    template <class T> static T *widget(QWidget *window, const char *name)
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
};

#endif // TESTPHONE_H
