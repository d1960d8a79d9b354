// What the print settings dialog remembers per server and user, and where.

#include "ChoiceMemory.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace
{

int fileMode(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class tst_ChoiceMemory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path() + "/config/OrixClient"; }

private slots:
    void init() { QDir(m_dir.path() + "/config").removeRecursively(); }

    // Each server and user has its own choices; nothing is there before a confirmation; the
    // folder is private and the file the user's alone.
    void perServerAndUser()
    {
        ChoiceMemory memory(folder());
        QVERIFY(memory.recall("10.0.0.1:8085", "alice").isEmpty());
        QVERIFY(!QFileInfo::exists(folder()));

        RememberedChoice a;
        a.Printer = "HP-2楼";
        a.Purpose = "归还";
        a.Auditors[0] = 11;
        a.Auditors[1] = 12;
        a.HasProject = true;
        a.ProjectId = 202;
        QVERIFY(memory.remember("10.0.0.1:8085", "alice", a));
        RememberedChoice b;
        b.Printer = "刷卡打印";
        QVERIFY(memory.remember("10.0.0.2:8085", "alice", b));
        QCOMPARE(fileMode(folder()), 0700);
        QCOMPARE(fileMode(folder() + "/choices.json"), 0600);

        const RememberedChoice got = ChoiceMemory(folder()).recall("10.0.0.1:8085", "alice");
        QCOMPARE(got.Printer, a.Printer);
        QCOMPARE(got.Purpose, a.Purpose);
        QCOMPARE(got.Auditors[0], 11);
        QCOMPARE(got.Auditors[1], 12);
        QCOMPARE(got.Auditors[2], 0);
        QVERIFY(got.HasProject);
        QCOMPARE(got.ProjectId, 202);
        const RememberedChoice other = memory.recall("10.0.0.2:8085", "alice");
        QCOMPARE(other.Printer, QString("刷卡打印"));
        QVERIFY(!other.HasProject);
        QVERIFY(memory.recall("10.0.0.1:8085", "bob").isEmpty());
    }

    // A broken, foreign-writable or linked file counts as nothing remembered.
    void unreadable()
    {
        ChoiceMemory memory(folder());
        RememberedChoice a;
        a.Printer = "P1";
        QVERIFY(memory.remember("s", "u", a));
        const QString file = folder() + "/choices.json";

        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadOther | QFile::WriteOther));
        QVERIFY(memory.recall("s", "u").isEmpty());

        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::link(m_dir.path() + "/elsewhere.json", file));
        QFile target(m_dir.path() + "/elsewhere.json");
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write(R"({"u@s":{"printer":"P9"}})");
        target.close();
        QVERIFY(memory.recall("s", "u").isEmpty());

        QVERIFY(QFile::remove(file));
        QFile broken(file);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"u@s\": {\"printer\": ");
        broken.close();
        QVERIFY(memory.recall("s", "u").isEmpty());
        QVERIFY(memory.remember("s", "u", a)); // replaced at the next confirmation
        QCOMPARE(memory.recall("s", "u").Printer, QString("P1"));
    }

    void preferredIndex()
    {
        const QStringList items{"刷卡打印", "P1", "P2"};
        QCOMPARE(PreferredIndex(items, "P2", 0), 2);
        QCOMPARE(PreferredIndex(items, "P3", 0), 0); // no longer offered: the default
        QCOMPARE(PreferredIndex(items, "", 1), 1);
    }
};

QTEST_GUILESS_MAIN(tst_ChoiceMemory)
#include "tst_choicememory.moc"
