#pragma once

#include "network/AircraftIcaoRecord.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace velk::test {

// Points Qt's per-user data folder (the legacy database's first location) at
// a fresh folder of the test program, so that no real user file is read.
void isolateUserDataFolder();

// The database file of a service made on `appDir`.
QString icaoDatabasePath(const QString& appDir);

// A record with the fields the tests care about; the rest are plain defaults.
network::AircraftIcaoRecord icaoRecord(int id, const QString& designator, const QString& manufacturer = {},
                                       const QString& model = {}, const QString& wtc = QStringLiteral("M"));

// One line per record holding every field, for comparing whole rows:
// "id designator|manufacturer|model|type|engine engineCount|wtc|rank|flags|created|lastUpdated",
// flags being R, L and M (real world, legacy, military) or '-'.
QString describe(const network::AircraftIcaoRecord& record);
QStringList describe(const QList<network::AircraftIcaoRecord>& records);

// The schema statements of the database, as the service runs them.
const QStringList& icaoSchema();

// Creates `path` (and its folder) with the service's schema, then stores the
// rows and metadata. Returns false with a test warning on any SQL failure.
bool writeIcaoDatabase(const QString& path, const QList<network::AircraftIcaoRecord>& rows,
                       const QMap<QString, QString>& metadata = {});

// Replaces the database of the process-wide service (cache/ beside the test
// program) with three types: A320 (AIRBUS, A-320, WTC M), A321 (AIRBUS only)
// and B738 (BOEING, 737-800, WTC M). Call before the service's first use.
bool writeSmallTypeDatabase();

// Runs statements on the SQLite file at `path`, creating it when absent.
bool runSql(const QString& path, const QStringList& statements);

// The `sql` column of sqlite_master for every object that has one, in creation order.
QStringList storedSchema(const QString& path);
QList<network::AircraftIcaoRecord> storedRows(const QString& path);
QMap<QString, QString> storedMetadata(const QString& path);

bool writeFile(const QString& path, const QByteArray& contents);
// The whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);

} // namespace velk::test
