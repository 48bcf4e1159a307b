#include "ConfigFile.h"

#include "common/DiskSync.h"
#include "common/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velk {

namespace {

// Far above any settings file the client writes; a larger one is not ours to parse.
constexpr qint64 kMaxConfigBytes = 4 * 1024 * 1024;
constexpr int kMaxLinkHops = 40;

const QString kCopyName = QStringLiteral("config.ini");

#ifndef _WIN32
qint64 nanoseconds(const timespec& t) {
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
#endif

// Where the file behind `path` lives: links followed to their end, also to a
// target that is not there yet (it is then created).
QString finalTarget(const QString& path, QString* reason) {
#ifdef _WIN32
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink(); ++hops) {
        if (hops == kMaxLinkHops) {
            *reason = QStringLiteral("too many levels of links");
            return {};
        }
        info.setFile(info.symLinkTarget());
    }
    return info.absoluteFilePath();
#else
    // Names are taken as the system takes them: a ".." after a linked folder
    // leads out of where that folder really is, not back along the name.
    QString current = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    for (int hops = 0;; ++hops) {
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        const QByteArray folder = QFile::encodeName(slash == 0 ? QStringLiteral("/") : current.left(slash));
        char* real = ::realpath(folder.constData(), nullptr);
        if (!real) {
            *reason = common::systemErrorText(errno);
            return {};
        }
        const QString realFolder = QFile::decodeName(real);
        std::free(real);
        const QString name = current.mid(slash + 1);
        current =
            realFolder == QLatin1String("/") ? QLatin1Char('/') + name : realFolder + QLatin1Char('/') + name;
        const QByteArray native = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        if (hops == kMaxLinkHops) {
            *reason = QStringLiteral("too many levels of links");
            return {};
        }
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length =
            ::readlink(native.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length == target.size()) {
            *reason =
                length < 0 ? common::systemErrorText(errno) : QStringLiteral("a link too long to follow");
            return {};
        }
        target.truncate(length);
        const QString next = QFile::decodeName(target);
        current = QDir::isAbsolutePath(next) ? next : realFolder + QLatin1Char('/') + next;
    }
#endif
}

bool replaceFile(const QString& from, const QString& to, QString* reason) {
#ifdef _WIN32
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                    reinterpret_cast<const wchar_t*>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    *reason = QStringLiteral("error %1").arg(GetLastError());
    return false;
#else
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) {
        return true;
    }
    *reason = common::systemErrorText(errno);
    return false;
#endif
}

// The values QSettings reads from `bytes`, parsed from a copy in a folder made
// for it: QSettings reads only files, and only this one can be trusted not to
// block its read.
std::optional<QVariantMap> parse(const QByteArray& bytes, const QString& scratchFolder, QString* reason) {
    std::optional<QTemporaryDir> folder;
    folder.emplace(QDir(scratchFolder).filePath(QStringLiteral("config.ini.reading-XXXXXX")));
    if (!folder->isValid()) {
        folder.emplace();
    }
    if (!folder->isValid()) {
        *reason = QStringLiteral("no folder for reading it: %1").arg(folder->errorString());
        return std::nullopt;
    }
    const QString copyPath = folder->filePath(kCopyName);
    QFile copy(copyPath);
    // A full disk shows only when the buffer goes out: a copy short of the
    // file would be parsed as a file that holds less.
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.flush()) {
        *reason = QStringLiteral("could not be copied for reading: %1").arg(copy.errorString());
        return std::nullopt;
    }
    copy.close();
    if (copy.error() != QFileDevice::NoError || QFileInfo(copyPath).size() != bytes.size()) {
        *reason = QStringLiteral("could not be copied for reading: %1").arg(copy.errorString());
        return std::nullopt;
    }
    QVariantMap values;
    const QSettings settings(copyPath, QSettings::IniFormat);
    for (const QString& key : settings.allKeys()) {
        values.insert(key, settings.value(key));
    }
    if (settings.status() != QSettings::NoError) {
        *reason = QStringLiteral("parts of it are not in INI form");
    }
    return values;
}

} // namespace

