#include "simulator/msfs/MsfsAircraftLibrary.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace velk::simulator::msfs {

QString MsfsAircraftLibrary::cleanCfgValue(const QString& text) {
    static const QRegularExpression marker(QStringLiteral("\\$\\$:"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QString value = unquote(text);
    if (value.isEmpty()) {
        return {};
    }
    value.remove(marker);
    value.replace(blanks, QStringLiteral(" "));
    return value.trimmed();
}

bool MsfsAircraftLibrary::parseCfgBool(const QString& text, bool defaultValue) {
    const QString t = text.trimmed().toUpper();
    if (t.isEmpty()) {
        return defaultValue;
    }
    return t == QLatin1String("1") || t == QLatin1String("Y") || t == QLatin1String("TRUE") ||
           t == QLatin1String("YES");
}

ParsedCfg MsfsAircraftLibrary::loadCfg(const QString& path) {
    const QString key = normalizePath(path);
    const auto cached = cfgCache.constFind(key);
    if (cached != cfgCache.cend()) {
        return *cached;
    }
    ParsedCfg parsed;
    QFile file(key);
    // Only regular files: a device or pipe named as a base container could block or never end.
    if (!key.isEmpty() && QFileInfo(key).isFile() && file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (file.isSequential() || file.size() > MaxCfgBytes) {
            // A file this size is no aircraft.cfg; reading it would only cost memory.
            qWarning() << "Skipped oversized aircraft.cfg:" << key << file.size();
        } else {
            QString section;
            while (!file.atEnd()) {
                const QString line = stripComment(QString::fromUtf8(file.readLine(MaxCfgBytes)));
                if (line.isEmpty()) {
                    continue;
                }
                if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
                    section = line.mid(1, line.size() - 2).trimmed().toUpper();
                    continue;
                }
                const qsizetype eq = line.indexOf(QLatin1Char('='));
                if (section.isEmpty() || eq < 0) {
                    continue;
                }
                const QString name = line.left(eq).trimmed().toUpper().toLower();
                auto it = parsed.sections.find(section);
                if (it == parsed.sections.end()) {
                    it = parsed.sections.insert(section, {});
                    parsed.sectionOrder.append(section);
                }
                it->insert(name, unquote(line.mid(eq + 1)));
            }
        }
    }
    parsed.baseContainer =
        unquote(parsed.sections.value(QStringLiteral("VARIATION")).value(QStringLiteral("base_container")));
    parsed.hasContent = !parsed.sections.isEmpty();
    cfgCache.insert(key, parsed);
    return parsed;
}

QString MsfsAircraftLibrary::findBaseContainerCfg(const QString& cfgPath, const QString& reference) {
    const QString ref = reference.trimmed();
    if (cfgPath.isEmpty() || ref.isEmpty()) {
        return {};
    }
    // Containers are written with Windows separators whatever the platform.
    QString path = QDir::fromNativeSeparators(ref).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isRelativePath(path)) {
        path = QFileInfo(cfgPath).absoluteDir().filePath(path);
    }
    path = QDir::cleanPath(path);
    const QFileInfo info(path);
    if (info.isDir()) {
        return normalizePath(QDir(path).filePath(QStringLiteral("aircraft.cfg")));
    }
    if (info.isFile()) {
        return normalizePath(path);
    }
    return normalizePath(QDir(path).filePath(QStringLiteral("aircraft.cfg")));
}

AircraftMetadata MsfsAircraftLibrary::resolveMetadata(const QString& cfgPath) {
    const QString key = normalizePath(cfgPath);
    const auto cached = metadataCache.constFind(key);
    if (cached != metadataCache.cend()) {
        return *cached;
    }
    QSet<QString> visited;
    return resolveMetadataStep(key, visited, 0);
}

AircraftMetadata MsfsAircraftLibrary::resolveMetadataStep(const QString& path, QSet<QString>& visited,
                                                          int depth) {
    const QString key = normalizePath(path);
    if (key.isEmpty() || visited.contains(key)) {
        return {};
    }
    const auto cached = metadataCache.constFind(key);
    if (cached != metadataCache.cend()) {
        return *cached;
    }
    visited.insert(key);
    const ParsedCfg cfg = loadCfg(key);
    AircraftMetadata result;
    if (!cfg.baseContainer.isEmpty()) {
        if (depth >= MaxBaseContainerDepth) {
            qWarning() << "Base container chain too deep, not followed beyond:" << key;
        } else {
            result = resolveMetadataStep(findBaseContainerCfg(key, cfg.baseContainer), visited, depth + 1);
        }
    }
    const QHash<QString, QString> general = cfg.sections.value(QStringLiteral("GENERAL"));
    const auto take = [&general](const char* name, QString& field) {
        const QString v = unquote(general.value(QLatin1String(name)));
        field = v.isEmpty() ? field.trimmed() : v;
    };
    take("icao_type_designator", result.icaoTypeDesignator);
    take("icao_manufacturer", result.icaoManufacturer);
    take("icao_model", result.icaoModel);
    take("icao_engine_type", result.icaoEngineType);
    take("icao_wtc", result.icaoWtc);
    take("category", result.category);
    bool ok = false;
    const int count = unquote(general.value(QStringLiteral("icao_engine_count"))).toInt(&ok, 10);
    if (ok) {
        result.engineCount = count;
    }
    result.valid = !result.icaoTypeDesignator.isEmpty() || !result.icaoManufacturer.isEmpty() ||
                   !result.icaoModel.isEmpty();
    metadataCache.insert(key, result);
    return result;
}

