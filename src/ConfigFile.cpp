#include "ConfigFile.h"

#include "ConfigKeys.h"
#include "ConfigLines.h"

#include "common/DiskSync.h"
#include "common/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <optional>
#include <utility>

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
            *reason = QStringLiteral("链接层数过多");
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
            *reason = QStringLiteral("链接层数过多");
            return {};
        }
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length =
            ::readlink(native.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length == target.size()) {
            *reason = length < 0 ? common::systemErrorText(errno) : QStringLiteral("链接过长，无法跟随");
            return {};
        }
        target.truncate(length);
        const QString next = QFile::decodeName(target);
        current = QDir::isAbsolutePath(next) ? next : realFolder + QLatin1Char('/') + next;
    }
#endif
}

// Why a save could not replace `path` now; empty when it may. `target` gets
// where the file behind `path` lives.
QString cannotReplace(const QString& path, QString* target) {
    QString reason;
    *target = finalTarget(path, &reason);
    if (target->isEmpty()) {
        return reason;
    }
    // What is not a plain file (a FIFO, a folder) is not ours to replace.
    if (!common::isRegularOrMissing(*target, &reason)) {
        return reason;
    }
    const QFileInfo info(*target);
#ifdef _WIN32
    if (info.exists() && !info.isWritable()) {
        return QStringLiteral("文件是只读的");
    }
#else
    if (info.exists() && ::access(QFile::encodeName(*target).constData(), W_OK) != 0) {
        return errno == EACCES ? QStringLiteral("文件是只读的") : common::systemErrorText(errno);
    }
    // The new file is made beside it first.
    if (::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) != 0) {
        return QStringLiteral("无法在它的文件夹里写文件：%1").arg(common::systemErrorText(errno));
    }
#endif
    return {};
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

// A folder made for one look at config.ini: QSettings reads and writes only
// files, and only files in a folder of the client's own cannot block it.
struct Scratch {
    explicit Scratch(const QString& near) {
        folder.emplace(QDir(near).filePath(QStringLiteral("config.ini.reading-XXXXXX")));
        if (!folder->isValid()) {
            folder.emplace();
        }
    }

    std::optional<QTemporaryDir> folder;
};

// `bytes` as the file `path`, checked at its close: a full disk shows only
// when the buffer goes out, and a copy short of the file would be parsed as
// a file that holds less.
bool writeWhole(const QString& path, const QByteArray& bytes) {
    QFile copy(path);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.flush()) {
        return false;
    }
    copy.close();
    return copy.error() == QFileDevice::NoError && QFileInfo(path).size() == bytes.size();
}

QVariantMap valuesOf(const QSettings& settings) {
    QVariantMap values;
    for (const QString& key : settings.allKeys()) {
        values.insert(key, settings.value(key));
    }
    return values;
}

// A name not used before in this run: QSettings keeps what it parsed of a
// path and takes a file of the same size and time for the same file.
QString freshName(const QString& what) {
    static std::atomic<quint64> count{0};
    return QStringLiteral("%1-%2.ini").arg(what).arg(++count);
}

// The values QSettings reads from `bytes`; nullopt when no copy to parse could be made.
std::optional<QVariantMap> parse(const QByteArray& bytes, const QTemporaryDir& scratch,
                                 bool* formatError = nullptr) {
    const QString path = scratch.filePath(freshName(QStringLiteral("read")));
    if (!writeWhole(path, bytes)) {
        QFile::remove(path);
        return std::nullopt;
    }
    std::optional<QVariantMap> values;
    {
        const QSettings settings(path, QSettings::IniFormat);
        values = valuesOf(settings);
        // Known only once every section is read.
        if (formatError) {
            *formatError = settings.status() != QSettings::NoError;
        }
    }
    QFile::remove(path);
    return values;
}

enum class Check { Kept, Changed, NotWritten };

// True when the value, or an item of its list, reads as no value.
bool holdsNone(const QVariant& value) {
    if (value.metaType().id() == QMetaType::QVariantList) {
        const QVariantList items = value.toList();
        return std::any_of(items.cbegin(), items.cend(),
                           [](const QVariant& item) { return !item.isValid(); });
    }
    return !value.isValid();
}

