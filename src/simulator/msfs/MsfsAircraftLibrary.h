#pragma once

#include "network/AircraftIcaoRecord.h"
#include "simulator/msfs/MsfsCfgText.h"
#include "simulator/msfs/MsfsProfileKeys.h"
#include "simulator/msfs/MsfsRuntimeProfile.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace velk::simulator::msfs {

// The three MSFS settings of one simulator generation, as stored.
struct MsfsInstallSettings {
    QString packagesPath;
    QString communityPath;
    QStringList customMappingPaths;
};

// One installation of one simulator generation. Paths are normalised existing
// folders or empty; at least one of them is set.
struct MsfsInstall {
    MsfsRuntimeProfile simulator = MsfsRuntimeProfile::Unknown;
    QString sourcePath; // the UserCfg.opt it came from; empty for settings
    QString packagesPath;
    QString communityPath;
    QStringList importedLibraryPaths;
    QString label;
};

// One folder to scan.
struct MsfsLibraryRoot {
    QString kind;
    QString path;
    bool isCommunity = false;
};

// The ICAO identity of an aircraft folder, inherited through base containers.
struct AircraftMetadata {
    QString icaoTypeDesignator;
    QString icaoManufacturer;
    QString icaoModel;
    QString icaoEngineType;
    std::int32_t engineCount = 0;
    QString icaoWtc;
    QString category;
    bool valid = false;

    bool operator==(const AircraftMetadata&) const = default;
};

// One aircraft.cfg: section (upper case) -> key (lower case) -> value.
struct ParsedCfg {
    QHash<QString, QHash<QString, QString>> sections;
    QString baseContainer;
    bool hasContent = false;
    QStringList sectionOrder; // section names in the order they first appear
};

// One installed aircraft variation.
struct MsfsAircraftProfile {
    MsfsRuntimeProfile simulator = MsfsRuntimeProfile::Unknown;
    QString packageName;
    QString rootKind;
    QString installPath;
    QString cfgPath;
    QString title;
    QString displayName;
    QString variation;
    QString airline;
    QString icaoType;
    QString manufacturer;
    QString model;
    QString engineType;
    std::int32_t engineCount = 0;
    QString wtc;
    bool isAirTraffic = false;
    bool isUserSelectable = true;
    bool isCommunity = false;

    bool operator==(const MsfsAircraftProfile&) const = default;
};

// The model chosen for one remote aircraft; an empty profile.title means none fits.
struct MsfsModelMatch {
    MsfsRuntimeProfile simulator = MsfsRuntimeProfile::Unknown;
    MsfsAircraftProfile profile = [] {
        MsfsAircraftProfile none;
        none.isUserSelectable = false;
        return none;
    }();
    QString requestedType;
    QString requestedAirline;
    QString requestedLivery;
    QString normalizedType;
    std::int32_t score = INT32_MIN;
    bool exactType = false;
    bool airlineMatched = false;
    bool liveryMatched = false;
    bool matchedViaRecord = false;
    bool fallback = false;
};

// The process-wide catalogue of installed MSFS aircraft variations, scanned
// once per run on a background thread, and the scoring match over it.
//
// The scan thread writes the data while `ready` is false and publishes it by
// setting `ready` with release ordering; every other member function runs on
// the GUI thread and touches the data only after reading `ready` true.
class MsfsAircraftLibrary {
public:
    using Install = MsfsInstall;
    using AircraftMetadata = msfs::AircraftMetadata;

    struct DiscoveryState {
        QList<MsfsInstall> installs;
        QSet<QString> keys;
    };
    struct RootState {
        QSet<QString> paths;
        QList<MsfsLibraryRoot> roots;
    };

    static MsfsAircraftLibrary* instance();

    MsfsAircraftLibrary(const MsfsAircraftLibrary&) = delete;
    MsfsAircraftLibrary& operator=(const MsfsAircraftLibrary&) = delete;

    bool isReady() const { return ready.load(std::memory_order_acquire); }
    bool isScanning() const { return scanning.load(std::memory_order_acquire); }
    void startScan();
    // Drops the data and scans again; during a scan, asks for one more scan.
    void reload();

    int profileCount(MsfsRuntimeProfile simulator) const;
    QList<MsfsRuntimeProfile> availableSimulators() const;
    QList<MsfsAircraftProfile> profiles(MsfsRuntimeProfile simulator) const;
    MsfsModelMatch match(MsfsRuntimeProfile simulator, const QString& type, const QString& airline,
                         const QString& livery);
    std::optional<MsfsAircraftProfile> findProfileByTitle(MsfsRuntimeProfile simulator,
                                                          const QString& title) const;
    bool matchesTypeCode(const MsfsAircraftProfile& profile, const QString& type) const;

    // Install discovery and library roots.
    static QList<MsfsInstall> discoverRoots();
    static void configOverrideInstall(DiscoveryState& state, MsfsRuntimeProfile simulator);
    static void autoDetectUserCfg(DiscoveryState& state, MsfsRuntimeProfile simulator);
    static void addInstall(DiscoveryState& state, MsfsRuntimeProfile simulator, const QString& label,
                           const QString& sourcePath, const QString& packagesPath,
                           const QString& communityPath, const QStringList& importedLibraryPaths);
    static MsfsInstallSettings readInstallSettings(MsfsRuntimeProfile simulator);
    static QString existingDirectory(const QString& path);
    static QList<MsfsLibraryRoot> rootsForInstall(const MsfsInstall& install);
    static void officialPackageRoots(const QString& packagesPath, RootState& state, const QString& kind);
    static void addRootIfExists(RootState& state, const QString& kind, const QString& path, bool isCommunity);