void MsfsAircraftLibrary::scanAll() {
    clear();
    const QList<MsfsInstall> installs = discoverRoots();
    if (installs.isEmpty()) {
        qWarning().noquote()
            << "No MSFS aircraft library roots were discovered; traffic model matching will be unavailable";
    }
    for (const MsfsInstall& install : installs) {
        if (stopRequested.load()) {
            return;
        }
        scanRoot(install);
    }
    const auto count = [this](MsfsRuntimeProfile simulator) {
        return profilesBySimulator.value(static_cast<int>(simulator)).size();
    };
    qInfo().noquote() << QStringLiteral("MSFS aircraft library ready: profiles=%1 fs2020=%2 fs2024=%3")
                             .arg(profilesBySimulator.size())
                             .arg(count(MsfsRuntimeProfile::Msfs2020))
                             .arg(count(MsfsRuntimeProfile::Msfs2024));
}

void MsfsAircraftLibrary::scanRoot(const MsfsInstall& install) {
    const QList<MsfsLibraryRoot> roots = rootsForInstall(install);
    if (roots.isEmpty()) {
        return;
    }
    const int simulator = static_cast<int>(install.simulator);
    int counter = 0;
    for (const MsfsLibraryRoot& root : roots) {
        const QDir rootDir(root.path);
        QDirIterator it(root.path, {QStringLiteral("aircraft.cfg")}, QDir::Files | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && !stopRequested.load()) {
            const QString file = it.next();
            if (it.fileName().compare(QLatin1String("aircraft.cfg"), Qt::CaseInsensitive) != 0) {
                continue;
            }
            const QString cfgPath = normalizePath(file);
            if (!cfgPath.contains(QLatin1String("/SimObjects/"), Qt::CaseInsensitive)) {
                continue;
            }
            const ParsedCfg cfg = loadCfg(cfgPath);
            if (!cfg.hasContent) {
                continue;
            }
            const AircraftMetadata metadata = resolveMetadata(cfgPath);
            const QString relative =
                rootDir.relativeFilePath(cfgPath).replace(QLatin1Char('\\'), QLatin1Char('/'));
            const QString packageName = relative.section(QLatin1Char('/'), 0, 0);
            for (const QString& sectionName : cfg.sectionOrder) {
                if (!sectionName.startsWith(QLatin1String("FLTSIM."))) {
                    continue;
                }
                const QHash<QString, QString> section = cfg.sections.value(sectionName);
                const QString title = cleanCfgValue(section.value(QStringLiteral("title")));
                if (title.isEmpty()) {
                    continue;
                }
                const QString variantKey = QStringLiteral("%1|%2|%3").arg(simulator).arg(cfgPath, title);
                if (seenVariantKeys.contains(variantKey)) {
                    continue;
                }
                seenVariantKeys.insert(variantKey);

                const QString uiManufacturer =
                    cleanCfgValue(section.value(QStringLiteral("ui_manufacturer")));
                const QString uiType = cleanCfgValue(section.value(QStringLiteral("ui_type")));
                const QString uiVariation = cleanCfgValue(section.value(QStringLiteral("ui_variation")));
                QStringList shown;
                for (const QString& part : {uiManufacturer, uiType, uiVariation}) {
                    if (!part.isEmpty()) {
                        shown.append(part);
                    }
                }

                MsfsAircraftProfile profile;
                profile.simulator = install.simulator;
                profile.packageName = packageName;
                profile.rootKind = root.kind;
                profile.installPath = install.packagesPath.isEmpty() ? root.path : install.packagesPath;
                profile.cfgPath = cfgPath;
                profile.title = title;
                profile.displayName = shown.isEmpty() ? title : shown.join(QLatin1Char(' '));
                profile.variation = uiVariation;
                profile.airline = unquote(section.value(QStringLiteral("atc_airline"))).toUpper();
                profile.icaoType = metadata.icaoTypeDesignator.toUpper();
                profile.manufacturer = uiManufacturer.isEmpty() ? metadata.icaoManufacturer : uiManufacturer;
                profile.model = uiType.isEmpty() ? metadata.icaoModel : uiType;
                profile.engineType = metadata.icaoEngineType;
                profile.engineCount = metadata.engineCount;
                profile.wtc = metadata.icaoWtc.toUpper();
                profile.isAirTraffic = parseCfgBool(section.value(QStringLiteral("isairtraffic")), false);
                profile.isUserSelectable =
                    parseCfgBool(section.value(QStringLiteral("isuserselectable")), true);
                profile.isCommunity = root.isCommunity;
                keysBySimulator[simulator].append(profileKeys(profile));
                profilesBySimulator[simulator].append(std::move(profile));
                ++counter;
            }
        }
    }
    QString source = install.packagesPath;
    if (source.isEmpty()) {
        source = install.communityPath;
    }
    if (source.isEmpty() && !install.importedLibraryPaths.isEmpty()) {
        source = install.importedLibraryPaths.first();
    }
    qInfo().noquote() << QStringLiteral("Scanned %1 MSFS aircraft variants for %2 from %3")
                             .arg(counter)
                             .arg(profileLabel(install.simulator), source);
}

} // namespace velk::simulator::msfs