FileStamp stampOf(const QString& path) {
    FileStamp stamp;
#ifdef _WIN32
    const QFileInfo info(path);
    if (!info.exists()) {
        stamp.error = ERROR_FILE_NOT_FOUND;
        return stamp;
    }
    stamp.mode = info.isFile() ? 1 : 2;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    stamp.changedNs = info.metadataChangeTime().toMSecsSinceEpoch() * 1000000;
#else
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        stamp.error = errno;
        return stamp;
    }
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.mode = st.st_mode;
    stamp.size = st.st_size;
    stamp.modifiedNs = nanoseconds(st.st_mtim);
    stamp.changedNs = nanoseconds(st.st_ctim);
#endif
    return stamp;
}

ConfigFileRead readConfigFile(const QString& path, const QString& scratchFolder) {
    using Status = ConfigFileRead::Status;
    ConfigFileRead result;
    result.stamp = stampOf(path);
    const common::RegularFileRead raw = common::readRegularFile(path, kMaxConfigBytes);
    switch (raw.status) {
    case common::RegularFileRead::Status::Missing:
        result.status = Status::Missing;
        return result;
    case common::RegularFileRead::Status::Read:
        break;
    default:
        result.status = Status::Unusable;
        result.reason = raw.reason;
        return result;
    }
    QString reason;
    std::optional<QVariantMap> values = parse(raw.data, scratchFolder, &reason);
    if (!values) {
        result.status = Status::Unusable;
        result.reason = reason;
        return result;
    }
    result.status = Status::Read;
    result.values = std::move(*values);
    result.reason = reason;
    return result;
}

bool writeConfigFile(const QString& path, const QVariantMap& values, QString* reason, FileStamp* written) {
    const QString target = finalTarget(path, reason);
    if (target.isEmpty()) {
        return false;
    }
    // What is not a plain file (a FIFO, a folder) is not ours to replace.
    if (!common::isRegularOrMissing(target, reason)) {
        return false;
    }
    const QFileInfo targetInfo(target);
    const bool replacing = targetInfo.exists();
    if (replacing && !targetInfo.isWritable()) {
        *reason = QStringLiteral("the file is read-only");
        return false;
    }
    // QSettings writes, and takes its lock file, only inside a folder made for
    // this save, so nobody else's lock or file can be in the way. A kill leaves
    // at most that folder; the settings file is the old or the complete new one.
    QTemporaryDir folder(targetInfo.absolutePath() + QLatin1Char('/') + targetInfo.fileName() +
                         QStringLiteral(".saving-XXXXXX"));
    if (!folder.isValid()) {
        *reason = folder.errorString();
        return false;
    }
    const QString copyPath = folder.filePath(kCopyName);
    {
        QSettings settings(copyPath, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            settings.setValue(it.key(), it.value());
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            *reason = QStringLiteral("QSettings could not write %1").arg(QDir::toNativeSeparators(copyPath));
            return false;
        }
    }
    QFile copy(copyPath);
    // No values: QSettings leaves no file.
    if (!copy.exists() && !copy.open(QIODevice::WriteOnly)) {
        *reason = copy.errorString();
        return false;
    }
    copy.close();
    // QSaveFile, which QSettings writes through, takes a write cut short by a
    // full disk or a quota for a whole one: the copy is read back and kept
    // only with every key there and its last line ended.
    const common::RegularFileRead copied = common::readRegularFile(copyPath, kMaxConfigBytes);
    QString readReason;
    const std::optional<QVariantMap> back =
        copied.isRead() ? parse(copied.data, folder.path(), &readReason) : std::nullopt;
    if (!back || back->keys() != values.keys() || !(copied.data.isEmpty() || copied.data.endsWith('\n'))) {
        *reason = QStringLiteral("%1 could not be written whole").arg(QDir::toNativeSeparators(copyPath));
        return false;
    }
    if (replacing) {
        copy.setPermissions(QFile::permissions(target));
    }
    if (!common::syncPath(copyPath, reason)) {
        return false;
    }
    if (!replaceFile(copyPath, target, reason)) {
        return false;
    }
    // The rename itself is durable only once the folder is synced. The new
    // file is in place already: a failure here is not a failed save.
    QString folderReason;
    common::syncPath(targetInfo.absolutePath(), &folderReason);
    *written = stampOf(path);
    return true;
}

} // namespace velk
