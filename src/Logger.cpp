#include "Logger.h"

#include "common/NewLogFile.h"
#include "common/OneLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <cstdio>
#include <functional>
#include <map>
#include <tuple>

namespace velk::logging {

namespace {

QMutex g_mutex;
QFile* g_file = nullptr;
qint64 g_maxBytes = 0;
QtMessageHandler g_previous = nullptr;

const char* levelText(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO ";
    case QtWarningMsg:
        return "WARN ";
    case QtCriticalMsg:
        return "ERROR";
    case QtFatalMsg:
        return "FATAL";
    }
    return "DEBUG";
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray line = formatLine(type, context, message).toUtf8() + '\n';
    {
        QMutexLocker lock(&g_mutex);
        // A peer that floods the log cannot fill the disk: the file ends with
        // a line that says so, and stderr still takes every line.
        if (g_file && g_file->pos() < g_maxBytes) {
            g_file->write(line);
            if (g_file->pos() >= g_maxBytes) {
                const QMessageLogContext here(__FILE__, __LINE__, nullptr, nullptr);
                const QString full =
                    QStringLiteral("The run log has reached %1 bytes: further lines go to stderr only")
                        .arg(g_maxBytes);
                g_file->write(formatLine(QtWarningMsg, here, full).toUtf8() + '\n');
            }
            g_file->flush();
        }
    }
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    if (type == QtFatalMsg) {
        std::abort();
    }
}

} // namespace

QString formatLine(QtMsgType type, const QMessageLogContext& context, const QString& message,
                   const QDateTime& localTime) {
    const QString file = context.file ? QFileInfo(QString::fromUtf8(context.file)).fileName() : QString();
    return QStringLiteral("%1 | %2 | %3:%4 - %5")
        .arg(localTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), QLatin1String(levelText(type)),
             file)
        .arg(context.line)
        .arg(common::oneLine(message));
}

void pruneOldRunLogs(const QString& directory, int keep, const QString& runLog) {
    static const QRegularExpression runLogName =
        common::newLogFileNames(QStringLiteral(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)"));
    QDir dir(directory);
    // A log named later than this run's came from a clock that ran ahead and
    // was set back: it is older than this run's and than those named before
    // it, whatever its name says.
    const QString runBase = runLogName.match(runLog).captured(u"base");
    // Newest first: by start second, then by number, which a later run in
    // the same second takes higher ("-10" after "-9", both after the name
    // without one).
    std::map<std::tuple<bool, QString, int>, QString, std::greater<>> logs;
    // Links are never the client's: it only makes plain files.
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = runLogName.match(name);
        if (match.hasMatch() && name != runLog) {
            const QString base = match.captured(u"base");
            logs.emplace(std::tuple(runBase.isEmpty() || base <= runBase, base, match.captured(u"n").toInt()),
                         name);
        }
    }
    // The run's own log is kept whatever its name: a clock set back gives it
    // an older one than the logs already there.
    qsizetype seen = runLog.isEmpty() ? 0 : 1;
    for (const auto& [order, name] : logs) {
        if (++seen > keep) {
            dir.remove(name);
        }
    }
}

QString install(const QString& logsDirectory, const QDateTime& startUtc, int keepFiles, qint64 maxBytes) {
    QDir().mkpath(logsDirectory);
    auto* file = new QFile;
    if (!common::createNewLogFile(*file, QDir(logsDirectory),
                                  startUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")))) {
        std::fprintf(stderr, "Could not open log file %s (%s)\n", qPrintable(file->fileName()),
                     qPrintable(file->errorString()));
        delete file;
        file = nullptr;
    }
    const QString path = file ? file->fileName() : QString();
    {
        QMutexLocker lock(&g_mutex);
        delete g_file;
        g_file = file;
        g_maxBytes = maxBytes;
    }
    pruneOldRunLogs(logsDirectory, keepFiles, QFileInfo(path).fileName());
    QtMessageHandler previous = qInstallMessageHandler(handler);
    if (previous != handler) {
        g_previous = previous;
    }
    return path;
}

void uninstall() {
    qInstallMessageHandler(g_previous);
    QMutexLocker lock(&g_mutex);
    delete g_file;
    g_file = nullptr;
}

bool writesFile() {
    QMutexLocker lock(&g_mutex);
    return g_file != nullptr;
}

} // namespace velk::logging
