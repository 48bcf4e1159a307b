#include "AppConfig.h"
#include "ConfigKeys.h"
#include "InstanceLock.h"
#include "support/DataRows.h"
#include "support/HelperProcess.h"
#include "support/TestSupport.h"
#include "support/UnwritableFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>
#include <QTest>

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
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
        // SIGTERM quits as closing the window does.
        client.terminate();
        QVERIFY(client.waitForFinished(30000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        QVERIFY(readLog().contains(QStringLiteral("Quitting on signal 15")));

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
        // The user's copies of the settings, one named as an older client's
        // cut-short save was, and a FIFO: none of them is the client's.
        const QStringList userFiles{QStringLiteral("config.ini.backup"), QStringLiteral("config.ini.sample"),
                                    QStringLiteral("config.ini.Broken"), QStringLiteral("config.ini.QwErTy"),
                                    QStringLiteral("config.ini.AsDfGh/")};
        for (const QString& name : userFiles) {
            QFile file(dir + u'/' + name + (name.endsWith(u'/') ? QStringLiteral("inside") : QString()));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            file.write("[Auth]\nPassword=sealed\n");
        }
        const QByteArray userFifo = QFile::encodeName(dir + QStringLiteral("/config.ini.fifoxx"));
        QCOMPARE(::mkfifo(userFifo.constData(), 0600), 0);
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
        // removes nothing of the user's.
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
        for (const QString& name : userFiles) {
            QVERIFY2(QFile::exists(dir + u'/' + name), qPrintable(name));
        }
        struct stat st {};
        QVERIFY(::lstat(userFifo.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        one.kill();
        other.kill();
        QVERIFY(one.waitForFinished() && other.waitForFinished());
        QVERIFY(QFile::remove(link));
    }

    // A FIFO at config.ini (another program's) holds the client up neither
    // at start nor when it saves: the window comes, the log names the file,
    // and the FIFO stays.
    void aFifoAtConfigIniDoesNotStopTheClient() {
        const QString dir = test::freshDir(QStringLiteral("fifo"));
        const QString path = dir + QStringLiteral("/config.ini");
        const QByteArray native = QFile::encodeName(path);
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        QProcess client;
        startClient(dir, client);
        QString said;
        const bool started = test::waitUntil(
            [&] {
                return (said += QString::fromUtf8(client.readAll()))
                    .contains(QStringLiteral("Starting velk-client"));
            },
            30000);
        client.kill();
        QVERIFY(client.waitForFinished());
        // A client stuck in the FIFO's open: let it go, so that nothing is left.
        const int writer = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
        }
        QVERIFY2(started, qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("Cannot read the settings file ") + path), qPrintable(said));
        struct stat st {};
        QVERIFY(::lstat(native.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    }

    // Told once at start, and nothing of the folder changed: a folder where
    // nothing can be written, a config.ini with a line a save would not keep.
    void whatCannotBeKeptIsToldAtStart_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("told");
        const QString readOnly =
            QStringLiteral("无法写入 %1/config.ini（无法在它的文件夹里写文件：只读文件系统），本次运行的"
                           "设置更改不会保存。无法在 %1/logs 中写日志，本次运行没有日志。请把客户端"
                           "放到可以写入的文件夹中再启动。");
        QTest::newRow("read-only folder") << QByteArray() << true << readOnly;
        // Also when the file needs no write at start.
        const QString made = test::freshDir(QStringLiteral("whole"));
        { AppConfig config(made); }
        QFile whole(made + QStringLiteral("/config.ini"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QTest::newRow("read-only folder, a whole config.ini")
            << whole.readAll() << true
            << QStringLiteral(
                   "无法写入 %1/config.ini（只读文件系统），本次运行的设置更改不会保存。无法在 %1/logs "
                   "中写日志，本次运行没有日志。请把客户端放到可以写入的文件夹中再启动。");
        QTest::newRow("a line not kept")
            << QByteArray("[XPlane]\nCSL=D:\\X-Plane 12\\CSL\\\nNetworkAddress=192.168.1.50\n") << false
            << QStringLiteral("无法读取 %1/config.ini（第 2 行“CSL=D:\\X-Plane "
                              "12\\CSL\\”以反斜杠结尾，会和下一行连成一行"
                              "（反斜杠请写成 \\\\ 或 "
                              "/）），本次运行使用默认设置，不会保存。请修改或删除这一行后重新启动客户端。");
    }
    void whatCannotBeKeptIsToldAtStart() {
        QFETCH(QByteArray, config);
        QFETCH(bool, readOnly);
        QFETCH(QString, told);
        const QString dir = test::freshDir(QStringLiteral("told"));
        QVERIFY(QFile::copy(QStringLiteral(VELK_CLIENT_PATH), dir + QStringLiteral("/velk-client")));
        if (!config.isEmpty()) {
            QFile file(dir + QStringLiteral("/config.ini"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
        }
        std::optional<test::ReadOnlyFolder> unwritable;
        if (readOnly) {
            unwritable.emplace(dir);
            QVERIFY(unwritable->isSet());
        }
        const QStringList before = filesBelow(dir);
        QProcess client;
        startClient(dir, client);
        QString said;
        const bool toldOnce = test::waitUntil(
            [&] {
                return (said += QString::fromUtf8(client.readAll()))
                    .contains(QStringLiteral("Told at start:"));
            },
            30000);
        client.kill();
        QVERIFY(client.waitForFinished());
        QVERIFY2(toldOnce && said.contains(QStringLiteral("Told at start: ") + told.arg(dir)),
                 qPrintable(said));
        QCOMPARE(said.count(QStringLiteral("Told at start:")), 1);
        if (!config.isEmpty()) {
            QFile file(dir + QStringLiteral("/config.ini"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), config);
        }
        QCOMPARE(filesBelow(dir).filter(QStringLiteral("config.ini")),
                 before.filter(QStringLiteral("config.ini")));
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
        test::row("a FIFO in its place", QByteArray("fifo"), false, false);
    }
    void lockFileNoClientHoldsIsTakenOver() {
        QFETCH(QByteArray, content);
        QFETCH(bool, folder);
        QFETCH(bool, otherUser);
        const QString dir = test::freshDir(QStringLiteral("stale"));
        const QString path = dir + u'/' + InstanceLockFileName;
        const bool fifo = content == "fifo";
        if (folder) {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        } else if (fifo) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
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
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY(folder ? QFileInfo(path + QStringLiteral("/inside")).isDir()
                : fifo ? S_ISFIFO(st.st_mode)
                       : S_ISREG(st.st_mode));
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
