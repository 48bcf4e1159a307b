// Imports into the aircraft-type store: a legacy database copy, the legacy
// JSON cache and the Doc8643 text, each read whole and checked before use.
#include "network/SwiftAircraftIcaoService.h"
#include "network/SwiftAircraftIcaoSql.h"

#include "common/RegularFile.h"

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

#include <limits>
#include <optional>

namespace velk::network {

using icaosql::kDriver;

namespace {

const QString kProbeConnection = QStringLiteral("swift_aircraft_icao_probe");

// No genuine source comes near this many records (about ten thousand types
// exist); more is refused rather than held in memory.
constexpr qsizetype kMaxSourceRecords = 200000;

// The JSON integer as a 32-bit int; absent, fractional or out of range gives 0.
int jsonInt(const QJsonValue& value) {
    const qint64 v = value.toInteger(0);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<int>(v);
}

QString jsonText(const QJsonValue& value) {
    return value.isString() ? value.toString() : QString();
}

// Reads a source file whole. What cannot be opened (also a folder or FIFO,
// which is never waited on) is logged with `openFailure`, an oversized file
// as such; both leave the result without data.
common::RegularFileRead readSource(const QString& path, const char* openFailure) {
    using Status = common::RegularFileRead::Status;
    common::RegularFileRead read =
        common::readRegularFile(path, SwiftAircraftIcaoService::MaxSourceFileBytes);
    if (read.status == Status::TooLarge) {
        qWarning() << "Skipped oversized swift aircraft ICAO source file:" << path << read.reason;
    } else if (!read.isRead()) {
        qWarning() << openFailure << path << read.reason;
    }
    return read;
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

} // namespace

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
    QString reason;
    const QString unusable = icaosql::unusableDatabaseFile(sourceInfo.absoluteFilePath(), &reason);
    if (!unusable.isEmpty()) {
        qWarning() << "Skip migrating" << label
                   << "swift aircraft ICAO SQLite database that cannot be read:" << unusable << reason;
        return false;
    }

    bool probeOpened = false;
    qint64 count = 0;
    {
        QSqlDatabase probe = QSqlDatabase::addDatabase(kDriver, kProbeConnection);
        probe.setConnectOptions(icaosql::connectOptions(true));
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

    if (!replaceableTarget(label)) {
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

bool SwiftAircraftIcaoService::removeLegacyJsonCache() {
    const QString path = legacyJsonCachePath();
    return common::isPlainFile(path) && QFile::remove(path);
}

// The store replaces the file at its path as a whole only when it can know
// the file as its own: a plain file holding nothing but the store's tables.
bool SwiftAircraftIcaoService::replaceableTarget(const QString& label) {
    const QString path = writableDatabasePath();
    if (!QFileInfo::exists(path)) {
        return true;
    }
    QString other;
    if (!common::isPlainFile(path)) {
        other = QStringLiteral("it is a link");
    } else {
        QSqlQuery query(QSqlDatabase::database(connectionName, false));
        if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE name NOT IN ('metadata', "
                                       "'aircraft_icao', 'idx_aircraft_icao_designator') AND "
                                       "substr(name, 1, 7) != 'sqlite_'"))) {
            other = query.lastError().text();
        } else if (query.next()) {
            other = QStringLiteral("it holds %1").arg(query.value(0).toString());
        }
    }
    if (other.isEmpty()) {
        return true;
    }
    qWarning() << "Skip migrating" << label
               << "swift aircraft ICAO SQLite database over a file not its own:" << path << other;
    return false;
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
        if (!removeLegacyJsonCache()) {
            qWarning() << "Failed to remove legacy swift aircraft ICAO JSON cache:" << path;
        }
        return;
    }
    if (lockedAt) {
        return;
    }
    const common::RegularFileRead contents =
        readSource(path, "Failed to open legacy swift aircraft ICAO JSON cache:");
    if (!contents.isRead() && contents.status != common::RegularFileRead::Status::TooLarge) {
        return;
    }
    const bool imported = contents.isRead() &&
                          decodeUtf8(contents.data, QFileInfo(path).absoluteFilePath()) &&
                          importLegacyJson(contents.data);
    if (!imported) {
        qWarning() << "Failed to migrate legacy swift aircraft ICAO JSON cache into SQLite";
        return;
    }
    if (removeLegacyJsonCache()) {
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
        if (info.exists()) {
            qInfo() << "Skipped Doc8643 candidate that is not a regular file:" << path;
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
    const common::RegularFileRead bytes =
        readSource(path, "Failed to open Doc8643 fallback aircraft ICAO data:");
    if (!bytes.isRead()) {
        return;
    }
    const std::optional<QString> text = decodeUtf8(bytes.data, path);
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
    } else if (lockedAt) {
        // Kept for the try after the back-off: the text itself was fine.
        doc8643ImportAttempted = false;
    }
}

} // namespace velk::network
