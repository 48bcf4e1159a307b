#include "Logger.h"
#include "common/Deployment.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

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
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
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
        for (int i = 0; i < 12; ++i) {
            QFile f(QDir(dir).filePath(QStringLiteral("2025-01-%1_00-00-00.log").arg(i + 1, 2, 10, QLatin1Char('0'))));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFile other(QDir(dir).filePath(QStringLiteral("notes.txt")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        logging::install(dir, QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
        logging::uninstall();
        const QStringList left = QDir(dir).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 10);
        QCOMPARE(left.first(), QStringLiteral("2025-01-04_00-00-00.log"));
        QCOMPARE(left.last(), QStringLiteral("2026-01-01_00-00-00.log"));
        QVERIFY(QFile::exists(other.fileName()));
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
