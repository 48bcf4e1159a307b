#pragma once

#include "network/SwiftAircraftIcaoService.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>

namespace velk::bench {

// The fields of a generated aircraft type that differ between records.
struct IcaoRow {
    QString designator;
    QString manufacturer;
    QString model;
    int rank = 0;
};

// Creates the type database of a service on `dataDir` (which holds none yet)
// and stores records 1..count as `row(id)` describes them, in one transaction.
inline bool fillIcaoDatabase(const QString& dataDir, int count, const std::function<IcaoRow(int id)>& row) {
    { network::SwiftAircraftIcaoService schemaOnly(dataDir); }
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_fill"));
        db.setDatabaseName(dataDir + QStringLiteral("/cache/swift/aircrafticao.sqlite"));
        if (db.open() && db.transaction()) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral(
                "INSERT INTO aircraft_icao VALUES (?, ?, ?, ?, 'L2J', 'J', 2, 'M', ?, 1, 0, 0, "
                "'2024-01-01T00:00:00Z', '2024-01-01T00:00:00Z')"));
            ok = true;
            for (int id = 1; ok && id <= count; ++id) {
                const IcaoRow r = row(id);
                const QVariantList values = {id, r.designator, r.manufacturer, r.model, r.rank};
                for (int i = 0; i < values.size(); ++i) {
                    query.bindValue(i, values[i]);
                }
                ok = query.exec();
            }
            query.prepare(QStringLiteral("INSERT INTO metadata VALUES ('latest_snapshot', 'bench')"));
            ok = ok && query.exec();
            query.finish();
            ok = ok && db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_fill"));
    return ok;
}

} // namespace velk::bench
