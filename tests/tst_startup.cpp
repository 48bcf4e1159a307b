#include "ConfigKeys.h"
#include "InstanceLock.h"
#include "support/DataRows.h"
#include "support/HelperProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>
#include <QTest>

#include <unistd.h>

using namespace velk;

namespace {

// Starts the client copied into `dir` (or already there) on the offscreen platform.
void startClient(const QString& dir, QProcess& client) {
    const QString exe = dir + QStringLiteral("/velk-client");
    QVERIFY(QFile::exists(exe) || QFile::copy(QStringLiteral(VELK_CLIENT_PATH), exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::MergedChannels);
    test::endWithTest(client);
    client.start(exe, {});
    QVERIFY(client.waitForStarted());
}

// Every file below `dir`, relative to it.
QStringList filesBelow(const QString& dir) {
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        out.append(QDir(dir).relativeFilePath(it.next()));
    }
    out.sort();
    return out;
}

const QString kRefusal = QStringLiteral("客户端已在运行（同一文件夹中已有一个客户端正在使用 config.ini）。");

} // namespace

// Runs the real client from a folder of its own, since it keeps config.ini
// and logs/ beside its executable.
class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void firstStartWritesDefaultsAndARunLog() {
        const QString dir = test::freshDir(QStringLiteral("client"));
        QProcess client;
        startClient(dir, client);