// The values a save of `values` reads back as; nullopt when it could not be written whole.
std::optional<QVariantMap> savedBack(const QVariantMap& values, const QTemporaryDir& scratch) {
    if (values.isEmpty()) {
        return values;
    }
    const QString path = scratch.filePath(freshName(QStringLiteral("write")));
    bool written = false;
    {
        QSettings settings(path, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            settings.setValue(it.key(), it.value());
        }
        settings.sync();
        written = settings.status() == QSettings::NoError;
    }
    const common::RegularFileRead copy = common::readRegularFile(path, 8 * kMaxConfigBytes);
    QFile::remove(path);
    // QSettings ends every file it writes with a line end: one without was cut short.
    if (!written || !copy.isRead() || !copy.data.endsWith('\n')) {
        return std::nullopt;
    }
    return parse(copy.data, scratch);
}

// Whether `bytes` read whole (no part QSettings cannot read) and save as they
// read. `unkept` gets the keys a save would not give back: those QSettings
// writes in another form than it read them ("x//y", "[Voice/]", an empty
// name) or, when there are none, those it writes with another value.
Check check(const QByteArray& bytes, const QTemporaryDir& scratch, QVariantMap* values, QStringList* unkept) {
    bool formatError = false;
    std::optional<QVariantMap> read = parse(bytes, scratch, &formatError);
    if (!read) {
        return Check::NotWritten;
    }
    if (formatError) {
        return Check::Changed;
    }
    const std::optional<QVariantMap> back = savedBack(*read, scratch);
    if (!back) {
        return Check::NotWritten;
    }
    QStringList moved;
    QStringList changed;
    for (auto it = read->cbegin(); it != read->cend(); ++it) {
        const auto saved = back->constFind(it.key());
        if (saved == back->cend()) {
            moved << it.key();
        } else if (*saved != it.value()) {
            changed << it.key();
        }
    }
    // "@Invalid()", QSettings' own word for no value (an empty list, as
    // clients before this one wrote it), saves as it stands; anything else
    // read as none ("@Variant(" with what QSettings cannot open) a save
    // would write as "@Invalid()".
    if (std::any_of(read->cbegin(), read->cend(), holdsNone)) {
        QByteArray named = bytes;
        const std::optional<QVariantMap> nones = parse(named.replace("@Invalid()", "@String()"), scratch);
        if (!nones) {
            return Check::NotWritten;
        }
        for (auto it = nones->cbegin(); it != nones->cend(); ++it) {
            if (holdsNone(it.value())) {
                changed << it.key();
            }
        }
    }
    *unkept = moved.isEmpty() ? changed : moved;
    if (!unkept->isEmpty()) {
        return Check::Changed;
    }
    *values = std::move(*read);
    return Check::Kept;
}

// The first line of `bytes` that holds one of `keys`, and the key; line 0
// when none can be told. QSettings reads the text once more with each key's
// line number in its name: only QSettings itself tells which keys it reads
// from a line.
std::pair<int, QString> firstLineOf(const QStringList& keys, const QByteArray& bytes,
                                    const QTemporaryDir& scratch) {
    const QSet<QString> wanted(keys.cbegin(), keys.cend());
    std::pair<int, QString> first{0, QString()};
    const std::optional<QVariantMap> numbered = parse(withLineNumbers(bytes), scratch);
    for (const QString& key : numbered ? numbered->keys() : QStringList()) {
        const qsizetype mark = key.lastIndexOf(QLatin1Char(kLineNumberMark));
        const int line = mark < 0 ? 0 : key.mid(mark + 1).toInt();
        if (line > 0 && (first.first == 0 || line < first.first) && wanted.contains(key.left(mark))) {
            first = {line, key.left(mark)};
        }
    }
    return first;
}

// What is wrong with line `line` of `bytes`, named with the section it sits
// in: a key may be rewritten for its section ("[Voice/]").
ConfigLineProblem problemAt(int line, const QByteArray& bytes, const QString& why) {
    const QList<QByteArray> lines = textLines(bytes);
    QString where;
    for (qsizetype header = line - 2; header >= 0; --header) {
        if (lines.at(header).trimmed().startsWith('[')) {
            where = QStringLiteral("（在第 %1 行“%2”之下）")
                        .arg(header + 1)
                        .arg(shownLine(bytes, int(header + 1)));
            break;
        }
    }
    return ConfigLineProblem{line, shownLine(bytes, line), where + why};
}

// The client's own key that `key` differs from in case alone, if any:
// QSettings on Windows takes the two for one, and a save merges them.
QString caseTwinOf(const QString& key) {
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> byLowerCase;
        for (const ConfigKeyInfo& info : ConfigKeys::all()) {
            if (info.storage != ConfigStorage::SessionOnly) {
                byLowerCase.insert(info.name.toLower(), info.name);
            }
        }
        return byLowerCase;
    }();
    const QString name = names.value(key.toLower());
    return name == key ? QString() : name;
}

} // namespace

