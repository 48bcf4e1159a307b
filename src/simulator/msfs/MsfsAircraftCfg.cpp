// Reading aircraft.cfg files and resolving their ICAO metadata through base
// containers; on the scan thread.
#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace velk::simulator::msfs {

namespace {

// Whether cleaning would change nothing: no "$" and nothing for simplified(),
// which copies the text even then.
bool isClean(QStringView text) {
    if (text.isEmpty()) {
        return true;
    }
    if (text.front().isSpace() || text.back().isSpace()) {
        return false;
    }
    bool blank = false;
    for (const QChar c : text) {
        if (c.unicode() > u' ' && c.unicode() < 0x80) {
            if (c == u'$') {
                return false;
            }
            blank = false;
        } else if (c.isSpace()) {
            if (blank || c != QLatin1Char(' ')) {
                return false;
            }
            blank = true;
        } else {
            blank = false;
        }
    }
    return true;
}

} // namespace

QString MsfsAircraftLibrary::cleanCfgValue(const QString& text) {
    const QStringView value = unquoteView(text);
    if (value.isEmpty()) {
        return {};
    }
    // Most values are clean as they stand: those are shared, not copied.
    if (isClean(value)) {
        return value.size() == text.size() ? text : value.toString();
    }
    // The "$$:" marker goes wherever it stands; runs of blanks become one.
    QString cleaned = value.toString();
    cleaned.remove(QStringLiteral("$$:"));
    return cleaned.simplified();
}

bool MsfsAircraftLibrary::parseCfgBool(const QString& text, bool defaultValue) {
    const QString t = text.trimmed().toUpper();
    if (t.isEmpty()) {
        return defaultValue;
    }
    return t == QLatin1String("1") || t == QLatin1String("Y") || t == QLatin1String("TRUE") ||
           t == QLatin1String("YES");
}

namespace {

// The text of an aircraft.cfg into `text`, empty when it cannot be read or is
// too large; `bytes` and `text` keep their memory from file to file. Only
// regular files are opened: a device or pipe named as a base container could
// block or never end.
void readCfgText(const QString& path, bool regularFile, QByteArray& bytes, QString& text) {
    text.resize(0);
    QFile file(path);
    if (path.isEmpty() || !(regularFile || QFileInfo(path).isFile()) || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    // One read of the whole file, split later: a line-by-line read with a
    // size limit has Qt reserve that limit for every line.
    qint64 read = -1;
    if (!file.isSequential()) {
        const qint64 want = qMin(file.size(), MsfsAircraftLibrary::MaxCfgBytes) + 1;
        if (bytes.size() < want) {
            bytes.resize(want);
        }
        read = file.read(bytes.data(), want);
    }
    if (read < 0 || read > MsfsAircraftLibrary::MaxCfgBytes) {
        if (read > MsfsAircraftLibrary::MaxCfgBytes || file.isSequential()) {
            // A file this size is no aircraft.cfg; reading it would only cost memory.
            qWarning() << "Skipped oversized aircraft.cfg:" << path << file.size();
        }
        return;
    }
    // As QString::fromUtf8, into the kept buffer: UTF-8 never takes fewer
    // bytes than UTF-16 units.
    text.resize(read);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QChar* end = decoder.appendToBuffer(text.data(), QByteArrayView(bytes.constData(), read));
    text.truncate(end - text.constData());
}

} // namespace

ParsedCfg MsfsAircraftLibrary::loadCfg(const QString& path) {
    QByteArray bytes;
    QString text;
    readCfgText(normalizePath(path), false, bytes, text);
    return parseCfgText(text);
}

MsfsCfgFacts MsfsAircraftLibrary::loadNormalizedCfg(const QString& key, bool regularFile) {
    const auto cached = cfgCache.constFind(key);
    if (cached != cfgCache.cend()) {
        return *cached;
    }
    readCfgText(key, regularFile, cfgBytes, cfgText);
    MsfsCfgFacts facts = readCfgFacts(cfgText);
    cfgCache.insert(key, facts);
    return facts;
}

namespace {

// The reference as a clean path, relative ones taken from the cfg's folder;
// no file system look-up.
QString containerCandidate(const QString& cfgPath, const QString& ref) {
    // Containers are written with Windows separators whatever the platform.
    QString path = QDir::fromNativeSeparators(ref).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isRelativePath(path)) {
        // The cfg path is absolute and clean: its folder is all before the last "/".
        const qsizetype slash = cfgPath.lastIndexOf(QLatin1Char('/'));
        path = cfgPath.left(qMax<qsizetype>(slash, 0)) + QLatin1Char('/') + path;
    }
    return QDir::cleanPath(path);
}

QString containerCfg(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir()) {
        return normalizePath(QDir(path).filePath(QStringLiteral("aircraft.cfg")));
    }
    if (info.isFile()) {
        return normalizePath(path);
    }
    return normalizePath(QDir(path).filePath(QStringLiteral("aircraft.cfg")));
}

} // namespace

