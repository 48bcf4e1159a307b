#include "network/SwiftAircraftIcaoService.h"

#include "AppConfig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <limits>
#include <optional>

namespace velk::network {

namespace {

const QString kDriver = QStringLiteral("QSQLITE");
const QString kReadOnlyOption = QStringLiteral("QSQLITE_OPEN_READONLY");
const QString kProbeConnection = QStringLiteral("swift_aircraft_icao_probe");

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

// No genuine source comes near this many records (about ten thousand types
// exist); more is refused rather than held in memory.
constexpr qsizetype kMaxSourceRecords = 200000;

bool isAsciiAlnum(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
}

QString alnumOnly(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (isAsciiAlnum(c)) {
            out.append(c);
        }
    }
    return out;
}

// A bound null QString becomes SQL NULL, which the NOT NULL columns refuse.
QString nonNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// The JSON integer as a 32-bit int; absent, fractional or out of range gives 0.
int jsonInt(const QJsonValue& value) {
    const qint64 v = value.toInteger(0);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<int>(v);
}

// 1200 equal, 900 prefix, 600 contained, 0 otherwise. Designators are at
// most four characters, so a plain scan beats the general string search.
int matchScore(QStringView designator, QStringView query) {
    const qsizetype n = designator.size();
    const qsizetype m = query.size();
    if (m > n) {
        return 0;
    }
    const auto at = [&](qsizetype offset) {
        return std::equal(query.begin(), query.end(), designator.begin() + offset);
    };
    if (at(0)) {
        return m == n ? 1200 : 900;
    }
    for (qsizetype offset = 1; offset + m <= n; ++offset) {
        if (at(offset)) {
            return 600;
        }
    }
    return 0;
}

QString jsonText(const QJsonValue& value) {
    return value.isString() ? value.toString() : QString();
}

// Reads an opened source file whole, refusing one that is oversized or comes
// back shorter than its size.
std::optional<QByteArray> readWholeSource(QFile& file) {
    const QString path = QFileInfo(file).absoluteFilePath();
    const qint64 size = file.size();
    if (size > SwiftAircraftIcaoService::MaxSourceFileBytes) {
        qWarning() << "Skipped oversized swift aircraft ICAO source file:" << path << size;
        return std::nullopt;
    }
    QByteArray bytes = file.read(size);
    if (bytes.size() != size || !file.atEnd()) {
        qWarning() << "Skipped incompletely read swift aircraft ICAO source file:" << path;
        return std::nullopt;
    }
    return bytes;
}

std::optional<QString> decodeUtf8(const QByteArray& bytes, const QString& path) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        qWarning() << "Skipped swift aircraft ICAO source file that is not valid UTF-8:" << path;
        return std::nullopt;
    }
    return text;
}

SwiftAircraftIcaoService* g_instance = nullptr;

void destroyInstance() {
    delete g_instance;
    g_instance = nullptr;
}

} // namespace

