#include "ConfigKeys.h"
#include "support/HelperProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

using namespace velk;

// Runs the real client from a folder of its own, since it keeps config.ini
// and logs/ beside its executable.
class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void firstStartWritesDefaultsAndARunLog() {
        const QString dir = test::freshDir(QStringLiteral("client"));
        const QString exe = dir + QStringLiteral("/velk-client");
        QVERIFY(QFile::copy(QStringLiteral(VELK_CLIENT_PATH), exe));

        QProcess client;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(QProcess::MergedChannels);
        test::endWithTest(client);
        client.start(exe, {});
        QVERIFY(client.waitForStarted());

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
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
