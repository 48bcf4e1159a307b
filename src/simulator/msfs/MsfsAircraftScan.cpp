// The scan of the installed aircraft: installations, their roots, package
// folders and every aircraft.cfg below them, turned into model profiles; on
// the scan thread.
#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace velk::simulator::msfs {

namespace {

QString childPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The non-empty texts joined by one space: one of them shared as it is,
// several copied once.
QString joinNonEmpty(const QString& first, const QString& second, const QString& third) {
    const QString* parts[3];
    qsizetype count = 0;
    qsizetype size = -1;
    for (const QString* part : {&first, &second, &third}) {
        if (!part->isEmpty()) {
            parts[count++] = part;
            size += part->size() + 1;
        }
    }
    if (count <= 1) {
        return count == 0 ? QString() : *parts[0];
    }
    QString joined(size, Qt::Uninitialized);
    QChar* out = joined.data();
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0) {
            *out++ = QLatin1Char(' ');
        }
        out = std::copy(parts[i]->cbegin(), parts[i]->cend(), out);
    }
    return joined;
}

bool isSimObjectsCfg(const QString& cfgPath) {
    return cfgPath.contains(QLatin1String("/SimObjects/"), Qt::CaseInsensitive);
}

bool isCfgName(const QString& name) {
    return name.compare(QLatin1String("aircraft.cfg"), Qt::CaseInsensitive) == 0;
}

// The folder of ".../SimObjects/Airplanes/<folder>/aircraft.cfg", which base
// container references name; empty for a cfg anywhere else.
QString airplaneFolder(const QString& cfgPath) {
    QStringView rest(cfgPath);
    QStringView last[3]; // the file, its folder, "Airplanes"
    for (QStringView& part : last) {
        const qsizetype slash = rest.lastIndexOf(u'/');
        if (slash < 0) {
            return {};
        }
        part = rest.mid(slash + 1);
        rest = rest.left(slash);
    }
    const QStringView simObjects = rest.mid(rest.lastIndexOf(u'/') + 1);
    if (last[2].compare(QLatin1String("Airplanes"), Qt::CaseInsensitive) != 0 ||
        simObjects.compare(QLatin1String("SimObjects"), Qt::CaseInsensitive) != 0) {
        return {};
    }
    return last[1].toString();
}

} // namespace

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
    cfgBytes = QByteArray();
    cfgText = QString();
    spareProfiles = {};
    spareKeys = {};
    const auto count = [this](MsfsRuntimeProfile simulator) {
        return profilesBySimulator.value(static_cast<int>(simulator)).size();
    };
    qInfo().noquote() << QStringLiteral("MSFS aircraft library ready: profiles=%1 fs2020=%2 fs2024=%3")
                             .arg(profilesBySimulator.size())
                             .arg(count(MsfsRuntimeProfile::Msfs2020))
                             .arg(count(MsfsRuntimeProfile::Msfs2024));
}

