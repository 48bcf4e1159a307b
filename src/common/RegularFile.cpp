#include "common/RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velk::common {

namespace {

const QString kNotRegular = QStringLiteral("不是普通文件");

QString tooLarge(qint64 maxBytes) {
    return QStringLiteral("大于 %1 字节").arg(maxBytes);
}

#ifndef _WIN32
// Names what stands at the path, for the log line or notice that names the file.
QString notRegular(mode_t mode) {
    const QString kind = S_ISDIR(mode)                    ? QStringLiteral("文件夹")
                         : S_ISFIFO(mode)                 ? QStringLiteral("管道（FIFO）")
                         : S_ISSOCK(mode)                 ? QStringLiteral("套接字")
                         : S_ISCHR(mode) || S_ISBLK(mode) ? QStringLiteral("设备")
                                                          : QString();
    return kind.isEmpty() ? kNotRegular : QStringLiteral("不是普通文件，而是%1").arg(kind);
}
#endif

} // namespace

QString systemErrorText(int error) {
    // The pilot reads these inside Chinese notices; the rarer ones keep the
    // system's own words.
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("超出磁盘配额");
#endif
    case EROFS:
        return QStringLiteral("只读文件系统");
    case EIO:
        return QStringLiteral("读写出错");
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case ENOTDIR:
        return QStringLiteral("路径中的一项不是文件夹");
    case EISDIR:
        return QStringLiteral("是一个文件夹");
    case ELOOP:
        return QStringLiteral("链接层数过多");
    case ENAMETOOLONG:
        return QStringLiteral("路径过长");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("打开的文件过多");
    case EBUSY:
        return QStringLiteral("文件正被占用");
    default:
        return QStringLiteral("系统错误 %1：%2").arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes) {
    using Status = RegularFileRead::Status;
    RegularFileRead result;
#ifdef _WIN32
    const QFileInfo info(path);
    if (!info.exists()) {
        return result;
    }
    if (!info.isFile()) {
        return {Status::NotRegular, {}, kNotRegular};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {Status::Unreadable, {}, file.errorString()};
    }
    QByteArray data = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        return {Status::Unreadable, {}, file.errorString()};
    }
    if (data.size() > maxBytes) {
        return {Status::TooLarge, {}, tooLarge(maxBytes)};
    }
    return {Status::Read, std::move(data), {}};
#else
    const QByteArray native = QFile::encodeName(path);
    // Opening some devices does something (a serial line, a watchdog): what
    // is not a regular file is not even opened. The check after the open
    // catches one swapped in between.
    struct stat before {};
    if (::stat(native.constData(), &before) == 0 && !S_ISREG(before.st_mode)) {
        return {Status::NotRegular, {}, notRegular(before.st_mode)};
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            return result;
        }
        // A socket, or a device without its driver.
        if (error == ENXIO) {
            return {Status::NotRegular, {}, kNotRegular};
        }
        return {Status::Unreadable, {}, systemErrorText(error)};
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return {Status::Unreadable, {}, systemErrorText(errno)};
    }
    if (!S_ISREG(st.st_mode)) {
        return {Status::NotRegular, {}, notRegular(st.st_mode)};
    }
    if (st.st_size > maxBytes) {
        return {Status::TooLarge, {}, tooLarge(maxBytes)};
    }
    QByteArray data;
    data.resize(static_cast<qsizetype>(st.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > maxBytes) {
                return {Status::TooLarge, {}, tooLarge(maxBytes)};
            }
            data.resize(qMin<qint64>(maxBytes + 1, filled * 2 + 4096));
        }
        const ssize_t n = ::read(fd, data.data() + filled, static_cast<size_t>(data.size() - filled));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {Status::Unreadable, {}, systemErrorText(errno)};
        }
        if (n == 0) {
            break;
        }
        filled += n;
    }
    if (filled > maxBytes) {
        return {Status::TooLarge, {}, tooLarge(maxBytes)};
    }
    data.truncate(filled);
    return {Status::Read, std::move(data), {}};
#endif
}

bool isRegularOrMissing(const QString& path, QString* reason) {
#ifdef _WIN32
    const QFileInfo info(path);
    // exists() follows links: a dangling one reads as missing.
    if (!info.exists() || info.isFile()) {
        return true;
    }
    if (reason) {
        *reason = kNotRegular;
    }
    return false;
#else
    struct stat st {};
    // stat follows links: a dangling one reads as missing.
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return true;
        }
        if (reason) {
            *reason = systemErrorText(errno);
        }
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        return true;
    }
    if (reason) {
        *reason = notRegular(st.st_mode);
    }
    return false;
#endif
}

bool isPlainFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

} // namespace velk::common