    static QString normalizePath(const QString& text);
    static QString stripComment(const QString& line);
    static QString unquote(const QString& text);
    static QString cleanCfgValue(const QString& text);
    static bool parseCfgBool(const QString& text, bool defaultValue);
    static QString alnumKey(const QString& text);
    static QStringList tokens(const QString& text);
    static bool tokenMatch(const QString& needle, const QStringList& texts);
    static int operatorFamilyScore(const MsfsAircraftProfile& profile, bool hintNamesFamily);
    // Adds the profile's keys to the table and returns them; texts equal to
    // the previous profile's, added just before, share its keys.
    static MsfsProfileKeys addProfileKeys(MsfsKeyTable& table, const MsfsAircraftProfile& profile,
                                          const MsfsAircraftProfile* previous = nullptr,
                                          const MsfsProfileKeys* previousKeys = nullptr);

    // aircraft.cfg files larger than this are refused unread: genuine ones are
    // a few hundred kilobytes at most.
    static constexpr qint64 MaxCfgBytes = 4 * 1024 * 1024;
    // Longest base-container chain followed; genuine chains are one or two deep.
    static constexpr int MaxBaseContainerDepth = 32;

    static QString findBaseContainerCfg(const QString& cfgPath, const QString& reference);

    // Scan steps; on the scan thread only, while not ready.
    void scanAll();
    void scanRoot(const MsfsInstall& install);
    ParsedCfg loadCfg(const QString& path);
    AircraftMetadata resolveMetadata(const QString& cfgPath);

private:
    MsfsAircraftLibrary() = default;
    ~MsfsAircraftLibrary();

    // One aircraft.cfg below a SimObjects folder found by the walk: its root,
    // its package folder's name (also for a package linked into the root) and
    // its normalised path.
    struct FoundCfg {
        const MsfsLibraryRoot* root = nullptr;
        QString packageName;
        QString cfgPath;
    };

    void clear();
    static void scanThreadBody(MsfsAircraftLibrary* library);
    void walkRoot(const MsfsLibraryRoot& root, QSet<QString>& walkedPackages, QList<FoundCfg>& found);
    // Appends the profiles of one cfg's "FLTSIM." sections; returns how many.
    int addProfiles(const MsfsInstall& install, const FoundCfg& file, QList<MsfsAircraftProfile>& profiles,
                    MsfsKeyTable& keys);
    // The base container's cfg, looked up by folder name among the
    // installation's SimObjects/Airplanes folders when the path is not there.
    QString baseContainerCfg(const QString& cfgPath, const QString& reference);
    MsfsModelMatch findBestMatch(MsfsRuntimeProfile simulator, const QString& type, const QString& airline,
                                 const QString& livery) const;
    // These take a path normalizePath already gave: the scan has normalised
    // each one once. `regularFile` when the walk has seen a regular file there.
    MsfsCfgFacts loadNormalizedCfg(const QString& key, bool regularFile = false);
    AircraftMetadata resolveNormalizedMetadata(const QString& key);
    AircraftMetadata resolveMetadataStep(const QString& key, QSet<QString>& visited, int depth);

    QHash<QString, MsfsCfgFacts> cfgCache;
    QHash<QString, AircraftMetadata> metadataCache;
    QHash<int, QList<MsfsAircraftProfile>> profilesBySimulator;
    // Parallel to profilesBySimulator: entry i holds the keys of profile i.
    QHash<int, MsfsKeyTable> keysBySimulator;
    // "%1|%2" of simulator and cfg path, for files already made into profiles.
    QSet<QString> scannedCfgs;
    // Upper-case folder name -> cfg of the installation being scanned.
    QHash<QString, QString> containerIndex;
    // Clean base-container path -> its cfg, for the installation being scanned.
    struct ContainerPath {
        QString path;
        bool exists = false;
    };
    QHash<QString, ContainerPath> containerPaths;
    QHash<QString, MsfsModelMatch> matchCache;
    // The previous scan's largest lists, emptied, for the next scan to fill.
    QList<MsfsAircraftProfile> spareProfiles;
    MsfsKeyTable spareKeys;
    // A scan's read buffers, kept from one aircraft.cfg to the next.
    QByteArray cfgBytes;
    QString cfgText;

    std::atomic<bool> ready{false};
    std::atomic<bool> scanning{false};
    std::atomic<bool> rescanRequested{false};
    // Set when the process ends: a running scan stops at the next file.
    std::atomic<bool> stopRequested{false};

    // Closes the window between a scan's end and a reload; also counts scan
    // threads so that the library outlives them.
    std::mutex flagMutex;
    std::condition_variable threadsDone;
    int runningThreads = 0;
};

} // namespace velk::simulator::msfs

Q_DECLARE_TYPEINFO(velk::simulator::msfs::MsfsAircraftProfile, Q_RELOCATABLE_TYPE);
