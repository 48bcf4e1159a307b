#include "InstanceLock.h"

#include <QDebug>
#include <QDir>

namespace velk {

InstanceLock lockApplicationFolder(const QString& directory) {
    const QString path = QDir(directory).filePath(InstanceLockFileName);
    auto lock = std::make_unique<QLockFile>(path);
    // Only a dead holder makes a lock stale: a run may last for days.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        return {std::move(lock), {}};
    }
    if (lock->error() == QLockFile::LockFailedError) {
        const QString refusal =
            QStringLiteral("客户端已在运行（同一文件夹中已有一个客户端正在使用 config.ini）。");
        qWarning().noquote() << refusal << path;
        return {nullptr, refusal};
    }
    qWarning() << "Could not create the client's lock file; running without it:" << path;
    return {};
}

} // namespace velk