SwiftAircraftIcaoService::SwiftAircraftIcaoService(const QString& applicationDirectory, QObject* parent)
    : QObject(parent), applicationDirectory(QDir(applicationDirectory).absolutePath()) {
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

void SwiftAircraftIcaoService::ensureReady() {
    dropDeadConnection();
    if (!databaseOpen) {
        databaseOpen = openPreferredDatabase();
    }
    runLoadChain();
    if (!ready && !notReadyLogged) {
        notReadyLogged = true;
        qInfo()
            << "Swift aircraft ICAO SQLite data is not ready; continuing without ICAO normalization snapshot";
    }
}

// One pass only: with no source at all the service simply stays not ready.
void SwiftAircraftIcaoService::runLoadChain() {
    if (!ready) {
        loadSnapshot();
    }
    if (!ready) {
        migrateLegacyDatabase();
    }
    if (!ready) {
        migrateLegacyJsonCache();
    }
    if (!ready) {
        importDoc8643Fallback();
    }
    if (!ready) {
        loadSnapshot();
    }
}

// ---- database file ---------------------------------------------------------

QString SwiftAircraftIcaoService::writableDatabasePath() const {
    return QDir(applicationDirectory).filePath(QStringLiteral("cache/swift/aircrafticao.sqlite"));
}

QString SwiftAircraftIcaoService::legacyJsonCachePath() const {
    return QDir(applicationDirectory).filePath(QStringLiteral("cache/swift/aircrafticao.json"));
}

bool SwiftAircraftIcaoService::openPreferredDatabase() {
    if (useWritableDatabase()) {
        return true;
    }
    const QString path = writableDatabasePath();
    if (QFileInfo::exists(path) && openDatabase(path, true)) {
        qInfo() << "Using bundled swift aircraft ICAO SQLite database (read-only fallback):" << path;
        return true;
    }
    return false;
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
    db.setConnectOptions(readOnly ? kReadOnlyOption : QString());
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
            qWarning() << "Failed to ensure swift aircraft ICAO SQLite schema:" << query.lastError().text();
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
        qWarning() << "Failed to load swift aircraft ICAO metadata:" << query.lastError().text();
        return false;
    }
    QHash<QString, QString> metadata;
    while (query.next()) {
        metadata.insert(query.value(0).toString(), query.value(1).toString());
    }
    if (!query.exec(QString::fromLatin1(kSelectRows))) {
        qWarning() << "Failed to load swift aircraft ICAO rows:" << query.lastError().text();
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
    QFile::remove(legacyJsonCachePath());
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

// ---- imports ---------------------------------------------------------------

QString SwiftAircraftIcaoService::legacyAppDataDatabasePath() const {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (base.isEmpty()) {
        return QString();
    }
    return QDir(base).filePath(QStringLiteral("cache/swift/aircrafticao.sqlite"));
}

QString SwiftAircraftIcaoService::siblingDatabasePath() const {
    return QDir(applicationDirectory).filePath(QStringLiteral("bin/cache/swift/aircrafticao.sqlite"));
}

void SwiftAircraftIcaoService::migrateLegacyDatabase() {
    if (!databaseOpen || ready || legacyDatabaseMigrationAttempted) {
        return;
    }
    legacyDatabaseMigrationAttempted = true;
    if (writableDatabasePath().isEmpty()) {
        return;
    }
    if (!migrateDatabaseFile(legacyAppDataDatabasePath(), QStringLiteral("legacy AppData"))) {
        migrateDatabaseFile(siblingDatabasePath(), QStringLiteral("bundled sibling"));
    }
}

bool SwiftAircraftIcaoService::migrateDatabaseFile(const QString& source, const QString& label) {
    const QFileInfo target(writableDatabasePath());
    if (source.isEmpty()) {
        return false;
    }
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists() || sourceInfo.absoluteFilePath() == target.absoluteFilePath()) {
        return false;
    }

    bool probeOpened = false;
    qint64 count = 0;
    {
        QSqlDatabase probe = QSqlDatabase::addDatabase(kDriver, kProbeConnection);
        probe.setConnectOptions(kReadOnlyOption);
        probe.setDatabaseName(sourceInfo.absoluteFilePath());
        probeOpened = probe.open();
        if (probeOpened) {
            QSqlQuery query(probe);
            if (query.exec(QStringLiteral("SELECT COUNT(*) FROM aircraft_icao")) && query.next()) {
                count = query.value(0).toLongLong();
            }
        }
        probe.close();
    }
    QSqlDatabase::removeDatabase(kProbeConnection);
    if (!probeOpened) {
        return false;
    }
    if (count < 1) {
        qInfo() << "Skip migrating" << label << "swift aircraft ICAO SQLite database because source is empty:"
                << sourceInfo.absoluteFilePath();
        return false;
    }

    closeConnection();
    const QString targetPath = target.absoluteFilePath();
    const auto reopen = [&] { openDatabase(targetPath, false); };
    const QString folder = target.absolutePath();
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        qWarning() << "Failed to create swift aircraft ICAO target directory for migration:" << folder;
        reopen();
        return false;
    }
    if (QFileInfo::exists(targetPath) && !QFile::remove(targetPath)) {
        qWarning() << "Failed to remove swift aircraft ICAO SQLite database before migration:" << targetPath;
        reopen();
        return false;
    }
    if (!QFile::copy(sourceInfo.absoluteFilePath(), targetPath)) {
        qWarning() << "Failed to copy" << label
                   << "swift aircraft ICAO SQLite database:" << sourceInfo.absoluteFilePath();
        reopen();
        return false;
    }
    if (!openDatabase(targetPath, false)) {
        qWarning() << "Failed to reopen swift aircraft ICAO SQLite database after migration:" << targetPath;
        return false;
    }
    if (!loadFromDatabase()) {
        qWarning() << label << "swift aircraft ICAO SQLite migrated but index rebuild failed:" << targetPath;
        return false;
    }
    qInfo() << "Migrated" << label << "swift aircraft ICAO SQLite database to:" << targetPath;
    qInfo() << "Loaded swift aircraft ICAO SQLite snapshot from" << databasePath
            << "snapshot:" << snapshotName << "designators:" << designators.size();
    return true;
}

