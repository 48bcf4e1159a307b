// The settings store: any config.ini is either read whole, and then saved,
// saved back the same and read back with what was written, or set aside and
// left byte for byte as it was.
#include "AppConfig.h"
#include "ConfigFile.h"
#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

using namespace velk;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk::fuzz::initQt();
    // No simulator folders of this machine are found and written.
    qputenv("APPDATA", "");
    qputenv("LOCALAPPDATA", "");
    const QByteArray input = velk::fuzz::bytesOf(data, size);
    // The text written comes from the input's end, so that odd characters meet odd files.
    const QString text = QString::fromUtf8(input.right(24));
    const QTemporaryDir dir(velk::fuzz::scratchTemplate());
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size()) {
            return 0;
        }
    }
    const ConfigFileRead before = readConfigFile(path, dir.path());
    using namespace ConfigKeys;
    // A path list as the settings page makes it: trimmed, none empty.
    QStringList paths;
    for (const QString& piece : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!piece.trimmed().isEmpty()) {
            paths << piece.trimmed();
        }
    }
    const QList<ConfigWrite> writes{configWrite(ProfileRealname, text), configWrite(XPlaneCSL, paths),
                                    configWrite(AuthPassword, text),
                                    configWrite(AuthRememberPassword, size % 2 == 0),
                                    configWrite(VoiceMicGain, double(size % 41) - 20.5)};
    if (before.status != ConfigFileRead::Status::Read) {
        AppConfig config(dir.path());
        if (!config.isSetAside() || config.write(writes)) {
            velk::fuzz::fail("a file not read whole was used", before.reason);
        }
        if (readAll(path) != input) {
            velk::fuzz::fail("a file set aside was changed", before.reason);
        }
        return 0;
    }
    {
        AppConfig config(dir.path());
        if (!config.readProblem().isEmpty() || !config.write(writes)) {
            velk::fuzz::fail("a file read whole could not be saved", config.writeProblem());
        }
    }
    const QByteArray saved = readAll(path);
    AppConfig again(dir.path());
    if (!again.readProblem().isEmpty()) {
        velk::fuzz::fail("the client's own file is not read whole", again.readProblem());
    }
    // QSettings may read a U+FEFF in a value as a byte order mark, and writes
    // control characters as escapes: the store keeps no U+FEFF and no control
    // character, a space in its place.
    const auto bare = [](QString value) {
        value.remove(QChar::ByteOrderMark);
        for (QChar& c : value) {
            c = c.unicode() < 0x20 ? QLatin1Char(' ') : c;
        }
        return value;
    };
    for (QString& path : paths) {
        path = bare(path);
    }
    if (paths == QStringList{QString()}) {
        paths.clear();
    }
    if (again.value(ProfileRealname) != bare(text) || again.value(AuthPassword) != text) {
        velk::fuzz::fail("a written text did not read back", again.value(ProfileRealname));
    }
    if (again.value(AuthRememberPassword) != (size % 2 == 0) ||
        again.value(VoiceMicGain) != double(size % 41) - 20.5) {
        velk::fuzz::fail("a written flag or number did not read back");
    }
    if (again.value(XPlaneCSL) != paths) {
        velk::fuzz::fail("a written list did not read back", again.value(XPlaneCSL).join(QLatin1Char('|')));
    }
    // What was there and not written over is still there.
    const ConfigFileRead after = readConfigFile(path, dir.path());
    for (auto it = before.values.cbegin(); it != before.values.cend(); ++it) {
        const bool written = std::any_of(writes.cbegin(), writes.cend(),
                                         [&](const ConfigWrite& w) { return w.key.name == it.key(); });
        if (!written && after.values.value(it.key()) != it.value()) {
            velk::fuzz::fail("a value the save did not touch changed", it.key());
        }
    }
    // Unchanged values touch nothing; the file saved again is the same file.
    if (!again.write(writes) || readAll(path) != saved) {
        velk::fuzz::fail("a write of unchanged values touched the file");
    }
    const QString copy = dir.filePath(QStringLiteral("copy.ini"));
    QString reason;
    FileStamp stamp;
    if (!writeConfigFile(copy, after.values, &reason, &stamp) || readAll(copy) != saved) {
        velk::fuzz::fail("saving the file again gave another file", reason);
    }
    return 0;
}