        const QString logs = dir + QStringLiteral("/logs");
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(logs).entryList({QStringLiteral("*.log")}, QDir::Files).isEmpty(),
                                 30000);
        const QString logPath =
            logs + QLatin1Char('/') + QDir(logs).entryList({QStringLiteral("*.log")}).first();
        const auto readLog = [&] {
            QFile f(logPath);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(readLog().contains(QStringLiteral("Starting velk-client")), 30000);
        client.terminate();
        client.waitForFinished(10000);

        QVERIFY(QRegularExpression(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\.log$)"))
                    .match(QFileInfo(logPath).fileName())
                    .hasMatch());
        const QRegularExpression started(
            QStringLiteral(
                R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \| INFO  \| main\.cpp:\d+ - Starting velk-client 1\.0\.0-beta\.0$)"),
            QRegularExpression::MultilineOption);
        const QString text = readLog();
        QVERIFY2(started.match(text).hasMatch(), qPrintable(text));

        QSettings ini(dir + QStringLiteral("/config.ini"), QSettings::IniFormat);
        for (const auto& key : ConfigKeys::all()) {
            QCOMPARE(ini.contains(key.name), key.storage != ConfigStorage::SessionOnly);
        }
    }

    void oneClientPerFolder() {
        const QString dir = test::freshDir(QStringLiteral("shared"));
        const QString link = test::appDir() + QStringLiteral("/shared-link");
        QFile::remove(link);
        QVERIFY(QFile::link(dir, link));
        {
            const InstanceLock first = lockApplicationFolder(dir);
            QVERIFY(first.lock && first.refusal.isEmpty());
            const InstanceLock second = lockApplicationFolder(dir);
            QVERIFY(!second.lock);
            QCOMPARE(second.refusal, kRefusal);
            // The same folder reached through a link.
            QCOMPARE(lockApplicationFolder(link).refusal, kRefusal);
        }
        // A run that ended let go of the folder.
        QVERIFY(lockApplicationFolder(dir).lock);

        QProcess first;
        startClient(dir, first);
        QString firstSaid;
        QTRY_VERIFY_WITH_TIMEOUT((firstSaid += QString::fromUtf8(first.readAll()))
                                     .contains(QStringLiteral("Starting velk-client")),
                                 30000);
        // What a save cut short by a kill leaves, and names that only look like it.
        const QString deadSave = dir + QStringLiteral("/config.ini.QwErTy");
        const QStringList lookalikes{QStringLiteral("config.ini.Qw3rTy"),
                                     QStringLiteral("config.ini.QwErTyU"),
                                     QStringLiteral("config.ini.AsDfGh/")};
        for (const QString& name : lookalikes + QStringList{QFileInfo(deadSave).fileName()}) {
            QFile file(dir + u'/' + name + (name.endsWith(u'/') ? QStringLiteral("inside") : QString()));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            file.write("[Auth]\nPassword=sealed\n");
        }
        const QStringList before = filesBelow(dir);
        QVERIFY(before.contains(InstanceLockFileName));
        QCOMPARE(lockApplicationFolder(dir).refusal, kRefusal);

        // The second client says so and writes nothing, nor removes what a
        // save of the running one may have under way; its box waits for a
        // click, so the test ends it.
        QProcess second;
        startClient(dir, second);
        QString secondSaid;
        QTRY_VERIFY_WITH_TIMEOUT((secondSaid += QString::fromUtf8(second.readAll())).contains(kRefusal),
                                 30000);
        QCOMPARE(filesBelow(dir), before);
        second.kill();
        QVERIFY(second.waitForFinished());

        // A client that died leaves its lock file behind, to be taken over.
        first.kill();
        QVERIFY(first.waitForFinished());
        QVERIFY(QFile::exists(dir + u'/' + InstanceLockFileName));

        // Of two started at once, one through the link, exactly one runs; it
        // removes the dead save's copy and nothing else.
        QProcess one;
        QProcess other;
        startClient(dir, one);
        startClient(link, other);
        QString oneSaid;
        QString otherSaid;
        const auto bothSpoke = [&] {
            oneSaid += QString::fromUtf8(one.readAll());
            otherSaid += QString::fromUtf8(other.readAll());
            const QString all = oneSaid + otherSaid;
            return all.contains(QStringLiteral("Starting velk-client")) && all.contains(kRefusal);
        };
        QTRY_VERIFY_WITH_TIMEOUT(bothSpoke(), 30000);
        QVERIFY2(oneSaid.contains(kRefusal) != otherSaid.contains(kRefusal), qPrintable(oneSaid + otherSaid));
        QVERIFY(!QFile::exists(deadSave));
        for (const QString& name : lookalikes) {
            QVERIFY2(QFile::exists(dir + u'/' + name), qPrintable(name));
        }
        one.kill();
        other.kill();
        QVERIFY(one.waitForFinished() && other.waitForFinished());
        QVERIFY(QFile::remove(link));
    }

    // Only a running client keeps another out: what the lock file holds, or
    // who owns it, decides nothing.
    void lockFileNoClientHoldsIsTakenOver_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("otherUser");
        const QByteArray here = QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                                QCoreApplication::applicationName().toUtf8() + '\n' +
                                QSysInfo::machineHostName().toUtf8() + '\n';
        test::row("empty: killed while writing it", QByteArray(), false, false);
        test::row("garbage", QByteArray("\x00\xff\xfe garbage", 12), false, false);
        test::row("another machine's", QByteArray("4242\nvelk-client\nother-host.example\n"), false, false);
        test::row("names this running process", here, false, false);
        test::row("another user's", QByteArray("1\n"), false, true);
        test::row("a folder in its place", QByteArray(), true, false);
    }
    void lockFileNoClientHoldsIsTakenOver() {
        QFETCH(QByteArray, content);
        QFETCH(bool, folder);
        QFETCH(bool, otherUser);
        const QString dir = test::freshDir(QStringLiteral("stale"));
        const QString path = dir + u'/' + InstanceLockFileName;
        if (folder) {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        if (otherUser) {
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        }
        const InstanceLock taken = lockApplicationFolder(dir);
        QVERIFY(taken.lock);
        QCOMPARE(taken.refusal, QString());
        QCOMPARE(lockApplicationFolder(dir).refusal, kRefusal);
        QVERIFY(folder ? QFileInfo(path + QStringLiteral("/inside")).isDir() : QFileInfo(path).isFile());
    }

    void lockThatCannotBeTakenNamesTheFile() {
        const QString dir = test::freshDir(QStringLiteral("unlockable"));
        const QString path = dir + u'/' + InstanceLockFileName;
        // A link that leads only to itself can be neither opened nor replaced.
        QVERIFY(QFile::link(path, path));
        const InstanceLock refused = lockApplicationFolder(dir);
        QVERIFY(!refused.lock);
        QVERIFY2(refused.refusal.contains(path), qPrintable(refused.refusal));
        // A folder where no lock file can be made does not keep the client out.
        const InstanceLock without = lockApplicationFolder(dir + QStringLiteral("/not-there"));
        QVERIFY(!without.lock);
        QCOMPARE(without.refusal, QString());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
