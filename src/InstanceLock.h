#pragma once

#include <QString>

#include <memory>

namespace velk {

// The lock the system holds on an open lock file until it is closed, however
// the process ends.
class HeldLock {
public:
    explicit HeldLock(qintptr handle) : m_handle(handle) {}
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    qintptr m_handle;
};

// One client per folder: config.ini, logs/ and cache/ beside the executable
// belong to the run that holds the lock file there.
struct InstanceLock {
    // Held for the run; released when it is destroyed or the process dies.
    std::unique_ptr<HeldLock> lock;
    // What to tell the user when the run must not go on; empty otherwise.
    QString refusal;
};

inline const QString InstanceLockFileName = QStringLiteral("velk-client.lock");

// Locks the lock file in `directory` without waiting. Only a running client
// that holds it keeps this one out: the file itself, whatever it holds, is
// taken over, and it is locked as a file, so a folder reached through a link
// is the same folder. A lock file that is there but cannot be locked refuses
// the run with a message that names it. A folder where no lock file can be
// made (not writable) is no reason to refuse: the run goes on without the lock.
InstanceLock lockApplicationFolder(const QString& directory);

} // namespace velk
