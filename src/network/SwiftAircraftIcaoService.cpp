// The aircraft-type store: the process-wide instance, the SQLite file, its
// schema, the in-memory snapshot and replacing every record at once.
#include "network/SwiftAircraftIcaoService.h"
#include "network/SwiftAircraftIcaoSql.h"

#include "AppConfig.h"
#include "common/FileAside.h"
#include "common/RegularFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <chrono>

namespace velk::network {

using icaosql::kDriver;

namespace {

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS metadata (  key TEXT PRIMARY KEY,  value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS aircraft_icao (  id INTEGER PRIMARY KEY,  designator TEXT NOT NULL,  "
    "manufacturer TEXT NOT NULL,  model TEXT NOT NULL,  type TEXT NOT NULL,  engine TEXT NOT NULL,  "
    "engine_count INTEGER NOT NULL,  wake_turbulence_category TEXT NOT NULL,  rank INTEGER NOT NULL,  "
    "real_world INTEGER NOT NULL,  legacy INTEGER NOT NULL,  military INTEGER NOT NULL,  created TEXT NOT "
    "NULL,  "
    "last_updated TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS idx_aircraft_icao_designator ON aircraft_icao(designator)",
};

const char* const kSelectRows =
    "SELECT id, designator, manufacturer, model, type, engine, engine_count, wake_turbulence_category, rank, "
    "real_world, legacy, military, created, last_updated FROM aircraft_icao ORDER BY designator, id";

const char* const kInsertRow =
    "INSERT INTO aircraft_icao (  id, designator, manufacturer, model, type, engine, engine_count,  "
    "wake_turbulence_category, rank, real_world, legacy, military, created, last_updated) VALUES (?, ?, ?, "
    "?, ?, "
    "?, ?, ?, ?, ?, ?, ?, ?, ?)";

// A bound null QString becomes SQL NULL, which the NOT NULL columns refuse.
QString nonNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// SQLite's primary result codes: the file is another's to write right now,
// or it is not, or no longer, a database.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

int primaryCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok ? code : 0;
}

bool isDamageError(const QSqlError& error) {
    const int code = primaryCode(error);
    return code == kSqliteCorrupt || code == kSqliteNotADatabase;
}

bool isLockError(const QSqlError& error) {
    const int code = primaryCode(error);
    return code == kSqliteBusy || code == kSqliteLocked;
}

// The columns of the two tables as the schema above makes them; a table of
// either name with other columns is not this store's.
const QStringList kTypeColumns = {QStringLiteral("id"),           QStringLiteral("designator"),
                                  QStringLiteral("manufacturer"), QStringLiteral("model"),
                                  QStringLiteral("type"),         QStringLiteral("engine"),
                                  QStringLiteral("engine_count"), QStringLiteral("wake_turbulence_category"),
                                  QStringLiteral("rank"),         QStringLiteral("real_world"),
                                  QStringLiteral("legacy"),       QStringLiteral("military"),
                                  QStringLiteral("created"),      QStringLiteral("last_updated")};
const QStringList kMetadataColumns = {QStringLiteral("key"), QStringLiteral("value")};

struct FileCheck {
    bool damaged = false;
    // Set when the check failed; a lock shows here and is no proof of damage.
    QSqlError error;
};

// Damaged only when SQLite reports the file unreadable as a database, or a
// table of the store's names has other columns: a locked or unopenable file
// is no proof of damage and is left where it is.
FileCheck checkDatabaseFile(const QString& path) {
    const QString name = QStringLiteral("swift_aircraft_icao_check");
    FileCheck result;
    {
        QSqlDatabase check = QSqlDatabase::addDatabase(kDriver, name);
        check.setConnectOptions(icaosql::connectOptions(false));
        check.setDatabaseName(path);
        if (check.open()) {
            QSqlQuery query(check);
            if (!query.exec(QStringLiteral("PRAGMA quick_check(1)")) || !query.next()) {
                result.error = query.lastError();
                result.damaged = isDamageError(result.error);
            } else if (query.value(0).toString() != QStringLiteral("ok")) {
                result.damaged = true;
            } else {
                for (const auto& [table, expected] :
                     {std::pair{QStringLiteral("aircraft_icao"), &kTypeColumns},
                      std::pair{QStringLiteral("metadata"), &kMetadataColumns}}) {
                    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
                        result.error = query.lastError();
                        break;
                    }
                    QStringList columns;
                    while (query.next()) {
                        columns.append(query.value(1).toString());
                    }
                    // An absent table is made by the schema statements.
                    if (!columns.isEmpty() && columns != *expected) {
                        qWarning() << "swift aircraft ICAO SQLite table" << table
                                   << "has other columns:" << columns.join(QStringLiteral(", "));
                        result.damaged = true;
                        break;
                    }
                }
            }
        }
        check.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

qint64 steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SwiftAircraftIcaoService* g_instance = nullptr;

void destroyInstance() {
    delete g_instance;
    g_instance = nullptr;
}

} // namespace

SwiftAircraftIcaoService::SwiftAircraftIcaoService(const QString& applicationDirectory, QObject* parent)
    : QObject(parent), applicationDirectory(QDir(applicationDirectory).absolutePath()), nowMs(steadyMs) {
    connectionName = QStringLiteral("swift_aircraft_icao_%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
    databaseOpen = openPreferredDatabase();
    runLoadChain();
}

SwiftAircraftIcaoService::~SwiftAircraftIcaoService() {
    if (connectionName.isEmpty()) {
        return;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isValid()) {
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connectionName);
}

SwiftAircraftIcaoService* SwiftAircraftIcaoService::instance() {
    if (!g_instance) {
        const QString dir =
            QString::fromStdU16String(AppConfig::instance()->applicationDirectory().u16string());
        g_instance = new SwiftAircraftIcaoService(dir);
        qAddPostRoutine(destroyInstance);
    }
    return g_instance;
}

void SwiftAircraftIcaoService::setClock(std::function<qint64()> clock) {
    nowMs = std::move(clock);
    if (lockedAt) {
        lockedAt = nowMs();
    }
}

void SwiftAircraftIcaoService::ensureReady() {
    // Called on every keystroke of the type field: a locked file is not
    // waited on again until the back-off has lapsed.
    if (lockedAt && nowMs() - *lockedAt >= LockedRetryMs) {
        lockedAt.reset();
    }
    if (!lockedAt) {
        dropDeadConnection();
        if (!databaseOpen) {
            databaseOpen = openPreferredDatabase();
        }
        runLoadChain();
    }
    if (!ready && !notReadyLogged) {
        notReadyLogged = true;
        qInfo()
            << "Swift aircraft ICAO SQLite data is not ready; continuing without ICAO normalization snapshot";
    }
}

// One pass only: with no source at all the service simply stays not ready.
// A lock met on the way ends the pass; the file is closed until the retry.
void SwiftAircraftIcaoService::runLoadChain() {
    using Step = void (SwiftAircraftIcaoService::*)();
    for (const Step step :
         {&SwiftAircraftIcaoService::loadSnapshot, &SwiftAircraftIcaoService::migrateLegacyDatabase,
          &SwiftAircraftIcaoService::migrateLegacyJsonCache, &SwiftAircraftIcaoService::importDoc8643Fallback,
          &SwiftAircraftIcaoService::loadSnapshot}) {
        if (ready || lockedAt) {
            break;
        }
        (this->*step)();
    }
    if (lockedAt) {
        closeConnection();
    }
}

bool SwiftAircraftIcaoService::noteLocked(const QSqlError& error) {
    if (!isLockError(error)) {
        return false;
    }
    if (!lockedAt) {
        lockedAt = nowMs();
        qWarning() << "swift aircraft ICAO SQLite database is locked by another process; trying again later:"
                   << writableDatabasePath() << error.text();
    }
    return true;
}

// ---- database file ---------------------------------------------------------

QString SwiftAircraftIcaoService::writableDatabasePath() const {
    return QDir(applicationDirectory).filePath(QStringLiteral("cache/swift/aircrafticao.sqlite"));
}

QString SwiftAircraftIcaoService::legacyJsonCachePath() const {
    return QDir(applicationDirectory).filePath(QStringLiteral("cache/swift/aircrafticao.json"));
}

bool SwiftAircraftIcaoService::openPreferredDatabase() {
    if (!databaseFileUsable() || !setAsideDamagedDatabase()) {
        return false;
    }
    unusableFileLogged.clear();
    if (useWritableDatabase()) {
        return true;
    }
    // A read-only open of a locked file would only meet the same lock.
    if (lockedAt) {
        closeConnection();
        return false;
    }
    const QString path = writableDatabasePath();
    if (QFileInfo::exists(path) && openDatabase(path, true)) {
        qInfo() << "Using swift aircraft ICAO SQLite database read-only:" << databasePath;
        return true;
    }
    return false;
}

// A folder, FIFO or device at the path, or a link to nothing, is not the
// store's file: it is neither opened (SQLite would wait for good on a FIFO,
// or create the file wherever the link points) nor moved or removed, and the
// store is unavailable while it is there.
bool SwiftAircraftIcaoService::databaseFileUsable() {
    const QString path = writableDatabasePath();
    QString reason;
    QString file = icaosql::unusableDatabaseFile(path, &reason);
    if (file.isEmpty()) {
        const QFileInfo info(path);
        if (info.isSymLink() && !info.exists()) {
            file = path;
            reason = QStringLiteral("a link to nothing");
        }
    }
    if (file.isEmpty()) {
        return true;
    }
    noteUnusable(file, reason);
    return false;
}

// Asked on every keystroke of the type field: said once, and again only when
// something else stands in the way.
void SwiftAircraftIcaoService::noteUnusable(const QString& file, const QString& reason) {
    const QString problem = file + QLatin1Char('\n') + reason;
    if (problem != unusableFileLogged) {
        unusableFileLogged = problem;
        qWarning() << "swift aircraft ICAO SQLite database is unavailable:" << file << reason;
    }
}

// The damaged file is kept for a look by hand; a fresh one in its place lets
// the imports rebuild the store. When it cannot be moved nothing changes.
bool SwiftAircraftIcaoService::setAsideDamagedDatabase() {
    const QFileInfo info(writableDatabasePath());
    if (!info.isFile() || info.size() == 0) {
        return true;
    }
    const FileCheck check = checkDatabaseFile(info.absoluteFilePath());
    if (noteLocked(check.error)) {
        return false;
    }
    if (!check.damaged) {
        return true;
    }
    closeConnection();
    // A link to it was put there by someone else, and stays.
    if (!common::isPlainFile(info.absoluteFilePath())) {
        noteUnusable(info.absoluteFilePath(), QStringLiteral("damaged, and a link: left as it is"));
        return false;
    }
    const QString aside = common::moveAside(info.absoluteFilePath(), QStringLiteral("damaged"));
    if (aside.isEmpty()) {
        qWarning() << "Failed to move damaged swift aircraft ICAO SQLite database aside:"
                   << info.absoluteFilePath();
        return true;
    }
    qWarning() << "Moved damaged swift aircraft ICAO SQLite database aside:" << info.absoluteFilePath()
               << "to" << aside;
    return true;
}

bool SwiftAircraftIcaoService::useWritableDatabase() {
    const QString path = writableDatabasePath();
    const bool opened = openDatabase(path, false);
    if (opened) {
        qInfo() << "Using writable swift aircraft ICAO SQLite database:" << path;
    }
    return opened;
}

bool SwiftAircraftIcaoService::openDatabase(const QString& path, bool readOnly) {
    const QFileInfo info(path);
    if (!readOnly) {
        const QString folder = info.absolutePath();
        if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
            qWarning() << "Failed to create swift aircraft ICAO database directory:" << folder;
            return false;
        }
    }
    QSqlDatabase db = QSqlDatabase::contains(connectionName)
                          ? QSqlDatabase::database(connectionName, false)
                          : QSqlDatabase::addDatabase(kDriver, connectionName);
    if (!db.isValid()) {
        qWarning() << "Failed to initialize SQLite driver for swift aircraft ICAO database";
        return false;
    }
    if (db.isOpen()) {
        db.close();
    }
    // The connection is closed from here on until the open below succeeds.
    databaseOpen = false;

    const QString absolute = info.absoluteFilePath();
    // SQLite quietly drops to read-only on a write-protected file; treat that
    // as the failed read-write open it is, so that the read-only path is taken.
    if (!readOnly && info.exists() && !info.isWritable()) {
        qWarning() << "Failed to open swift aircraft ICAO SQLite database:" << absolute
                   << QStringLiteral("file is not writable");
        return false;
    }
    db.setConnectOptions(icaosql::connectOptions(readOnly));
    db.setDatabaseName(absolute);
    if (!db.open()) {
        qWarning() << "Failed to open swift aircraft ICAO SQLite database:" << absolute
                   << db.lastError().text();
        return false;
    }
    databasePath = absolute;
    openedReadOnly = readOnly;
    const bool result = readOnly ? true : ensureSchema();
    databaseOpen = result;
    return result;
}

bool SwiftAircraftIcaoService::ensureSchema() {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (!db.isValid() || !db.isOpen()) {
        return false;
    }
    QSqlQuery query(db);
    for (const char* statement : kSchema) {
        if (!query.exec(QString::fromLatin1(statement))) {
            if (!noteLocked(query.lastError())) {
                qWarning() << "Failed to ensure swift aircraft ICAO SQLite schema:"
                           << query.lastError().text();
            }
            return false;
        }
    }
    return true;
}

bool SwiftAircraftIcaoService::connectionAlive() const {
    const QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    return db.isValid() && db.isOpen() && QFileInfo::exists(databasePath);
}

void SwiftAircraftIcaoService::closeConnection() {
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isValid() && db.isOpen()) {
            db.close();
        }
    }
    databaseOpen = false;
}