void MsfsAircraftLibrary::walkRoot(const MsfsLibraryRoot& root, QSet<QString>& walkedPackages,
                                   QList<FoundCfg>& found) {
    // Only files below a SimObjects folder make profiles or base containers.
    const auto add = [&root, &found](const QString& packageName, QString cfgPath) {
        if (isSimObjectsCfg(cfgPath)) {
            found.append({&root, packageName, std::move(cfgPath)});
        }
    };
    QDirIterator packages(root.path, QDir::AllEntries | QDir::NoDotAndDotDot);
    while (packages.hasNext() && !stopRequested.load()) {
        packages.next();
        const QFileInfo entry = packages.fileInfo();
        if (entry.isFile()) {
            if (!entry.isSymLink() && isCfgName(entry.fileName())) {
                add(entry.fileName(), normalizePath(entry.filePath()));
            }
            continue;
        }
        // Add-ons are usually linked into Community, so a package is followed
        // through its link: once, and never when it leads back to the root or
        // above it. A broken or looping link is no folder at all. The root is
        // canonical, so only a link needs resolving.
        QString real;
        if (entry.isSymLink() || entry.isJunction()) {
            real = entry.isDir() ? normalizePath(entry.filePath()) : QString();
        } else if (entry.isDir()) {
            real = childPath(root.path, entry.fileName());
        }
        if (real.isEmpty() || walkedPackages.contains(real) || real == root.path ||
            root.path.startsWith(real + QLatin1Char('/'))) {
            continue;
        }
        walkedPackages.insert(real);
        // No link below the package is followed, so a file's real path is the
        // package's real path and the rest of the way.
        const QString walked = entry.filePath();
        // No name filter: the iterator would compile one per package.
        QDirIterator it(walked, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (it.hasNext() && !stopRequested.load()) {
            const QString file = it.next();
            if (isCfgName(it.fileName())) {
                add(entry.fileName(), real + file.mid(walked.size()));
            }
        }
    }
}

int MsfsAircraftLibrary::addProfiles(const MsfsInstall& install, const FoundCfg& file,
                                     QList<MsfsAircraftProfile>& profiles, MsfsKeyTable& keys) {
    const MsfsLibraryRoot& root = *file.root;
    const QString& cfgPath = file.cfgPath;
    const int simulator = static_cast<int>(install.simulator);
    const MsfsCfgFacts cfg = loadNormalizedCfg(cfgPath, true);
    if (!cfg.hasContent) {
        return 0;
    }
    // A file turns into the same profiles each time: for this simulator, its
    // titles were all seen the first time.
    const QString cfgKey = QString::number(simulator) + QLatin1Char('|') + cfgPath;
    if (scannedCfgs.contains(cfgKey)) {
        return 0;
    }
    scannedCfgs.insert(cfgKey);
    const AircraftMetadata metadata = resolveNormalizedMetadata(cfgPath);
    const QString icaoType = metadata.icaoTypeDesignator.toUpper();
    const QString wtc = metadata.icaoWtc.toUpper();
    const QString& installPath = install.packagesPath.isEmpty() ? root.path : install.packagesPath;
    QSet<QString> titles;
    const qsizetype firstProfile = profiles.size();
    MsfsProfileKeys previousKeys;
    for (const MsfsCfgVariation& section : cfg.variations) {
        QString title = cleanCfgValue(section.title);
        if (title.isEmpty() || titles.contains(title)) {
            continue;
        }
        titles.insert(title);

        QString uiManufacturer = cleanCfgValue(section.uiManufacturer);
        QString uiType = cleanCfgValue(section.uiType);
        QString uiVariation = cleanCfgValue(section.uiVariation);
        QString shown = joinNonEmpty(uiManufacturer, uiType, uiVariation);
        const QStringView airline = unquoteView(section.atcAirline);

        // Texts are moved in where they can be: a copy costs an atomic count.
        MsfsAircraftProfile profile;
        profile.simulator = install.simulator;
        profile.packageName = file.packageName;
        profile.rootKind = root.kind;
        profile.installPath = installPath;
        profile.cfgPath = cfgPath;
        profile.displayName = shown.isEmpty() ? title : std::move(shown);
        profile.title = std::move(title);
        profile.airline =
            (airline.size() == section.atcAirline.size() ? section.atcAirline : airline.toString()).toUpper();
        profile.icaoType = icaoType;
        profile.manufacturer =
            uiManufacturer.isEmpty() ? metadata.icaoManufacturer : std::move(uiManufacturer);
        profile.model = uiType.isEmpty() ? metadata.icaoModel : std::move(uiType);
        profile.variation = std::move(uiVariation);
        profile.engineType = metadata.icaoEngineType;
        profile.engineCount = metadata.engineCount;
        profile.wtc = wtc;
        profile.isAirTraffic = MsfsCfgVariation::flag(section.isAirTraffic, false);
        profile.isUserSelectable = MsfsCfgVariation::flag(section.isUserSelectable, true);
        profile.isCommunity = root.isCommunity;
        const bool follows = profiles.size() > firstProfile;
        previousKeys = addProfileKeys(keys, profile, follows ? &profiles.last() : nullptr,
                                      follows ? &previousKeys : nullptr);
        profiles.append(std::move(profile));
    }
    return static_cast<int>(titles.size());
}

void MsfsAircraftLibrary::scanRoot(const MsfsInstall& install) {
    const QList<MsfsLibraryRoot> roots = rootsForInstall(install);
    if (roots.isEmpty()) {
        return;
    }
    int counter = 0;
    // Every root is walked before any cfg is read: a livery's base container
    // usually sits in another package, found through this index.
    QSet<QString> walkedPackages;
    QList<FoundCfg> found;
    for (const MsfsLibraryRoot& root : roots) {
        walkRoot(root, walkedPackages, found);
    }
    containerIndex.clear();
    for (const FoundCfg& file : std::as_const(found)) {
        const QString folder = airplaneFolder(file.cfgPath).toUpper();
        if (!folder.isEmpty() && !containerIndex.contains(folder)) {
            containerIndex.insert(folder, file.cfgPath);
        }
    }
    // Every file is read before any profile is built, so that the lists are
    // allocated once.
    qsizetype variations = 0;
    for (const FoundCfg& file : std::as_const(found)) {
        if (stopRequested.load()) {
            break;
        }
        variations += loadNormalizedCfg(file.cfgPath, true).variations.size();
    }
    QList<MsfsAircraftProfile> profiles = std::exchange(spareProfiles, {});
    MsfsKeyTable keys = std::exchange(spareKeys, {});
    profiles.reserve(variations);
    keys.reserve(variations);
    for (const FoundCfg& file : std::as_const(found)) {
        if (stopRequested.load()) {
            break;
        }
        counter += addProfiles(install, file, profiles, keys);
    }
    if (!profiles.isEmpty()) {
        const int simulator = static_cast<int>(install.simulator);
        QList<MsfsAircraftProfile>& allProfiles = profilesBySimulator[simulator];
        MsfsKeyTable& allKeys = keysBySimulator[simulator];
        if (allProfiles.isEmpty()) {
            allProfiles = std::move(profiles);
            allKeys = std::move(keys);
        } else {
            allProfiles.append(profiles);
            allKeys.append(keys);
        }
    }
    QString source = install.packagesPath;
    if (source.isEmpty()) {
        source = install.communityPath;
    }
    if (source.isEmpty() && !install.importedLibraryPaths.isEmpty()) {
        source = install.importedLibraryPaths.first();
    }
    containerIndex.clear();
    containerPaths.clear();
    qInfo().noquote() << QStringLiteral("Scanned %1 MSFS aircraft variants for %2 from %3")
                             .arg(counter)
                             .arg(profileLabel(install.simulator), source);
}

} // namespace velk::simulator::msfs