void SwiftAircraftIcaoService::migrateLegacyJsonCache() {
    const QString path = legacyJsonCachePath();
    if (!databaseOpen || ready || !QFileInfo::exists(path)) {
        return;
    }
    if (openedReadOnly && !useWritableDatabase()) {
        qWarning()
            << "Failed to switch to writable swift aircraft ICAO SQLite database for legacy JSON migration";
        return;
    }
    if (loadFromDatabase()) {
        if (!QFile::remove(path)) {
            qWarning() << "Failed to remove legacy swift aircraft ICAO JSON cache:" << path;
        }
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Failed to open legacy swift aircraft ICAO JSON cache:" << path;
        return;
    }
    const std::optional<QByteArray> contents = readWholeSource(file);
    file.close();
    const bool imported =
        contents && decodeUtf8(*contents, QFileInfo(path).absoluteFilePath()) && importLegacyJson(*contents);
    if (!imported) {
        qWarning() << "Failed to migrate legacy swift aircraft ICAO JSON cache into SQLite";
        return;
    }
    if (QFile::remove(path)) {
        qInfo() << "Migrated legacy swift aircraft ICAO JSON cache into writable SQLite database";
    } else {
        qWarning() << "Failed to remove migrated swift aircraft ICAO JSON cache:" << path;
    }
}

bool SwiftAircraftIcaoService::isYesFlag(const QString& text) {
    return text.trimmed().compare(u"Y", Qt::CaseInsensitive) == 0;
}

bool SwiftAircraftIcaoService::importLegacyJson(const QByteArray& contents) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(contents, &error);
    if (document.isNull() || !document.isObject()) {
        qWarning() << "swift aircraft ICAO JSON parse error:" << error.errorString();
        return false;
    }
    const QJsonObject root = document.object();
    const QJsonValue data = root.value(u"data");
    if (!data.isArray()) {
        qWarning() << "swift aircraft ICAO JSON is missing data array";
        return false;
    }
    const QJsonArray array = data.toArray();
    if (array.size() > kMaxSourceRecords) {
        qWarning() << "Skipped oversized swift aircraft ICAO source file:" << legacyJsonCachePath()
                   << array.size();
        return false;
    }
    QList<AircraftIcaoRecord> records;
    records.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject()) {
            continue;
        }
        const QJsonObject object = element.toObject();
        AircraftIcaoRecord record;
        record.designator = jsonText(object.value(u"designator")).trimmed().toUpper();
        if (record.designator.isEmpty()) {
            continue;
        }
        record.id = jsonInt(object.value(u"id"));
        record.manufacturer = jsonText(object.value(u"manufacturer"));
        record.model = jsonText(object.value(u"model"));
        record.type = jsonText(object.value(u"type"));
        record.engine = jsonText(object.value(u"engine"));
        record.engineCount = jsonInt(object.value(u"enginecount"));
        record.wakeTurbulenceCategory = jsonText(object.value(u"wtc"));
        record.rank = jsonInt(object.value(u"rank"));
        record.realWorld = isYesFlag(jsonText(object.value(u"realworld")));
        record.legacy = isYesFlag(jsonText(object.value(u"legacy")));
        record.military = isYesFlag(jsonText(object.value(u"military")));
        record.created = jsonText(object.value(u"created"));
        record.lastUpdated = jsonText(object.value(u"lastupdated"));
        records.append(std::move(record));
    }
    return replaceAllRecords(records, jsonText(root.value(u"latest")),
                             QStringLiteral("legacy-json-migration"),
                             QStringLiteral("migrated-from-local-json"));
}

