#include "Logger.h"
#include "common/Deployment.h"
#include "support/BoundedCall.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velk;

class TestLogger : public QObject {
    Q_OBJECT

private slots:
    void runLogIsNamedByUtcStartAndHoldsFormattedLines() {
        const QString dir = test::freshDir(QStringLiteral("logs-format"));
        const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
        const QString path = logging::install(dir, start);
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("2026-03-04_05-06-07.log"));
        qInfo() << "hello" << 42;
        qWarning("careful");
        logging::uninstall();

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        static const QRegularExpression shape(QStringLiteral(
            R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \| (INFO |WARN ) \| tst_logger\.cpp:\d+ - (.*)$)"));
        const auto first = shape.match(lines.at(0));
        QVERIFY2(first.hasMatch(), qPrintable(lines.at(0)));
        QCOMPARE(first.captured(1), QStringLiteral("INFO "));
        QCOMPARE(first.captured(2), QStringLiteral("hello 42"));
        const auto second = shape.match(lines.at(1));
        QVERIFY2(second.hasMatch(), qPrintable(lines.at(1)));
        QCOMPARE(second.captured(1), QStringLiteral("WARN "));
        QCOMPARE(second.captured(2), QStringLiteral("careful"));
    }

    void levelsAreFiveCharactersWide() {
        QMessageLogContext context("/a/b/source.cpp", 12, "f", "default");
        const QDateTime t(QDate(2026, 1, 2), QTime(3, 4, 5, 6));
        QCOMPARE(logging::formatLine(QtDebugMsg, context, QStringLiteral("m"), t),
                 QStringLiteral("2026-01-02 03:04:05.006 | DEBUG | source.cpp:12 - m"));
        QCOMPARE(logging::formatLine(QtCriticalMsg, context, QStringLiteral("m"), t),
                 QStringLiteral("2026-01-02 03:04:05.006 | ERROR | source.cpp:12 - m"));
        QCOMPARE(logging::formatLine(QtFatalMsg, context, QStringLiteral("m"), t),
                 QStringLiteral("2026-01-02 03:04:05.006 | FATAL | source.cpp:12 - m"));
    }

