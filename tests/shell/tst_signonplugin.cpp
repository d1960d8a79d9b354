// The stand-in sign-on plug-in reads only the user's own state file: nothing
// another user puts at its name can log the client on or off or hold it up.

#include "PlantedObject.h"
#include "TestRoot.h"

#include <QtTest>

#include <dlfcn.h>

class TestSignOnPlugin : public QObject
{
    Q_OBJECT

private slots:
    void stateFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("answer"); // result and name
        QTest::newRow("the user's own file") << "file" << false << 0600 << "0 bob";
        QTest::newRow("writable by all") << "file" << false << 0666 << "2 ";
        QTest::newRow("another user's file") << "file" << true << 0644 << "2 ";
        QTest::newRow("FIFO") << "fifo" << false << 0666 << "2 ";
        QTest::newRow("link to the user's file") << "link" << false << 0600 << "2 ";
    }

    void stateFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, foreign);
        QFETCH(int, mode);
        QFETCH(QString, answer);
        if (foreign && geteuid() != 0)
            QSKIP("planting another user's object needs root (chown to nobody)");
        TestRoot root(QStringLiteral("bob"));
        qunsetenv("ORIX_SIGNON_STATE");
        // The shared name that every user could write is not read at all; the
        // default name is the user's own.
        const QString shared = root.varTmp() + "/ifclient-signon";
        QVERIFY(PlantedObject::plant(shared, "file", geteuid() == 0, "login mallory\n"));
        chmod(QFile::encodeName(shared).constData(), 0666);
        const QString path = root.varTmp() + "/ifclient-signon-bob";
        const QString own = root.home() + "/signon";
        QVERIFY(PlantedObject::plant(own, "file", false, "login bob\n"));
        QVERIFY(PlantedObject::plant(path, kind, foreign, "login bob\n", own));
        chmod(QFile::encodeName(kind == "link" ? own : path).constData(), mode_t(mode));

        void* plugin = dlopen(ORIX_IFCLIENT_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(plugin, dlerror());
        using Init = void* (*)(const char*);
        using Check = int (*)(int, char*, char*);
        using Free = void (*)(void*);
        void* context = reinterpret_cast<Init>(dlsym(plugin, "SyncInit"))("Server=127.0.0.1;");
        char server[256] = "", name[256] = "";
        const int result =
            reinterpret_cast<Check>(dlsym(plugin, "SyncCheckLogin"))(0, server, name);
        reinterpret_cast<Free>(dlsym(plugin, "SyncFree"))(context);
        QCOMPARE(QString::number(result) + " " + name, answer);
    }
};

QTEST_GUILESS_MAIN(TestSignOnPlugin)
#include "tst_signonplugin.moc"
