#include "support/AircraftIcaoFixtures.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtDebug>

namespace velk::test {

namespace {

const QStringList kSchema = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS metadata (  key TEXT PRIMARY KEY,  value TEXT NOT NULL)"),
    QStringLiteral(
        "CREATE TABLE IF NOT EXISTS aircraft_icao (  id INTEGER PRIMARY KEY,  designator TEXT NOT NULL,  "
        "manufacturer TEXT NOT NULL,  model TEXT NOT NULL,  type TEXT NOT NULL,  engine TEXT NOT NULL,  "
        "engine_count INTEGER NOT NULL,  wake_turbulence_category TEXT NOT NULL,  rank INTEGER NOT NULL,  "
        "real_world INTEGER NOT NULL,  legacy INTEGER NOT NULL,  military INTEGER NOT NULL,  created TEXT "
        "NOT NULL,  last_updated TEXT NOT NULL)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS idx_aircraft_icao_designator ON aircraft_icao(designator)"),
};

// Runs `body` on a private connection to `path`, then drops the connection.
template <typename Body> bool withConnection(const QString& path, bool readOnly, Body body) {
    static int counter = 0;
    const QString name = QStringLiteral("icao_fixture_%1").arg(++counter);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        if (readOnly) {
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        }
        db.setDatabaseName(path);
        if (db.open()) {
            ok = body(db);
            db.close();
        } else {
            qWarning() << "fixture cannot open" << path << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

void isolateUserDataFolder() {
    qputenv("XDG_DATA_HOME", freshDir(QStringLiteral("user-data")).toUtf8());
}

QString icaoDatabasePath(const QString& appDir) {
    return appDir + QStringLiteral("/cache/swift/aircrafticao.sqlite");
}

network::AircraftIcaoRecord icaoRecord(int id, const QString& designator, const QString& manufacturer,
                                       const QString& model, const QString& wtc) {
    network::AircraftIcaoRecord r;
    r.id = id;
    r.designator = designator;
    r.manufacturer = manufacturer;
    r.model = model;
    r.type = QStringLiteral("L2J");
    r.engine = QStringLiteral("J");
    r.engineCount = 2;
    r.wakeTurbulenceCategory = wtc;
    r.rank = id;
    r.realWorld = true;
    r.created = QStringLiteral("2020-01-01T00:00:00Z");
    r.lastUpdated = QStringLiteral("2021-01-01T00:00:00Z");
    return r;
}

QString describe(const network::AircraftIcaoRecord& r) {
    const QString flags =
        QString(r.realWorld ? u'R' : u'-') + (r.legacy ? u'L' : u'-') + (r.military ? u'M' : u'-');
    return QStringList{QString::number(r.id) + u' ' + r.designator,
                       r.manufacturer,
                       r.model,
                       r.type,
                       r.engine + u' ' + QString::number(r.engineCount),
                       r.wakeTurbulenceCategory,
                       QString::number(r.rank),
                       flags,
                       r.created,
                       r.lastUpdated}
        .join(u'|');
}

QStringList describe(const QList<network::AircraftIcaoRecord>& records) {
    QStringList out;
    for (const auto& r : records) {
        out.append(describe(r));
    }
    return out;
}

const QStringList& icaoSchema() {
    return kSchema;
}

bool runSql(const QString& path, const QStringList& statements) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    return withConnection(path, false, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            if (!query.exec(statement)) {
                qWarning() << "fixture SQL failed" << statement << query.lastError().text();
                return false;
            }
        }
        return true;
    });
}

bool writeIcaoDatabase(const QString& path, const QList<network::AircraftIcaoRecord>& rows,
                       const QMap<QString, QString>& metadata) {
    if (!runSql(path, kSchema)) {
        return false;
    }
    return withConnection(path, false, [&](QSqlDatabase& db) {
        db.transaction();
        QSqlQuery query(db);
        query.prepare(
            QStringLiteral("INSERT INTO aircraft_icao VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const auto& r : rows) {
            const QVariantList values = {
                r.id,      r.designator,     r.manufacturer, r.model,
                r.type,    r.engine,         r.engineCount,  r.wakeTurbulenceCategory,
                r.rank,    int(r.realWorld), int(r.legacy),  int(r.military),
                r.created, r.lastUpdated};
            for (int i = 0; i < values.size(); ++i) {
                const QVariant& v = values[i];
                // A null QString binds as NULL, which the columns refuse.
                query.bindValue(i, v.typeId() == QMetaType::QString && v.toString().isNull()
                                       ? QVariant(QStringLiteral(""))
                                       : v);
            }
            if (!query.exec()) {
                qWarning() << "fixture insert failed" << query.lastError().text();
                return false;
            }
        }
        query.prepare(QStringLiteral("INSERT INTO metadata (key, value) VALUES (?, ?)"));
        for (auto it = metadata.cbegin(); it != metadata.cend(); ++it) {
            query.bindValue(0, it.key());
            query.bindValue(1, it.value());
            if (!query.exec()) {
                return false;
            }
        }
        query.finish();
        return db.commit();
    });
}

QStringList storedSchema(const QString& path) {
    QStringList out;
    withConnection(path, true, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL ORDER BY rowid"));
        while (query.next()) {
            out.append(query.value(0).toString());
        }
        return true;
    });
    return out;
}

QList<network::AircraftIcaoRecord> storedRows(const QString& path) {
    QList<network::AircraftIcaoRecord> out;
    withConnection(path, true, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT id, designator, manufacturer, model, type, engine, engine_count, "
                                  "wake_turbulence_category, rank, real_world, legacy, military, created, "
                                  "last_updated FROM aircraft_icao ORDER BY id"));
        while (query.next()) {
            network::AircraftIcaoRecord r;
            r.id = query.value(0).toInt();
            r.designator = query.value(1).toString();
            r.manufacturer = query.value(2).toString();
            r.model = query.value(3).toString();
            r.type = query.value(4).toString();
            r.engine = query.value(5).toString();
            r.engineCount = query.value(6).toInt();
            r.wakeTurbulenceCategory = query.value(7).toString();
            r.rank = query.value(8).toInt();
            r.realWorld = query.value(9).toInt() != 0;
            r.legacy = query.value(10).toInt() != 0;
            r.military = query.value(11).toInt() != 0;
            r.created = query.value(12).toString();
            r.lastUpdated = query.value(13).toString();
            out.append(r);
        }
        return true;
    });
    return out;
}

QMap<QString, QString> storedMetadata(const QString& path) {
    QMap<QString, QString> out;
    withConnection(path, true, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT key, value FROM metadata"));
        while (query.next()) {
            out.insert(query.value(0).toString(), query.value(1).toString());
        }
        return true;
    });
    return out;
}

bool writeSmallTypeDatabase() {
    isolateUserDataFolder();
    freshDir(QStringLiteral("cache"));
    return writeIcaoDatabase(
        icaoDatabasePath(appDir()),
        {icaoRecord(1, QStringLiteral("A320"), QStringLiteral("AIRBUS"), QStringLiteral("A-320")),
         icaoRecord(2, QStringLiteral("A321"), QStringLiteral("AIRBUS"), QString(), QString()),
         icaoRecord(3, QStringLiteral("B738"), QStringLiteral("BOEING"), QStringLiteral("737-800"))});
}

bool writeFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace velk::test
