#include "InstanceLock.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velk {

namespace {

enum class Outcome { Taken, HeldElsewhere, NotLockable, CannotOpen };

struct Attempt {
    Outcome outcome;
    qintptr handle = -1;
    QString reason; // the system's, for CannotOpen and NotLockable
};

#ifdef _WIN32

Attempt lockFile(const QString& path) {
    // Not shared: a second open fails while the first run keeps it open. A
    // folder in its place is opened (and so locked) as well.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        return {Outcome::Taken, reinterpret_cast<qintptr>(file), {}};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
        return {Outcome::HeldElsewhere, -1, {}};
    }
    return {Outcome::CannotOpen, -1, QStringLiteral("error %1").arg(error)};
}

void releaseFile(qintptr handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

#else

Attempt lockFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        // Whatever the umask: another user's client must be able to open it to lock it.
        ::fchmod(fd, 0644);
    } else {
        const int createError = errno;
        fd = ::open(native.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == EISDIR)) {
            // Another user's lock file, or a folder in its place, is locked
            // just as well through a descriptor opened for reading.
            fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        }
        if (fd < 0 && errno == ENOENT && createError != EEXIST) {
            errno = createError;
        }
    }
    if (fd < 0) {
        return {Outcome::CannotOpen, -1, QString::fromLocal8Bit(std::strerror(errno))};
    }
    // Held by the open file, not the path: the system drops it when the
    // process ends, and a link to the folder reaches the same lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return {Outcome::Taken, fd, {}};
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
        return {Outcome::HeldElsewhere, -1, {}};
    }
    return {Outcome::NotLockable, -1, QString::fromLocal8Bit(std::strerror(error))};
}

void releaseFile(qintptr handle) {
    // Closing lets go of the lock. The file stays: removing it could let a
    // client that opened it just now lock a file that is no longer there.
    ::close(static_cast<int>(handle));
}

#endif

} // namespace

HeldLock::~HeldLock() {
    releaseFile(m_handle);
}

InstanceLock lockApplicationFolder(const QString& directory) {
    const QString path = QDir(directory).filePath(InstanceLockFileName);
    const Attempt attempt = lockFile(path);
    switch (attempt.outcome) {
    case Outcome::Taken:
        return {std::make_unique<HeldLock>(attempt.handle), {}};
    case Outcome::HeldElsewhere: {
        const QString refusal =
            QStringLiteral("客户端已在运行（同一文件夹中已有一个客户端正在使用 config.ini）。");
        qWarning().noquote() << refusal << path;
        return {nullptr, refusal};
    }
    case Outcome::NotLockable:
        qWarning().noquote() << "The file system cannot lock" << path
                             << QStringLiteral("(%1); running without the lock").arg(attempt.reason);
        return {};
    case Outcome::CannotOpen:
        break;
    }
    // A dangling link counts as something there.
    const QFileInfo there(path);
    if (!there.exists() && !there.isSymLink()) {
        qWarning().noquote() << "Could not create the client's lock file; running without it:" << path
                             << QStringLiteral("(%1)").arg(attempt.reason);
        return {};
    }
    const QString refusal = QStringLiteral("无法锁定客户端文件夹：%1 无法打开（%2）。请检查或删除这个文件，"
                                           "然后重新启动客户端。")
                                .arg(QDir::toNativeSeparators(path), attempt.reason);
    qWarning().noquote() << refusal;
    return {nullptr, refusal};
}

} // namespace velk
