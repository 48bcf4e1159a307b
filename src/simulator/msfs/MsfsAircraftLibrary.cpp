#include "simulator/msfs/MsfsAircraftLibrary.h"

#include "AppConfig.h"
#include "ConfigKeys.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <system_error>
#include <thread>

namespace velk::simulator::msfs {

namespace {

int simulatorNumber(MsfsRuntimeProfile simulator) {
    return static_cast<int>(simulator);
}

// The UserCfg.opt candidates below "Packages/" live in the per-user local
// application-data folder, the others in the roaming one.
QString userCfgBase(const QString& candidate) {
    const char* variable = candidate.startsWith(QLatin1String("Packages/")) ? "LOCALAPPDATA" : "APPDATA";
    return QString::fromLocal8Bit(qgetenv(variable));
}

} // namespace

MsfsAircraftLibrary* MsfsAircraftLibrary::instance() {
    static MsfsAircraftLibrary library;
    return &library;
}

MsfsAircraftLibrary::~MsfsAircraftLibrary() {
    // A detached scan thread still works on this object: stop it and wait.
    stopRequested.store(true);
    std::unique_lock lock(flagMutex);
    threadsDone.wait(lock, [this] { return runningThreads == 0; });
}

void MsfsAircraftLibrary::startScan() {
    if (ready.load(std::memory_order_acquire) || stopRequested.load()) {
        return;
    }
    if (scanning.exchange(true)) {
        return;
    }
    {
        std::lock_guard lock(flagMutex);
        ++runningThreads;
    }
    try {
        std::thread(&MsfsAircraftLibrary::scanThreadBody, this).detach();
    } catch (const std::system_error& error) {
        // Leave the library startable again rather than stuck "scanning".
        {
            std::lock_guard lock(flagMutex);
            --runningThreads;
        }
        scanning.store(false);
        qWarning() << "Could not start the MSFS aircraft library scan:"
                   << QString::fromLocal8Bit(error.what());
    }
}

void MsfsAircraftLibrary::reload() {
    {
        std::lock_guard lock(flagMutex);
        if (scanning.load()) {
            rescanRequested.store(true);
            return;
        }
        rescanRequested.store(false);
        ready.store(false, std::memory_order_release);
        clear();
    }
    startScan();
}

void MsfsAircraftLibrary::clear() {
    cfgCache.clear();
    metadataCache.clear();
    // The next scan writes its largest lists into this one's memory, whose
    // pages are in place already.
    for (auto it = profilesBySimulator.begin(); it != profilesBySimulator.end(); ++it) {
        if (it->capacity() > spareProfiles.capacity()) {
            spareProfiles = std::move(*it);
            spareKeys = std::move(keysBySimulator[it.key()]);
        }
    }
    spareProfiles.clear();
    spareKeys.clear();
    profilesBySimulator.clear();
    keysBySimulator.clear();
    scannedCfgs.clear();
    containerIndex.clear();
    containerPaths.clear();
    matchCache.clear();
}

void MsfsAircraftLibrary::scanThreadBody(MsfsAircraftLibrary* library) {
    // A reload during the scan runs one more scan on this same thread, so no
    // second thread can start between this scan's end and the next one.
    for (;;) {
        library->scanAll();
        std::lock_guard lock(library->flagMutex);
        if (library->rescanRequested.exchange(false) && !library->stopRequested.load()) {
            continue;
        }
        // `ready` before `scanning`: whoever sees the scan over sees the data.
        library->ready.store(true, std::memory_order_release);
        library->scanning.store(false);
        break;
    }
    std::lock_guard lock(library->flagMutex);
    --library->runningThreads;
    library->threadsDone.notify_all();
}

int MsfsAircraftLibrary::profileCount(MsfsRuntimeProfile simulator) const {
    if (!isReady()) {
        return 0;
    }
    return static_cast<int>(profilesBySimulator.value(simulatorNumber(simulator)).size());
}

QList<MsfsRuntimeProfile> MsfsAircraftLibrary::availableSimulators() const {
    QList<MsfsRuntimeProfile> out;
    if (!isReady()) {
        return out;
    }
    for (const MsfsRuntimeProfile simulator : {MsfsRuntimeProfile::Msfs2020, MsfsRuntimeProfile::Msfs2024}) {
        if (!profilesBySimulator.value(simulatorNumber(simulator)).isEmpty()) {
            out.append(simulator);
        }
    }
    return out;
}

QList<MsfsAircraftProfile> MsfsAircraftLibrary::profiles(MsfsRuntimeProfile simulator) const {
    return isReady() ? profilesBySimulator.value(simulatorNumber(simulator)) : QList<MsfsAircraftProfile>();
}

std::optional<MsfsAircraftProfile> MsfsAircraftLibrary::findProfileByTitle(MsfsRuntimeProfile simulator,
                                                                           const QString& title) const {
    const QString wanted = title.trimmed().toUpper();
    if (!isReady() || wanted.isEmpty()) {
        return std::nullopt;
    }
    QList<MsfsRuntimeProfile> order;
    if (simulator == MsfsRuntimeProfile::Msfs2020 || simulator == MsfsRuntimeProfile::Msfs2024) {
        order.append(simulator);
    } else {
        order = availableSimulators();
    }
    for (const MsfsRuntimeProfile sim : order) {
        const auto it = profilesBySimulator.constFind(simulatorNumber(sim));
        if (it == profilesBySimulator.cend()) {
            continue;
        }
        for (const MsfsAircraftProfile& profile : *it) {
            if (profile.title.trimmed().toUpper() == wanted) {
                return profile;
            }
        }
    }
    return std::nullopt;
}

// ---- text helpers ----------------------------------------------------------

QString MsfsAircraftLibrary::normalizePath(const QString& text) {
    return msfs::normalizePath(text);
}

QString MsfsAircraftLibrary::stripComment(const QString& line) {
    return msfs::stripComment(line);
}

QString MsfsAircraftLibrary::unquote(const QString& text) {
    return msfs::unquote(text);
}

// ---- installs and roots ----------------------------------------------------

MsfsInstallSettings MsfsAircraftLibrary::readInstallSettings(MsfsRuntimeProfile simulator) {
    const AppConfig* config = AppConfig::instance();
    if (simulator == MsfsRuntimeProfile::Msfs2020) {
        return {config->value(ConfigKeys::MSFSPackagesPath2020),
                config->value(ConfigKeys::MSFSCommunityPath2020),
                config->value(ConfigKeys::MSFSCustomMappingPaths2020)};
    }
    return {config->value(ConfigKeys::MSFSPackagesPath2024), config->value(ConfigKeys::MSFSCommunityPath2024),
            config->value(ConfigKeys::MSFSCustomMappingPaths2024)};
}

QString MsfsAircraftLibrary::existingDirectory(const QString& path) {
    const QString normalized = normalizePath(path);
    if (normalized.isEmpty() || !QFileInfo(normalized).isDir()) {
        return {};
    }
    return normalized;
}

void MsfsAircraftLibrary::addInstall(DiscoveryState& state, MsfsRuntimeProfile simulator,
                                     const QString& label, const QString& sourcePath,
                                     const QString& packagesPath, const QString& communityPath,
                                     const QStringList& importedLibraryPaths) {
    QString packages = existingDirectory(packagesPath);
    const QString community = existingDirectory(communityPath);
    QStringList imported;
    for (const QString& entry : importedLibraryPaths) {
        const QString normalized = normalizePath(entry);
        if (!normalized.isEmpty() && !imported.contains(normalized)) {
            imported.append(normalized);
        }
    }
    imported.removeIf([](const QString& path) { return !QFileInfo(path).isDir(); });
    if (packages.isEmpty() && !community.isEmpty()) {
        packages = existingDirectory(QFileInfo(community).absolutePath());
    }
    if (packages.isEmpty() && community.isEmpty() && imported.isEmpty()) {
        return;
    }
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(simulatorNumber(simulator))
                            .arg(packages, community, imported.join(QLatin1Char(';')));
    if (state.keys.contains(key)) {
        return;
    }
    state.keys.insert(key);
    state.installs.append({simulator, normalizePath(sourcePath), packages, community, imported, label});
}

void MsfsAircraftLibrary::configOverrideInstall(DiscoveryState& state, MsfsRuntimeProfile simulator) {
    const MsfsInstallSettings settings = readInstallSettings(simulator);
    if (settings.packagesPath.isEmpty() && settings.communityPath.isEmpty() &&
        settings.customMappingPaths.isEmpty()) {
        return;
    }
    addInstall(state, simulator, QStringLiteral("config override"), QString(), settings.packagesPath,
               settings.communityPath, settings.customMappingPaths);
}

void MsfsAircraftLibrary::autoDetectUserCfg(DiscoveryState& state, MsfsRuntimeProfile simulator) {
    const MsfsInstallSettings settings = readInstallSettings(simulator);
    if (!settings.packagesPath.isEmpty() || !settings.communityPath.isEmpty() ||
        !settings.customMappingPaths.isEmpty()) {
        return;
    }
    for (const QString& candidate : userCfgCandidates(simulatorNumber(simulator))) {
        const QString base = userCfgBase(candidate);
        if (base.trimmed().isEmpty()) {
            continue;
        }
        const QString userCfg = normalizePath(QDir(base).filePath(candidate));
        const QString packages = readInstalledPackagesPath(userCfg);
        if (!packages.isEmpty()) {
            addInstall(state, simulator, QStringLiteral("auto-detected UserCfg.opt"), userCfg, packages,
                       QString(), QStringList());
        }
    }
}

QList<MsfsInstall> MsfsAircraftLibrary::discoverRoots() {
    DiscoveryState state;
    configOverrideInstall(state, MsfsRuntimeProfile::Msfs2020);
    configOverrideInstall(state, MsfsRuntimeProfile::Msfs2024);
    autoDetectUserCfg(state, MsfsRuntimeProfile::Msfs2020);
    autoDetectUserCfg(state, MsfsRuntimeProfile::Msfs2024);
    return state.installs;
}

void MsfsAircraftLibrary::addRootIfExists(RootState& state, const QString& kind, const QString& path,
                                          bool isCommunity) {
    const QString normalized = normalizePath(path);
    if (normalized.isEmpty() || !QFileInfo(normalized).isDir() || state.paths.contains(normalized)) {
        return;
    }
    state.paths.insert(normalized);
    state.roots.append({kind, normalized, isCommunity});
}

void MsfsAircraftLibrary::officialPackageRoots(const QString& packagesPath, RootState& state,
                                               const QString& kind) {
    const QDir official(QDir(packagesPath).filePath(kind));
    bool any = false;
    for (const QString& sub : {QStringLiteral("OneStore"), QStringLiteral("Steam")}) {
        const QString path = official.filePath(sub);
        if (QFileInfo(path).isDir()) {
            addRootIfExists(state, kind + QLatin1Char('/') + sub, path, false);
            any = true;
        }
    }
    if (!any) {
        addRootIfExists(state, kind, official.path(), false);
    }
}

QList<MsfsLibraryRoot> MsfsAircraftLibrary::rootsForInstall(const MsfsInstall& install) {
    RootState state;
    if (!install.communityPath.isEmpty()) {
        addRootIfExists(state, QStringLiteral("ConfiguredCommunity"), install.communityPath, true);
    }
    for (const QString& path : install.importedLibraryPaths) {
        addRootIfExists(state, QStringLiteral("ImportedLibrary"), path, true);
    }
    if (!install.packagesPath.isEmpty()) {
        const QDir packages(install.packagesPath);
        addRootIfExists(state, QStringLiteral("Community"), packages.filePath(QStringLiteral("Community")),
                        true);
        addRootIfExists(state, QStringLiteral("Community2024"),
                        packages.filePath(QStringLiteral("Community2024")), true);
        for (const QString& kind :
             {QStringLiteral("Official"), QStringLiteral("Official2020"), QStringLiteral("Official2024")}) {
            officialPackageRoots(install.packagesPath, state, kind);
        }
        addRootIfExists(state, QStringLiteral("StreamedPackages"),
                        packages.filePath(QStringLiteral("StreamedPackages")), false);
    }
    return state.roots;
}

} // namespace velk::simulator::msfs
