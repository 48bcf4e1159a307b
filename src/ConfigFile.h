#pragma once

#include <QString>
#include <QVariantMap>

namespace velk {

// What sat at a path when it was looked at: any change of it (another file
// renamed in, an edit, a new kind of thing) makes it differ.
struct FileStamp {
    int error = 0; // the system's error for the look itself; 0 when it succeeded
    quint64 device = 0;
    quint64 inode = 0;
    quint32 mode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FileStamp&) const = default;
    bool isRegularFile() const;
};

// Looks at `path` through links without opening it.
FileStamp stampOf(const QString& path);

// config.ini as QSettings' INI format has it, read and written only in a folder
// the client made for that one use, so that no lock file, FIFO or folder at the
// settings file's path or beside it can hold the client up.
struct ConfigFileRead {
    enum class Status {
        Read,     // `values` holds every key of the file
        Missing,  // nothing there: no values
        Unusable, // a folder, FIFO, device, too large, unreadable, or a line that
                  // a save would not give back as it stands (also a key of the
                  // client's in another case): `reason` says which
    };
    Status status = Status::Missing;
    QVariantMap values;
    QString reason;  // in Chinese, for the pilot
    int line = 0;    // the line at fault, 1-based; 0 when the file as a whole is
    FileStamp stamp; // taken before the read
};

// Reads the settings file at `path` without waiting on whatever sits there.
// `scratchFolder` is where the copy that QSettings parses is made (the system's
// temporary folder when no folder can be made there).
ConfigFileRead readConfigFile(const QString& path, const QString& scratchFolder);

// Why a save could not replace the settings file at `path` now, as far as
// can be seen without writing (a read-only folder or file, a FIFO); in
// Chinese, empty when nothing is seen in the way.
QString whyNotWritable(const QString& path);

// Writes `values` as the whole settings file at `path` (through a link, to its
// target). The file is replaced only by a complete copy synced to disk that
// readConfigFile reads whole, and only when what is there is a regular file
// it may write, or nothing. False with the reason (in Chinese) otherwise,
// `path` left as it was. `written` gets the new file's stamp. `values` are
// keys as readConfigFile gives them, or names in QSettings' own form.
bool writeConfigFile(const QString& path, const QVariantMap& values, QString* reason, FileStamp* written);

} // namespace velk
