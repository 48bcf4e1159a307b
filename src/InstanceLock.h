#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace velk {

// One client per folder: config.ini, logs/ and cache/ beside the executable
// belong to the run that holds the lock file there.
struct InstanceLock {
    // Held for the run; released when it is destroyed or the process dies.
    std::unique_ptr<QLockFile> lock;
    // What to tell the user when another client holds the folder; empty otherwise.
    QString refusal;
};

inline const QString InstanceLockFileName = QStringLiteral("velk-client.lock");

// Takes the lock file in `directory` without waiting. A lock left by a process
// that has died is taken over. A folder where no lock file can be made (not
// writable) is no reason to refuse: the run goes on without the lock.
InstanceLock lockApplicationFolder(const QString& directory);

} // namespace velk
