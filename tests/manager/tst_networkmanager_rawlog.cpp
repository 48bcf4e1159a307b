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

#include <sys/stat.h>

using velk::AppConfig;
using velk::manager::NetworkManager;
namespace ConfigKeys = velk::ConfigKeys;

namespace {

QString networkDir() {
    return velk::test::appDir() + QStringLiteral("/logs/network");
}

QStringList logFiles() {
    return QDir(networkDir()).entryList(QDir::Files | QDir::System, QDir::Name);
}

void writeFile(const QString& name, const QDateTime& modified) {
    QFile file(QDir(networkDir()).filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write("x");
    file.flush();
    file.setFileTime(modified, QFileDevice::FileModificationTime);
}

// `count` old logs of earlier sessions, the oldest first, each a minute older
// than the next; every other one a continuation ("-2") of a full log. Their
// times are kept apart from their names, which count for nothing.
QStringList makeOldFiles(int count) {
    QDir().mkpath(networkDir());
    QStringList names;
    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-1);
    for (int i = 0; i < count; ++i) {
        const QString stamp = base.addSecs(-60 * i).toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
        const QString name =
            QStringLiteral("network-%1%2.log").arg(stamp, i % 2 ? QStringLiteral("-2") : QString());
        writeFile(name, base.addSecs(60 * i));
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
        // Anything else in the folder is the user's, however old, and a link
        // named as a log is not one the client made.
        const QDateTime ancient = QDateTime::currentDateTimeUtc().addYears(-1);
        const QStringList users{QStringLiteral("mynotes-9.txt"), QStringLiteral("my-notes.txt"),
                                QStringLiteral("checkride-keep.log"), QStringLiteral("network-notes.log"),
                                QStringLiteral("network-2020-01-01_00-00-00-1.log")};
        for (const QString& name : users) {
            writeFile(name, ancient);
        }
        const QString linked =
            velk::test::freshDir(QStringLiteral("rawlog-user")) + QStringLiteral("/report.odt");
        writeFile(linked, ancient);
        QVERIFY(QFile::link(linked, networkDir() + QStringLiteral("/network-2020-01-01_00-00-00.log")));
        NetworkManager nm;
        QStringList files = logFiles();
        for (const QString& name : users + QStringList{QStringLiteral("network-2020-01-01_00-00-00.log")}) {
            QVERIFY2(files.removeOne(name), qPrintable(name));
        }
        QVERIFY(QFile::exists(linked));
        QCOMPARE(files.size(), existing - deleted + 1);
        for (int i = 0; i < existing; ++i) {
            QCOMPARE(files.contains(old.at(i)), i >= deleted);
        }
        // Named after the UTC time of construction.
        const QRegularExpression name(
            QStringLiteral("^network-\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.log$"));
        QVERIFY(name.match(QFileInfo(nm.rawLogFilePath()).fileName()).hasMatch());
    }

    // A clock set back leaves logs dated later than now: they are older than
    // the last session's, which the next one keeps.
    void logsDatedLaterThanNowAreTheOldest() {
        QDir().mkpath(networkDir());
        const QDateTime ahead = QDateTime::currentDateTimeUtc().addYears(4);
        for (int i = 0; i < 10; ++i) {
            writeFile(QStringLiteral("network-2030-01-01_00-00-%1.log").arg(i, 2, 10, QLatin1Char('0')),
                      ahead.addSecs(i));
        }
        QString last;
        {
            NetworkManager first;
            emit first.fsdClient()->raiseRawDataReceived(QStringLiteral("#TMSERVER:ABC123:hello\r\n"));
            last = first.rawLogFilePath();
        }
        const NetworkManager second;
        QVERIFY(readAll(last).contains("hello"));
        const QStringList files = logFiles();
        QCOMPARE(files.size(), 10);
        QVERIFY(!files.contains(QStringLiteral("network-2030-01-01_00-00-01.log")));
        QVERIFY(files.contains(QStringLiteral("network-2030-01-01_00-00-02.log")));
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

    // A log name already taken by something the client did not make (a link
    // leading elsewhere, a FIFO) is passed over, never written through or
    // waited on.
    void aTakenLogNameIsPassedOver() {
        QDir().mkpath(networkDir());
        const QString elsewhere = velk::test::freshDir(QStringLiteral("rawlog-elsewhere"));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QStringList targets;
        for (int s = -1; s <= 5; ++s) {
            const QString base = networkDir() + QStringLiteral("/network-") +
                                 now.addSecs(s).toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
            targets << elsewhere + QStringLiteral("/%1.log").arg(s + 1);
            QVERIFY(QFile::link(targets.last(), base + QStringLiteral(".log")));
            QCOMPARE(::mkfifo(QFile::encodeName(base + QStringLiteral("-2.log")).constData(), 0600), 0);
        }
        NetworkManager nm;
        QVERIFY2(nm.rawLogFilePath().endsWith(QStringLiteral("-3.log")), qPrintable(nm.rawLogFilePath()));
        emit nm.fsdClient()->raiseRawDataReceived(QStringLiteral("#TMSERVER:ABC123:hello\r\n"));
        nm.flushLogTimer();
        QVERIFY(readAll(nm.rawLogFilePath()).contains("hello"));
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
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