QString SwiftAircraftIcaoService::findDoc8643File() const {
    static const char* const candidates[] = {
        "Resources/Doc8643.txt",
        "resources/Doc8643.txt",
        "../plugin/include/XPMP2/Resources/Doc8643.txt",
        "plugin/include/XPMP2/Resources/Doc8643.txt",
    };
    QStringList paths;
    for (const char* candidate : candidates) {
        paths.append(QDir::cleanPath(QDir(applicationDirectory).filePath(QString::fromLatin1(candidate))));
    }
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.exists() && info.isFile()) {
            return info.absoluteFilePath();
        }
    }
    return paths.first();
}

void SwiftAircraftIcaoService::importDoc8643Fallback() {
    if (!databaseOpen || ready || doc8643ImportAttempted) {
        return;
    }
    doc8643ImportAttempted = true;
    const QFileInfo info(findDoc8643File());
    if (!info.exists() || !info.isFile()) {
        return;
    }
    const QString path = info.absoluteFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Failed to open Doc8643 fallback aircraft ICAO data:" << path;
        return;
    }
    const std::optional<QByteArray> bytes = readWholeSource(file);
    file.close();
    if (!bytes) {
        return;
    }
    const std::optional<QString> text = decodeUtf8(*bytes, path);
    if (!text) {
        return;
    }

    const QString stamp = info.lastModified().toUTC().toString(Qt::ISODate);
    QList<AircraftIcaoRecord> records;
    int lineNumber = 0;
    const QStringView all(*text);
    for (qsizetype start = 0; start < all.size();) {
        qsizetype end = all.indexOf(u'\n', start);
        if (end < 0) {
            end = all.size();
        }
        const QStringView line = all.mid(start, end - start).trimmed();
        start = end + 1;
        ++lineNumber;
        if (line.isEmpty()) {
            continue;
        }
        const QList<QStringView> fields = line.split(u'\t', Qt::KeepEmptyParts);
        if (fields.size() < 5) {
            continue;
        }
        AircraftIcaoRecord record;
        record.designator = fields[2].trimmed().toString().toUpper();
        if (record.designator.size() < 2 || record.designator.size() > 4) {
            continue;
        }
        record.id = lineNumber;
        record.rank = lineNumber;
        record.manufacturer = stripCjk(fields[0].toString());
        record.model = stripCjk(fields[1].toString());
        record.type = fields[3].trimmed().toString().toUpper();
        record.wakeTurbulenceCategory = stripCjk(fields[4].toString()).toUpper();
        if (record.type.size() >= 3 && record.type.at(1).isDigit()) {
            record.engineCount = record.type.at(1).digitValue();
            record.engine = record.type.right(1);
        } else {
            record.engineCount = 0;
            record.engine = QStringLiteral("-");
        }
        record.realWorld = true;
        record.created = stamp;
        record.lastUpdated = stamp;
        records.append(std::move(record));
        if (records.size() > kMaxSourceRecords) {
            qWarning() << "Skipped oversized swift aircraft ICAO source file:" << path << records.size();
            return;
        }
    }

    if (replaceAllRecords(records, QStringLiteral("Doc8643 %1").arg(stamp),
                          QStringLiteral("xpmp2-doc8643-fallback"), QStringLiteral("bundled-with-xpmp2"))) {
        qInfo() << "Imported Doc8643 fallback aircraft ICAO data into SQLite database:" << path
                << "designators:" << designators.size();
    }
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
        db.rollback();
        return false;
    }
    return loadFromDatabase();
}