// A connection that was closed, or whose file was removed underneath it, is
// dropped so that the caller opens the database afresh.
void SwiftAircraftIcaoService::dropDeadConnection() {
    if (databaseOpen && !connectionAlive()) {
        qWarning() << "Lost swift aircraft ICAO SQLite database; reopening:" << databasePath;
        closeConnection();
    }
}

bool SwiftAircraftIcaoService::loadFromDatabase() {
    if (!databaseOpen) {
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (!db.isValid() || !db.isOpen()) {
        databaseOpen = false;
        return false;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT key, value FROM metadata"))) {
        if (!noteLocked(query.lastError())) {
            qWarning() << "Failed to load swift aircraft ICAO metadata:" << query.lastError().text();
        }
        return false;
    }
    QHash<QString, QString> metadata;
    while (query.next()) {
        metadata.insert(query.value(0).toString(), query.value(1).toString());
    }
    if (!query.exec(QString::fromLatin1(kSelectRows))) {
        if (!noteLocked(query.lastError())) {
            qWarning() << "Failed to load swift aircraft ICAO rows:" << query.lastError().text();
        }
        return false;
    }
    QSet<QString> loaded;
    QHash<QString, QList<AircraftIcaoRecord>> grouped;
    while (query.next()) {
        AircraftIcaoRecord record;
        record.designator = query.value(1).toString();
        if (record.designator.isEmpty()) {
            continue;
        }
        record.id = query.value(0).toInt();
        record.manufacturer = stripCjk(query.value(2).toString());
        record.model = stripCjk(query.value(3).toString());
        record.type = stripCjk(query.value(4).toString());
        record.engine = stripCjk(query.value(5).toString());
        record.engineCount = query.value(6).toInt();
        record.wakeTurbulenceCategory = stripCjk(query.value(7).toString());
        record.rank = query.value(8).toInt();
        record.realWorld = query.value(9).toLongLong() != 0;
        record.legacy = query.value(10).toLongLong() != 0;
        record.military = query.value(11).toLongLong() != 0;
        record.created = query.value(12).toString();
        record.lastUpdated = query.value(13).toString();
        loaded.insert(record.designator);
        grouped[record.designator].append(std::move(record));
    }
    if (loaded.isEmpty()) {
        return false;
    }
    designators = std::move(loaded);
    recordsByDesignator = std::move(grouped);
    snapshotName = metadata.value(QStringLiteral("latest_snapshot"));
    const bool wasReady = ready;
    ready = true;
    if (!wasReady) {
        emit readyChanged(true);
    }
    return true;
}

void SwiftAircraftIcaoService::loadSnapshot() {
    if (!databaseOpen || !loadFromDatabase()) {
        return;
    }
    removeLegacyJsonCache();
    qInfo() << "Loaded swift aircraft ICAO SQLite snapshot from" << databasePath
            << "snapshot:" << snapshotName << "designators:" << designators.size();
}

QString SwiftAircraftIcaoService::stripCjk(const QString& text) {
    const bool hasCjk = std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF);
    });
    if (!hasCjk) {
        return text.trimmed();
    }
    static const QRegularExpression cjk(
        QStringLiteral(R"([\x{3400}-\x{4DBF}\x{4E00}-\x{9FFF}\x{F900}-\x{FAFF}])"));
    QString out = text;
    out.remove(cjk);
    return out.trimmed();
}
bool SwiftAircraftIcaoService::replaceAllRecords(const QList<AircraftIcaoRecord>& records,
                                                 const QString& snapshot, const QString& sourceTag,
                                                 const QString& licenceTag) {
    const bool anyDesignator = std::any_of(records.cbegin(), records.cend(), [](const AircraftIcaoRecord& r) {
        return !r.designator.trimmed().isEmpty();
    });
    if (!anyDesignator) {
        qWarning() << "swift aircraft ICAO data produced no valid designators";
        return false;
    }
    // Never write into a file that was removed underneath the connection.
    dropDeadConnection();
    if (!databaseOpen) {
        databaseOpen = openPreferredDatabase();
        if (!databaseOpen) {
            return false;
        }
    }
    if (openedReadOnly && !useWritableDatabase()) {
        qWarning() << "Failed to switch to writable swift aircraft ICAO SQLite database for import";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (!db.isValid() || !db.isOpen()) {
        qWarning() << "swift aircraft ICAO SQLite database is not ready";
        return false;
    }
    if (!db.transaction()) {
        qWarning() << "Failed to start swift aircraft ICAO SQLite transaction:" << db.lastError().text();
        return false;
    }

    bool written = false;
    {
        QSqlQuery query(db);
        const auto fail = [&](const char* message) {
            qWarning() << message << query.lastError().text();
            noteLocked(query.lastError());
            query.finish();
        };
        if (!query.exec(QStringLiteral("DELETE FROM aircraft_icao"))) {
            fail("Failed to clear swift aircraft ICAO table:");
        } else if (!query.exec(QStringLiteral("DELETE FROM metadata"))) {
            fail("Failed to clear swift aircraft ICAO metadata:");
        } else if (!query.prepare(QString::fromLatin1(kInsertRow))) {
            fail("Failed to insert swift aircraft ICAO row:");
        } else {
            written = true;
            for (const AircraftIcaoRecord& r : records) {
                query.bindValue(0, r.id);
                query.bindValue(1, nonNull(r.designator));
                query.bindValue(2, nonNull(r.manufacturer));
                query.bindValue(3, nonNull(r.model));
                query.bindValue(4, nonNull(r.type));
                query.bindValue(5, nonNull(r.engine));
                query.bindValue(6, r.engineCount);
                query.bindValue(7, nonNull(r.wakeTurbulenceCategory));
                query.bindValue(8, r.rank);
                query.bindValue(9, r.realWorld ? 1 : 0);
                query.bindValue(10, r.legacy ? 1 : 0);
                query.bindValue(11, r.military ? 1 : 0);
                query.bindValue(12, nonNull(r.created));
                query.bindValue(13, nonNull(r.lastUpdated));
                if (!query.exec()) {
                    fail("Failed to insert swift aircraft ICAO row:");
                    written = false;
                    break;
                }
            }
        }
        if (written) {
            const QList<std::pair<QString, QString>> metadata = {
                {QStringLiteral("latest_snapshot"), nonNull(snapshot)},
                {QStringLiteral("source_url"), nonNull(sourceTag)},
                {QStringLiteral("source_license"), nonNull(licenceTag)},
                {QStringLiteral("imported_at_utc"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                {QStringLiteral("record_count"), QString::number(records.size())},
            };
            if (!query.prepare(QStringLiteral("INSERT INTO metadata (key, value) VALUES (?, ?)"))) {
                fail("Failed to insert swift aircraft ICAO metadata row:");
                written = false;
            }
            for (qsizetype i = 0; written && i < metadata.size(); ++i) {
                query.bindValue(0, metadata[i].first);
                query.bindValue(1, metadata[i].second);
                if (!query.exec()) {
                    fail("Failed to insert swift aircraft ICAO metadata row:");
                    written = false;
                }
            }
        }
        query.finish();
    }
    if (!written) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        qWarning() << "Failed to commit swift aircraft ICAO SQLite transaction:" << db.lastError().text();
        noteLocked(db.lastError());
        db.rollback();
        return false;
    }
    return loadFromDatabase();
}

} // namespace velk::network
