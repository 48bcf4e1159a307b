#include "Logger.h"

#include "common/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <cstdio>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// Opens `path` to append to it, creating it when missing, only when it is a
// regular file and not a link: never waiting on a FIFO or device there.
bool openForAppending(QFile& file, const QString& path, QString* reason) {
#ifdef _WIN32
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || info.isSymLink())) {
        *reason = QStringLiteral("not a regular file");
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *reason = file.errorString();
        return false;
    }
    return true;
#else
    const int fd =
        ::open(QFile::encodeName(path).constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        *reason = common::systemErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("not a regular file");
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        *reason = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
#endif
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

void pruneOldRunLogs(const QString& directory, int keep) {
    static const QRegularExpression runLog(QStringLiteral(R"(^\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.log$)"));
    QDir dir(directory);
    // Links are never the client's: it only makes plain files.
    const QStringList names = dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Name | QDir::Reversed);
    qsizetype seen = 0;
    for (const QString& name : names) {
        if (runLog.match(name).hasMatch() && ++seen > keep) {
            dir.remove(name);
        }
    }
}

QString install(const QString& logsDirectory, const QDateTime& startUtc, int keepFiles) {
    QDir().mkpath(logsDirectory);
    const QString name = startUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) + QStringLiteral(".log");
    const QString path = QDir(logsDirectory).filePath(name);
    auto* file = new QFile;
    QString reason;
    if (!openForAppending(*file, path, &reason)) {
        std::fprintf(stderr, "Could not open log file %s (%s)\n", qPrintable(path), qPrintable(reason));
        delete file;
        file = nullptr;
    }
    {
        QMutexLocker lock(&g_mutex);
        delete g_file;
        g_file = file;
    }
    pruneOldRunLogs(logsDirectory, keepFiles);
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