    void onlyTheTenNewestRunLogsRemain() {
        const QString dir = test::freshDir(QStringLiteral("logs-retention"));
        // Twelve runs' logs, the oldest second holding two of them.
        for (int i = 0; i < 12; ++i) {
            QFile f(QDir(dir).filePath(
                QStringLiteral("2025-01-%1_00-00-00.log").arg(i + 1, 2, 10, QLatin1Char('0'))));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFile continued(QDir(dir).filePath(QStringLiteral("2025-01-01_00-00-00-2.log")));
        QVERIFY(continued.open(QIODevice::WriteOnly));
        // The user's files, also ones whose names look like a run log's, and a
        // link named as one (to a file of the user's), are not the client's.
        const QString userFile = test::freshDir(QStringLiteral("logs-user")) + QStringLiteral("/mine.txt");
        QStringList others{QStringLiteral("notes.txt"), QStringLiteral("0-mine-x_y-z-w.log"),
                           QStringLiteral("2000-01-01_00-00-00.log.txt"),
                           QStringLiteral("x2000-01-01_00-00-00.log"),
                           QStringLiteral("2000-01-01_00-00-00-1.log")};
        for (const QString& name : others + QStringList{userFile}) {
            QFile f(name == userFile ? name : QDir(dir).filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(userFile, QDir(dir).filePath(QStringLiteral("2000-01-01_00-00-00.log"))));
        others << QStringLiteral("2000-01-01_00-00-00.log");
        logging::install(dir, QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
        logging::uninstall();
        QStringList left = QDir(dir).entryList(QDir::Files | QDir::System, QDir::Name);
        for (const QString& name : others) {
            QVERIFY2(left.removeOne(name), qPrintable(name));
        }
        QCOMPARE(left.size(), 10);
        QCOMPARE(left.first(), QStringLiteral("2025-01-04_00-00-00.log"));
        QCOMPARE(left.last(), QStringLiteral("2026-01-01_00-00-00.log"));
        QVERIFY(QFile::exists(userFile));
    }

    // A clock set back (or one that ran ahead) leaves ten logs with later
    // names: the run's own log still stays, and receives its lines, and so
    // does the run before it.
    void theRunsOwnLogIsNeverPruned() {
        const QString dir = test::freshDir(QStringLiteral("logs-clock-back"));
        for (int day = 1; day <= 10; ++day) {
            QFile f(QDir(dir).filePath(
                QStringLiteral("2030-01-%1_00-00-00.log").arg(day, 2, 10, QLatin1Char('0'))));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString path = logging::install(dir, QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
        qInfo("after the clock was set back");
        logging::uninstall();
        QFile log(path);
        QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(path));
        QVERIFY(log.readAll().contains("after the clock was set back"));
        QStringList left = QDir(dir).entryList(QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 10);
        QCOMPARE(left.first(), QStringLiteral("2026-01-01_00-00-00.log"));
        QCOMPARE(left.at(1), QStringLiteral("2030-01-02_00-00-00.log"));
        // The next run keeps that one too: logs named later than now are
        // older than it, whatever their names say.
        logging::install(dir, QDateTime(QDate(2026, 1, 2), QTime(0, 0), Qt::UTC));
        logging::uninstall();
        left = QDir(dir).entryList(QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 10);
        QCOMPARE(left.mid(0, 3), (QStringList{QStringLiteral("2026-01-01_00-00-00.log"),
                                              QStringLiteral("2026-01-02_00-00-00.log"),
                                              QStringLiteral("2030-01-03_00-00-00.log")}));
    }

    // A peer's text forges no line, colours no terminal and makes no binary
    // file, in the file and on stderr alike; the system's own lines pass as
    // they are. Nothing is dropped.
    void messagesStayOneLineWithControlsShownEscaped_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logged");
        QTest::newRow("forged line")
            << QStringLiteral("语音已断开：busy\n2026-01-01 00:00:00.000 | INFO  | x.cpp:1 - forged")
            << QStringLiteral("语音已断开：busy 2026-01-01 00:00:00.000 | INFO  | x.cpp:1 - forged");
        QTest::newRow("CR LF and Unicode breaks")
            << QStringLiteral("a\r\nb\u2028c\u2029d") << QStringLiteral("a  b c d");
        QTest::newRow("ESC colour") << QStringLiteral("\x1b[31mred\x1b[0m")
                                    << QStringLiteral(R"(\x1B[31mred\x1B[0m)");
        QTest::newRow("NUL, tab, DEL, NEL") << QString::fromUtf16(u"a\0b\tc\x7f\x85"
                                                                  u"d",
                                                                  8)
                                            << QStringLiteral(R"(a\x00b\x09c\x7F\x85d)");
        QTest::newRow("lone surrogate")
            << QString(QChar(0xD800)) + QStringLiteral("x") << QStringLiteral(R"(\uD800x)");
        // Left open, they reverse how the rest of the line reads, the system's
        // own words after the peer's text included.
        QTest::newRow("bidi embeddings, overrides, isolates")
            << QStringLiteral(
                   "equipment=\u202Eylno 0A3A airline=x \u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069")
            << QStringLiteral(
                   R"(equipment=\u202Eylno 0A3A airline=x \u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069)");
        // As the system writes them: a Windows path (a trailing backslash), a
        // value QDebug has already escaped, Chinese, right-to-left and emoji.
        for (const QString& own :
             {QStringLiteral(R"(CSL "D:\X-Plane 12\CSL\")"),
              QStringLiteral(R"(VoiceClient: server error: "a\nb\u001B")"),
              QStringLiteral("Forcibly disconnected from network: 已发送的数据 60 秒内未得到服务器确认"),
              QStringLiteral("שלום\u200F مرحبا ✈️ 🛫")}) {
            QTest::newRow(qPrintable(own.left(12))) << own << own;
        }
    }
    void messagesStayOneLineWithControlsShownEscaped() {
        QFETCH(QString, message);
        QFETCH(QString, logged);
        const QString dir = test::freshDir(QStringLiteral("logs-escaped"));
        const QString errPath = dir + QStringLiteral("/stderr.txt");
        const int saved = ::dup(STDERR_FILENO);
        const int err = ::open(QFile::encodeName(errPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(saved >= 0 && err >= 0);
        std::fflush(stderr);
        ::dup2(err, STDERR_FILENO);
        const QString path = logging::install(dir);
        qWarning().noquote() << message;
        logging::uninstall();
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(err);
        for (const QString& written : {path, errPath}) {
            QFile file(written);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY2(!bytes.contains('\0') && !bytes.contains('\x1b'), qPrintable(written));
            const QStringList lines = QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().endsWith(QStringLiteral(" - ") + logged), qPrintable(lines.first()));
        }
    }

    // A peer that floods the log cannot fill the disk: the file stops at its
    // limit with a line that says so.
    void aFullRunLogSaysSoAndTakesNoMore() {
        const QString dir = test::freshDir(QStringLiteral("logs-full"));
        const QString path = logging::install(dir, QDateTime::currentDateTimeUtc(), 10, 4096);
        for (int i = 0; i < 50; ++i) {
            qInfo("%d %s", i, QByteArray(100, 'x').constData());
        }
        logging::uninstall();
        QFile log(path);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(log.size() < 4096 + 400, qPrintable(QString::number(log.size())));
        QVERIFY(lines.last().endsWith(
            QStringLiteral(" - The run log has reached 4096 bytes: further lines go to stderr only")));
        QVERIFY(lines.at(lines.size() - 2).contains(QStringLiteral(" - %1 xxx").arg(lines.size() - 2)));
    }

    // A later run in the same second took a higher number: "-10" is newer
    // than "-9", and both than the second's first log.
    void runLogsOfOneSecondArePrunedOldestFirst() {
        const QString dir = test::freshDir(QStringLiteral("logs-one-second"));
        for (const QString& suffix : {QString(), QStringLiteral("-9"), QStringLiteral("-10")}) {
            QFile f(QDir(dir).filePath(QStringLiteral("2025-01-01_00-00-00%1.log").arg(suffix)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        logging::install(dir, QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC), 3);
        logging::uninstall();
        QCOMPARE(QDir(dir).entryList(QDir::Files, QDir::Name),
                 (QStringList{QStringLiteral("2025-01-01_00-00-00-10.log"),
                              QStringLiteral("2025-01-01_00-00-00-9.log"),
                              QStringLiteral("2026-01-01_00-00-00.log")}));
    }

    // Whatever already holds the run log's name (an earlier run's log from the
    // same second, another program's FIFO, a folder, a link) is neither
    // written to, through nor waited on: the run logs under the next free name.
    void aTakenRunLogNameGivesTheNextFreeOne_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("earlier run's log") << QStringLiteral("file");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("link") << QStringLiteral("link");
    }
    void aTakenRunLogNameGivesTheNextFreeOne() {
        QFETCH(QString, kind);
        const QString dir = test::freshDir(QStringLiteral("logs-taken"));
        const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
        const QString path = dir + QStringLiteral("/2026-03-04_05-06-07.log");
        const QByteArray native = QFile::encodeName(path);
        const QString linked = dir + QStringLiteral("/elsewhere.txt");
        if (kind == QStringLiteral("file")) {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            QCOMPARE(earlier.write("earlier run\n"), 12);
        } else if (kind == QStringLiteral("fifo")) {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (kind == QStringLiteral("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else {
            QVERIFY(QFile::link(linked, path));
        }
        QString opened;
        int reader = -1;
        const bool inTime = test::returnsWithin(
            10000, [&] { opened = logging::install(dir, start); },
            [&] {
                // A writer blocked on the FIFO goes on once it has a reader.
                if (reader < 0) {
                    reader = ::open(native.constData(), O_RDONLY | O_NONBLOCK);
                }
            });
        qInfo("a line for the run log");
        logging::uninstall();
        if (reader >= 0) {
            ::close(reader);
        }
        QVERIFY(inTime);
        QCOMPARE(opened, dir + QStringLiteral("/2026-03-04_05-06-07-2.log"));
        QFile log(opened);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("a line for the run log"));
        QVERIFY(!QFile::exists(linked));
        struct stat st {};
        QCOMPARE(::lstat(native.constData(), &st), 0);
        QVERIFY(kind == QStringLiteral("file")     ? S_ISREG(st.st_mode) && st.st_size == 12
                : kind == QStringLiteral("fifo")   ? S_ISFIFO(st.st_mode)
                : kind == QStringLiteral("folder") ? S_ISDIR(st.st_mode)
                                                   : S_ISLNK(st.st_mode));
    }

    void serverOverridesFallBackOnMalformedPorts() {
        const auto fsd = deployment::parseFsdServer(QStringLiteral(" fsd.example:7000 "));
        QCOMPARE(fsd.host, QStringLiteral("fsd.example"));
        QCOMPARE(fsd.port, quint16(7000));
        QCOMPARE(deployment::parseFsdServer(QStringLiteral("h:99999")).port, quint16(6809));
        QCOMPARE(deployment::parseFsdServer(QStringLiteral("h")).port, quint16(6809));
        const auto voice = deployment::parseVoiceServer(QStringLiteral("v:1:x"));
        QCOMPARE(voice.host, QStringLiteral("v"));
        QCOMPARE(voice.tcpPort, quint16(1));
        QCOMPARE(voice.udpPort, quint16(6807));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
