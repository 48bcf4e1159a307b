// The raw packet log under logs/network: retention, masking of the login
// secret, the size cap and never overwriting another session's log.
#include "AppConfig.h"
#include "manager/NetworkManager.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using velk::AppConfig;
using velk::manager::NetworkManager;
namespace ConfigKeys = velk::ConfigKeys;

namespace {

QString networkDir() {
    return velk::test::appDir() + QStringLiteral("/logs/network");
}

QStringList logFiles() {
    return QDir(networkDir()).entryList(QDir::Files, QDir::Name);
}

// `count` old files, the oldest first, each a minute older than the next.
QStringList makeOldFiles(int count) {
    QDir().mkpath(networkDir());
    QStringList names;
    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-1);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("old-%1.log").arg(i, 2, 10, QLatin1Char('0'));
        QFile file(networkDir() + QLatin1Char('/') + name);
        file.open(QIODevice::WriteOnly);
        file.write("x");
        file.flush();
        file.setFileTime(base.addSecs(60 * i), QFileDevice::FileModificationTime);
        file.close();
        names << name;
    }
    return names;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

class TestNetworkManagerRawLog : public QObject {
    Q_OBJECT

private slots:
    void init() { QDir(networkDir()).removeRecursively(); }

    void retentionLeavesTheTenNewestFiles_data() {
        QTest::addColumn<int>("existing");
        QTest::addColumn<int>("deleted");
        QTest::newRow("nine") << 9 << 0;
        QTest::newRow("ten") << 10 << 1;
        QTest::newRow("twelve") << 12 << 3;
    }

    void retentionLeavesTheTenNewestFiles() {
        QFETCH(int, existing);
        QFETCH(int, deleted);
        const QStringList old = makeOldFiles(existing);
        NetworkManager nm;
        const QStringList files = logFiles();
        QCOMPARE(files.size(), existing - deleted + 1);
        for (int i = 0; i < existing; ++i) {
            QCOMPARE(files.contains(old.at(i)), i >= deleted);
        }
        // Named after the UTC time of construction.
        const QRegularExpression name(
            QStringLiteral("^network-\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.log$"));
        QVERIFY(name.match(QFileInfo(nm.rawLogFilePath()).fileName()).hasMatch());
    }

    // Without a password a login line is written as it went out.
    void entriesCarryDirectionAndOneLineEnd() {
        AppConfig::instance()->setValue(ConfigKeys::AuthPassword, QString());
        NetworkManager nm;
        emit nm.fsdClient()->raiseRawDataSent(QStringLiteral("$CQABC123:SERVER:IP\r\n"));
        emit nm.fsdClient()->raiseRawDataReceived(QStringLiteral("$CRSERVER:ABC123:IP:127.0.0.1\r\n"));
        emit nm.fsdClient()->raiseRawDataSent(QStringLiteral("#APABC123:SERVER:1234567::1:9:5:X\r\n"));
        nm.flushLogTimer();
        const QList<QByteArray> lines = readAll(nm.rawLogFilePath()).split('\n');
        QCOMPARE(lines.size(), 4);
        const QRegularExpression entry(
            QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] (>>>|<<<) [^\\r]*\\r$"));
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(entry.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
        }
        QVERIFY(lines.at(0).endsWith(" >>> $CQABC123:SERVER:IP\r"));
        QVERIFY(lines.at(1).endsWith(" <<< $CRSERVER:ABC123:IP:127.0.0.1\r"));
        QVERIFY(lines.at(2).endsWith(" >>> #APABC123:SERVER:1234567::1:9:5:X\r"));
    }

    void loginSecretsNeverReachTheFile() {
        AppConfig::instance()->setValue(ConfigKeys::AuthPassword, QStringLiteral("s3cret"));
        NetworkManager nm;
        emit nm.fsdClient()->raiseRawDataSent(
            QStringLiteral("#APABC123:SERVER:1234567:s3cret:1:9:5:s3cret ZSSS\r\n"));
        emit nm.fsdClient()->raiseRawDataSent(
            QStringLiteral("#aaABC_OBS:SERVER:Name:1234567:s3cret:1:9\r\n"));
        emit nm.fsdClient()->raiseRawDataReceived(
            QStringLiteral("#APABC123:SERVER:1234567:s3cret:1:9:5:X\r\n"));
        nm.flushLogTimer();
        const QByteArray text = readAll(nm.rawLogFilePath());
        QVERIFY(!text.contains("s3cret"));
        QCOMPARE(text.count("******"), 4);
        AppConfig::instance()->setValue(ConfigKeys::AuthPassword, QString());
    }

    void aSecondSessionManagerNeverOverwritesTheFirstOnesLog() {
        NetworkManager first;
        emit first.fsdClient()->raiseRawDataReceived(QStringLiteral("#TMSERVER:ABC123:hello\r\n"));
        first.flushLogTimer();
        NetworkManager second;
        QVERIFY(first.rawLogFilePath() != second.rawLogFilePath());
        QVERIFY(readAll(first.rawLogFilePath()).contains("hello"));
    }

    void aFullFileIsContinuedInANewOne() {
        NetworkManager nm;
        nm.setRawLogSizeLimit(300);
        const QString firstPath = nm.rawLogFilePath();
        const QString line = QStringLiteral("#TMSERVER:ABC123:") + QString(50, QLatin1Char('x')) + "\r\n";
        for (int i = 0; i < 5; ++i) {
            emit nm.fsdClient()->raiseRawDataReceived(line);
        }
        nm.flushLogTimer();
        QVERIFY(nm.rawLogFilePath() != firstPath);
        QVERIFY(QFileInfo(firstPath).size() <= 300);
        QVERIFY(QFileInfo(firstPath).size() > 0);
        QVERIFY(QFileInfo(nm.rawLogFilePath()).size() > 0);
        for (int i = 0; i < 60; ++i) {
            emit nm.fsdClient()->raiseRawDataReceived(line);
        }
        QVERIFY(logFiles().size() <= 10);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerRawLog)
#include "tst_networkmanager_rawlog.moc"
