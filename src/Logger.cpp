#include "Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace velk::logging {

namespace {

QMutex g_mutex;
QFile* g_file = nullptr;
QtMessageHandler g_previous = nullptr;

const char* levelText(QtMsgType type) {
    switch (type) {
    case QtDebugMsg: return "DEBUG";
    case QtInfoMsg: return "INFO ";
    case QtWarningMsg: return "WARN ";
    case QtCriticalMsg: return "ERROR";
    case QtFatalMsg: return "FATAL";
    }
    return "DEBUG";
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray line = formatLine(type, context, message).toUtf8() + '\n';
    {
        QMutexLocker lock(&g_mutex);
        if (g_file) {
            g_file->write(line);
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
        .arg(localTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), QLatin1String(levelText(type)), file)
        .arg(context.line)
        .arg(message);
}

void pruneOldFiles(const QString& directory, const QString& pattern, int keep) {
    QDir dir(directory);
    const QStringList files = dir.entryList({pattern}, QDir::Files, QDir::Name | QDir::Reversed);
    for (qsizetype i = keep; i < files.size(); ++i) {
        dir.remove(files.at(i));
    }
}

QString install(const QString& logsDirectory, const QDateTime& startUtc, int keepFiles) {
    QDir().mkpath(logsDirectory);
    const QString name = startUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) + QStringLiteral(".log");
    const QString path = QDir(logsDirectory).filePath(name);
    auto* file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "Could not open log file %s\n", qPrintable(path));
        delete file;
        file = nullptr;
    }
    {
        QMutexLocker lock(&g_mutex);
        delete g_file;
        g_file = file;
    }
    pruneOldFiles(logsDirectory, QStringLiteral("*-*-*_*-*-*.log"), keepFiles);
    QtMessageHandler previous = qInstallMessageHandler(handler);
    if (previous != handler) {
        g_previous = previous;
    }
    return file ? path : QString();
}

void uninstall() {
    qInstallMessageHandler(g_previous);
    QMutexLocker lock(&g_mutex);
    delete g_file;
    g_file = nullptr;
}

} // namespace velk::logging
