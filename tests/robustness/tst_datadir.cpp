// A read-only or full data directory shows the database-error box and the phone runs on; a directory
// that fills up while running loses the call rows quietly.
#include "boxwatcher.h"
#include "mainwindow.h"
#include "siptestserver.h"
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

class TstDataDir : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unusable_data();
    void unusable();
    void fillsUpWhileRunning();
    void cleanup();

private:
    // A small tmpfs of our own at `path`, in this test's mount namespace.
    static bool mountTmpfs(const QString &path, const QByteArray &options, unsigned long flags = 0);
    static void fill(const QString &dir);
    static QString dataDir(const QString &home) { return home + "/.qttest/share/sorvanto"; }
    static bool registersWith(MainWindow &w, SipTestServer &server);

    QTemporaryDir m_root;
    QStringList m_mounts;
};

void TstDataDir::initTestCase()
{
    // Mounts stay in a namespace of this thread (where the phone's files are
    // opened) and vanish with the process.
    QVERIFY2(unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0,
             "a private mount namespace needs root (CAP_SYS_ADMIN)");
    QVERIFY(m_root.isValid());
    // Test-mode paths live under HOME, which each case points at its mount.
    QStandardPaths::setTestModeEnabled(true);
}

void TstDataDir::cleanup()
{
    while (!m_mounts.isEmpty())
        umount2(QFile::encodeName(m_mounts.takeLast()).constData(), MNT_DETACH);
}

bool TstDataDir::mountTmpfs(const QString &path, const QByteArray &options, unsigned long flags)
{
    QDir().mkpath(path);
    return mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", flags, options.constData()) == 0;
}

void TstDataDir::fill(const QString &dir)
{
    // Inodes first, then blocks, until the file system refuses both.
    for (int i = 0; i < 100000; ++i) {
        const int fd = open(QFile::encodeName(dir + "/inode" + QString::number(i)).constData(), O_CREAT | O_WRONLY, 0600);
        if (fd < 0)
            break;
        close(fd);
    }
    QFile filler(dir + "/inode0");
    if (filler.open(QIODevice::WriteOnly)) {
        const QByteArray block(4096, 'x');
        for (int i = 0; i < 100000 && filler.write(block) == block.size() && filler.flush(); ++i) {
        }
    }
}

bool TstDataDir::registersWith(MainWindow &w, SipTestServer &server)
{
    w.sipServerIp = "127.0.0.2";
    w.sipServerPort = QString::number(server.port());
    w.user = w.login = "100";
    w.password = "pw";
    w.STUN.clear();
    w.updateSettingsDB(); // fails quietly where there is no file
    w.show();
    return server.waitFor(1, 10000) && server.last().startsWith("REGISTER sip:");
}

void TstDataDir::unusable_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("full");
    QTest::newRow("read-only") << QByteArray("size=1m,mode=0755") << true << false;
    QTest::newRow("full") << QByteArray("size=64k,nr_inodes=64,mode=0755") << false << true;
}

void TstDataDir::unusable()
{
    QFETCH(QByteArray, options);
    QFETCH(bool, readOnly);
    QFETCH(bool, full);
    const QString home = m_root.path() + "/" + QTest::currentDataTag();
    QVERIFY(mountTmpfs(home, options, readOnly ? MS_RDONLY : 0));
    m_mounts << home;
    if (full) {
        QDir().mkpath(dataDir(home));
        fill(dataDir(home));
    }
    qputenv("HOME", QFile::encodeName(home));

    SipTestServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.2"), SipTestServer::freePort()));
    BoxWatcher boxes;
    MainWindow w;
    QCOMPARE(boxes.titles, QStringList{"Database Error"});
    QCOMPARE(boxes.texts, QStringList{"Error open sorvanto.dat"});
    QVERIFY(registersWith(w, server));

    // A call ends: its row goes nowhere and nothing else breaks.
    w.called = "200";
    w.info = "Out";
    w.audioStopSlot();
    QCOMPARE(boxes.titles.size(), 1);
    server.clear();
    w.timerRegisterExpiredSlot();
    QVERIFY(server.waitFor(1, 10000));
}

void TstDataDir::fillsUpWhileRunning()
{
    const QString home = m_root.path() + "/fills";
    QVERIFY(mountTmpfs(home, "size=512k,mode=0755"));
    m_mounts << home;
    qputenv("HOME", QFile::encodeName(home));

    SipTestServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.2"), SipTestServer::freePort()));
    BoxWatcher boxes;
    MainWindow w;
    QVERIFY(boxes.titles.isEmpty());
    QCOMPARE(w.applicationFilePath, dataDir(home));
    QVERIFY(registersWith(w, server));

    fill(w.applicationFilePath);
    for (int call = 0; call < 3; ++call) {
        w.called = QString::number(200 + call);
        w.info = "Out";
        w.audioStopSlot();
    }
    QVERIFY(boxes.titles.isEmpty());
    server.clear();
    w.timerRegisterExpiredSlot();
    QVERIFY(server.waitFor(1, 10000));
}

SORVANTO_TEST_MAIN(TstDataDir)
#include "tst_datadir.moc"
