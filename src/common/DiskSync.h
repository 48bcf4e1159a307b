#pragma once

#include <QString>

namespace velk::common {

// Flushes an open descriptor to the disk; false with the system's reason. A
// file system that cannot sync (some take no fsync on a folder) counts as
// synced: only a failed write is a failure.
bool syncDescriptor(int fd, QString* reason);

// Opens `path` (a file, or the folder whose entries must survive a power cut
// after a create or a rename) and syncs it through `sync`.
using SyncFunction = bool (*)(int fd, QString* reason);
bool syncPath(const QString& path, QString* reason, SyncFunction sync = &syncDescriptor);

} // namespace velk::common