// ---- normalisation and search ----------------------------------------------

QStringList SwiftAircraftIcaoService::designatorCandidates(const QString& text) const {
    QStringList out;
    // A flight-plan text may be tens of kilobytes long: duplicates are found
    // through a set, not by scanning the list.
    QSet<QStringView> seen;
    const auto add = [&](QStringView candidate) {
        if (candidate.size() >= 2 && candidate.size() <= 4 && !seen.contains(candidate)) {
            seen.insert(candidate);
            out.append(candidate.toString());
        }
    };
    add(text);

    // Runs of A-Z/0-9: the parts between separators.
    QList<QStringView> runs;
    const QStringView view(text);
    for (qsizetype i = 0; i < view.size();) {
        if (!isAsciiAlnum(view[i])) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < view.size() && isAsciiAlnum(view[end])) {
            ++end;
        }
        runs.append(view.mid(i, end - i));
        i = end;
    }
    for (QStringView run : runs) {
        add(run);
        add(run.left(4));
    }
    // Left-to-right chunks of two to four characters within each run.
    for (QStringView run : runs) {
        for (qsizetype i = 0; run.size() - i >= 2; i += 4) {
            add(run.mid(i, std::min<qsizetype>(4, run.size() - i)));
        }
    }
    const QString joined = alnumOnly(view);
    add(joined);
    add(QStringView(joined).left(4));
    return out;
}

DesignatorNormalization SwiftAircraftIcaoService::normalizeDesignator(const QString& designator) const {
    DesignatorNormalization result;
    result.input = designator;
    result.normalized = designator.trimmed().toUpper();
    if (result.normalized.isEmpty() || !ready) {
        return result;
    }
    for (const QString& candidate : designatorCandidates(result.normalized)) {
        if (designators.contains(candidate)) {
            result.exact = candidate == result.normalized;
            result.normalized = candidate;
            result.found = true;
            break;
        }
    }
    return result;
}

QList<AircraftIcaoRecord> SwiftAircraftIcaoService::recordsForDesignator(const QString& designator) const {
    return recordsByDesignator.value(designator.trimmed().toUpper());
}

QStringList SwiftAircraftIcaoService::searchDesignators(const QString& query, int limit) const {
    if (limit < 1 || !ready) {
        return {};
    }
    const QString upper = query.trimmed().toUpper();
    if (upper.isEmpty()) {
        return {};
    }
    const QString stripped = alnumOnly(upper);
    const bool useStripped = !stripped.isEmpty();

    struct Hit {
        int score;
        const QString* designator;
    };
    QList<Hit> hits;
    for (const QString& d : designators) {
        if (d.size() < 2 || d.size() > 4) {
            continue;
        }
        int score = matchScore(d, upper);
        if (useStripped) {
            score = std::max(score, matchScore(d, stripped));
        }
        if (score == 0) {
            continue;
        }
        if (d.size() == 4) {
            score += 40;
        }
        hits.append({score, &d});
    }
    const auto better = [](const Hit& a, const Hit& b) {
        if (a.score != b.score) {
            return a.score > b.score;
        }
        return *a.designator < *b.designator;
    };
    const qsizetype count = std::min<qsizetype>(limit, hits.size());
    std::partial_sort(hits.begin(), hits.begin() + count, hits.end(), better);
    QStringList out;
    out.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        out.append(*hits[i].designator);
    }
    return out;
}

} // namespace velk::network