QString MsfsAircraftLibrary::findBaseContainerCfg(const QString& cfgPath, const QString& reference) {
    const QString ref = reference.trimmed();
    if (cfgPath.isEmpty() || ref.isEmpty()) {
        return {};
    }
    return containerCfg(containerCandidate(cfgPath, ref));
}

QString MsfsAircraftLibrary::baseContainerCfg(const QString& cfgPath, const QString& reference) {
    const QString ref = reference.trimmed();
    if (cfgPath.isEmpty() || ref.isEmpty()) {
        return {};
    }
    // Liveries of one aircraft name the same container: look it up once.
    const QString candidate = containerCandidate(cfgPath, ref);
    auto known = containerPaths.constFind(candidate);
    if (known == containerPaths.cend()) {
        const QString path = containerCfg(candidate);
        known = containerPaths.insert(candidate, {path, path.isEmpty() || QFileInfo::exists(path)});
    }
    if (known->exists) {
        return known->path;
    }
    // "..\\X" usually names a folder of the simulator's merged package tree:
    // X sits in another package of the installation.
    QStringList parts = QDir::fromNativeSeparators(ref)
                            .replace(QLatin1Char('\\'), QLatin1Char('/'))
                            .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.last().compare(QLatin1String("aircraft.cfg"), Qt::CaseInsensitive) == 0) {
        parts.removeLast();
    }
    return parts.isEmpty() ? known->path : containerIndex.value(parts.last().toUpper(), known->path);
}

AircraftMetadata MsfsAircraftLibrary::resolveMetadata(const QString& cfgPath) {
    return resolveNormalizedMetadata(normalizePath(cfgPath));
}

AircraftMetadata MsfsAircraftLibrary::resolveNormalizedMetadata(const QString& key) {
    const auto cached = metadataCache.constFind(key);
    if (cached != metadataCache.cend()) {
        return *cached;
    }
    QSet<QString> visited;
    return resolveMetadataStep(key, visited, 0);
}

AircraftMetadata MsfsAircraftLibrary::resolveMetadataStep(const QString& key, QSet<QString>& visited,
                                                          int depth) {
    if (key.isEmpty() || visited.contains(key)) {
        return {};
    }
    const auto cached = metadataCache.constFind(key);
    if (cached != metadataCache.cend()) {
        return *cached;
    }
    visited.insert(key);
    const MsfsCfgFacts cfg = loadNormalizedCfg(key);
    AircraftMetadata result;
    if (!cfg.baseContainer.isEmpty()) {
        if (depth >= MaxBaseContainerDepth) {
            qWarning() << "Base container chain too deep, not followed beyond:" << key;
        } else {
            result = resolveMetadataStep(baseContainerCfg(key, cfg.baseContainer), visited, depth + 1);
        }
    }
    const MsfsCfgGeneral& general = cfg.general;
    const auto take = [](const QString& raw, QString& field) {
        const QString v = unquote(raw);
        field = v.isEmpty() ? field.trimmed() : v;
    };
    take(general.icaoTypeDesignator, result.icaoTypeDesignator);
    take(general.icaoManufacturer, result.icaoManufacturer);
    take(general.icaoModel, result.icaoModel);
    take(general.icaoEngineType, result.icaoEngineType);
    take(general.icaoWtc, result.icaoWtc);
    take(general.category, result.category);
    bool ok = false;
    const int count = unquote(general.icaoEngineCount).toInt(&ok, 10);
    if (ok) {
        result.engineCount = count;
    }
    result.valid = !result.icaoTypeDesignator.isEmpty() || !result.icaoManufacturer.isEmpty() ||
                   !result.icaoModel.isEmpty();
    metadataCache.insert(key, result);
    return result;
}

} // namespace velk::simulator::msfs
