#pragma once

#include "network/AircraftIcaoRecord.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QSqlError;

namespace velk::network {

// The process-wide database of ICAO aircraft types: an SQLite file in
// cache/swift beside the executable, read once into memory. Filled from older
// sources (a legacy database copy, the legacy JSON cache, the Doc8643 text)
// while it holds no usable snapshot. Used on the event-loop thread only.
class SwiftAircraftIcaoService : public QObject {
    Q_OBJECT

public:
    // Opens the database below `applicationDirectory` and runs the start-up
    // chain once. The process-wide service is instance(); tests make their own.
    explicit SwiftAircraftIcaoService(const QString& applicationDirectory, QObject* parent = nullptr);
    ~SwiftAircraftIcaoService() override;

    static SwiftAircraftIcaoService* instance();

    // Retries the start-up chain (once per call) while not ready; while the
    // file is locked by another process, only once LockedRetryMs have passed.
    void ensureReady();

    // Milliseconds of a monotonic clock; a steady clock unless replaced. A
    // back-off under way starts afresh on the new clock.
    void setClock(std::function<qint64()> clock);

    DesignatorNormalization normalizeDesignator(const QString& designator) const;
    QList<AircraftIcaoRecord> recordsForDesignator(const QString& designator) const;
    QStringList searchDesignators(const QString& query, int limit) const;
    // The possible designators in a trimmed, upper-case type text, best first.
    QStringList designatorCandidates(const QString& text) const;

    static QString stripCjk(const QString& text);
    static bool isYesFlag(const QString& text);

    bool isReady() const { return ready; }
    bool isDatabaseOpen() const { return databaseOpen; }
    bool isOpenedReadOnly() const { return openedReadOnly; }
    QString currentDatabasePath() const { return databasePath; }
    QString currentSnapshotName() const { return snapshotName; }

    // Source files larger than this are refused unread: no genuine one comes near it.
    static constexpr qint64 MaxSourceFileBytes = 16 * 1024 * 1024;
    // How long a file locked by another process is left before it is tried again.
    static constexpr qint64 LockedRetryMs = 30 * 1000;

signals:
    void readyChanged(bool ready);

private:
    bool openPreferredDatabase();
    // False, with a log line naming it, while something other than a regular
    // file stands at the database's path or at one of its journals'.
    bool databaseFileUsable();
    // Logs why the database cannot be used, once while the reason stays.
    void noteUnusable(const QString& file, const QString& reason);
    // False, with the file left alone, while another process holds it locked.
    bool setAsideDamagedDatabase();
    // True, and the back-off started, when `error` is another process's lock.
    bool noteLocked(const QSqlError& error);
    bool useWritableDatabase();
    bool openDatabase(const QString& path, bool readOnly);
    bool ensureSchema();
    bool connectionAlive() const;
    void dropDeadConnection();
    void closeConnection();
    bool loadFromDatabase();
    void loadSnapshot();
    // Load, else each import in turn, then load again; each step at most once.
    void runLoadChain();
    QString writableDatabasePath() const;
    QString legacyJsonCachePath() const;
    // Removes the legacy JSON cache when it is a plain file: anything else
    // there (a link, a folder, a FIFO) the client did not make. False when
    // nothing was removed.
    bool removeLegacyJsonCache();

    void migrateLegacyDatabase();
    bool migrateDatabaseFile(const QString& source, const QString& label);
    bool replaceableTarget(const QString& label);
    QString legacyAppDataDatabasePath() const;
    QString siblingDatabasePath() const;
    void migrateLegacyJsonCache();
    bool importLegacyJson(const QByteArray& contents);
    void importDoc8643Fallback();
    QString findDoc8643File() const;
    bool replaceAllRecords(const QList<AircraftIcaoRecord>& records, const QString& snapshot,
                           const QString& sourceTag, const QString& licenceTag);

    QString applicationDirectory;

    QSet<QString> designators;
    QHash<QString, QList<AircraftIcaoRecord>> recordsByDesignator;
    QString connectionName;
    QString databasePath;
    QString snapshotName;
    bool ready = false;
    bool notReadyLogged = false;
    bool databaseOpen = false;
    bool openedReadOnly = false;
    bool legacyDatabaseMigrationAttempted = false;
    bool doc8643ImportAttempted = false;

    std::function<qint64()> nowMs;
    // When the file was last found locked by another process; unset otherwise.
    std::optional<qint64> lockedAt;
    // Why the database was last found unusable; cleared once it is opened.
    QString unusableFileLogged;
};

} // namespace velk::network
