#pragma once

#include <QByteArray>
#include <QString>

namespace velk::common {

// The system's words for an errno value, for a log line or a notice.
QString systemErrorText(int error);

// What was found at a path that the client reads whole.
struct RegularFileRead {
    enum class Status {
        Read,       // `data` holds the whole file
        Missing,    // nothing there (a dangling link counts as nothing)
        NotRegular, // a folder, FIFO, socket or device: never read
        TooLarge,   // more than the caller's limit
        Unreadable, // there, but it could not be opened or read
    };
    Status status = Status::Missing;
    QByteArray data;
    // The system's words, for a log line that names the file.
    QString reason;

    bool isRead() const { return status == Status::Read; }
};

// Reads the file at `path` (links followed) when it is a regular file of at
// most `maxBytes`. Never waits on what sits at the path: anything else is not
// opened, and one swapped in at the last moment is opened without blocking
// and left unread.
RegularFileRead readRegularFile(const QString& path, qint64 maxBytes);

// True when nothing is at `path` or it is (through links) a regular file;
// otherwise false with the reason. For files handed to a library that opens
// them itself (SQLite, image readers).
bool isRegularOrMissing(const QString& path, QString* reason = nullptr);

// True when `path` itself, not a link, is a regular file: the only kind the
// client removes, replaces or moves aside, as a link or anything else there
// was put by someone else.
bool isPlainFile(const QString& path);

} // namespace velk::common
