#include "common/DiskSync.h"

#include "common/RegularFile.h"

#include <QFile>

#include <cerrno>

#ifdef _WIN32
#include <QFileInfo>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velk::common {

bool syncDescriptor(int fd, QString* reason) {
#ifdef _WIN32
    if (::_commit(fd) != 0) {
#else
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
#endif
        *reason = systemErrorText(errno);
        return false;
    }
    return true;
}

bool syncPath(const QString& path, QString* reason, SyncFunction sync) {
#ifdef _WIN32
    // A folder cannot be opened for a sync there; renames are written through.
    if (QFileInfo(path).isDir()) {
        return true;
    }
    const int fd = ::_wopen(reinterpret_cast<const wchar_t*>(path.utf16()), _O_RDWR | _O_BINARY);
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd < 0) {
        *reason = systemErrorText(errno);
        return false;
    }
    const bool synced = sync(fd, reason);
#ifdef _WIN32
    ::_close(fd);
#else
    ::close(fd);
#endif
    return synced;
}

} // namespace velk::common
