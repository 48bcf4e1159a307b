#include "ConfigKeys.h"
#include "InstanceLock.h"
#include "support/HelperProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

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
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(logs).entryList({QStringLiteral("*.log")}, QDir::Files).isEmpty(), 30000);
        const QString logPath = logs + QLatin1Char('/') + QDir(logs).entryList({QStringLiteral("*.log")}).first();
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
        const QRegularExpression started(QStringLiteral(
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
        const QString refusal =
            QStringLiteral("客户端已在运行（同一文件夹中已有一个客户端正在使用 config.ini）。");
        {
            const InstanceLock first = lockApplicationFolder(dir);
            QVERIFY(first.lock && first.refusal.isEmpty());
            const InstanceLock second = lockApplicationFolder(dir);
            QVERIFY(!second.lock);
            QCOMPARE(second.refusal, refusal);
        }
        // A run that ended let go of the folder.
        QVERIFY(lockApplicationFolder(dir).lock);

        QProcess first;
        startClient(dir, first);
        QString firstSaid;
        QTRY_VERIFY_WITH_TIMEOUT((firstSaid += QString::fromUtf8(first.readAll()))
                                     .contains(QStringLiteral("Starting velk-client")),
                                 30000);
        const QStringList before = filesBelow(dir);
        QVERIFY(before.contains(InstanceLockFileName));
        QCOMPARE(lockApplicationFolder(dir).refusal, refusal);

        // The second client says so and writes nothing; its box waits for a
        // click, so the test ends it.
        QProcess second;
        startClient(dir, second);
        QString secondSaid;
        QTRY_VERIFY_WITH_TIMEOUT((secondSaid += QString::fromUtf8(second.readAll())).contains(refusal),
                                 30000);
        QCOMPARE(filesBelow(dir), before);
        second.kill();
        QVERIFY(second.waitForFinished());

        // A client that died leaves its lock file behind, to be taken over.
        first.kill();
        QVERIFY(first.waitForFinished());
        QVERIFY(QFile::exists(dir + u'/' + InstanceLockFileName));
        QVERIFY(lockApplicationFolder(dir).lock);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