bool FileStamp::isRegularFile() const {
#ifdef _WIN32
    return error == 0 && mode == 1;
#else
    return error == 0 && S_ISREG(mode);
#endif
}

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
    result.status = Status::Unusable;
    // A file that a save would not give back as it stands is read by no one:
    // read in part, or saved, it would lose what the pilot wrote.
    if (const std::optional<ConfigLineProblem> line = findUnkeptLine(raw.data)) {
        result.reason = describe(*line);
        result.line = line->line;
        return result;
    }
    const QByteArray body = withoutBom(raw.data);
    const Scratch made(scratchFolder);
    const QTemporaryDir& scratch = *made.folder;
    QVariantMap values;
    QStringList unkept;
    switch (scratch.isValid() ? check(body, scratch, &values, &unkept) : Check::NotWritten) {
    case Check::Kept:
        break;
    case Check::NotWritten:
        result.reason = QStringLiteral("无法在临时文件夹里复制一份来检查，磁盘可能已满");
        return result;
    case Check::Changed: {
        const int line = firstLineOf(unkept, body, scratch).first;
        result.reason =
            line > 0 ? describe(problemAt(line, body, QStringLiteral("中的内容在保存时会被改写或丢掉")))
                     : QStringLiteral("有内容在保存时会被改写或丢掉");
        result.line = line;
        return result;
    }
    }
    QStringList twins;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!caseTwinOf(it.key()).isEmpty()) {
            twins << it.key();
        }
    }
    if (!twins.isEmpty()) {
        const auto [line, key] = firstLineOf(twins, body, scratch);
        const QString why =
            QStringLiteral("中的键名与“%1”只差大小写（请照它的大小写书写）").arg(caseTwinOf(key));
        result.reason = line > 0 ? describe(problemAt(line, body, why)) : QStringLiteral("有") + why.mid(2);
        result.line = line;
        return result;
    }
    result.status = Status::Read;
    result.values = std::move(values);
    return result;
}

QString whyNotWritable(const QString& path) {
    QString target;
    return cannotReplace(path, &target);
}

bool writeConfigFile(const QString& path, const QVariantMap& values, QString* reason, FileStamp* written) {
    QString target;
    if (const QString why = cannotReplace(path, &target); !why.isEmpty()) {
        *reason = why;
        return false;
    }
    const QFileInfo targetInfo(target);
    const bool replacing = targetInfo.exists();
    // QSettings writes, and takes its lock file, only inside a folder made for
    // this save, so nobody else's lock or file can be in the way. A kill leaves
    // at most that folder; the settings file is the old or the complete new one.
    QTemporaryDir folder(targetInfo.absolutePath() + QLatin1Char('/') + targetInfo.fileName() +
                         QStringLiteral(".saving-XXXXXX"));
    if (!folder.isValid()) {
        *reason = QStringLiteral("无法在它的文件夹里写文件：%1").arg(common::systemErrorText(errno));
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
            *reason = QStringLiteral("新的文件没能完整写入，磁盘可能已满");
            return false;
        }
    }
    QFile copy(copyPath);
    // No values: QSettings leaves no file.
    if (!copy.exists() && !copy.open(QIODevice::WriteOnly)) {
        *reason = QStringLiteral("新的文件没能完整写入，磁盘可能已满");
        return false;
    }
    copy.close();
    // QSaveFile, which QSettings writes through, takes a write cut short by a
    // full disk or a quota for a whole one: the copy is read back and kept
    // only with every key there, its last line ended, and nothing in it that
    // the next start would not read.
    const common::RegularFileRead copied = common::readRegularFile(copyPath, kMaxConfigBytes);
    if (copied.status == common::RegularFileRead::Status::TooLarge) {
        *reason = QStringLiteral("新的文件会%1，下次启动时无法读取").arg(copied.reason);
        return false;
    }
    const std::optional<QVariantMap> back = copied.isRead() ? parse(copied.data, folder) : std::nullopt;
    if (!back || back->keys() != values.keys() || !(copied.data.isEmpty() || copied.data.endsWith('\n'))) {
        *reason = QStringLiteral("新的文件没能完整写入，磁盘可能已满");
        return false;
    }
    // Never a file that the next start would set aside.
    if (const std::optional<ConfigLineProblem> line = findUnkeptLine(copied.data)) {
        *reason = QStringLiteral("新的文件的%1，下次启动时无法读取").arg(describe(*line));
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
