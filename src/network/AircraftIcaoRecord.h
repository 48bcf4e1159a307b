#pragma once

#include <QString>

namespace velk::network {

// One row of the aircraft-type table.
struct AircraftIcaoRecord {
    int id = 0;
    QString designator;
    QString manufacturer;
    QString model;
    QString type;
    QString engine;
    int engineCount = 0;
    QString wakeTurbulenceCategory;
    int rank = 0;
    bool realWorld = false;
    bool legacy = false;
    bool military = false;
    QString created;
    QString lastUpdated;

    bool operator==(const AircraftIcaoRecord&) const = default;
};

// What a free-form type text normalised to.
struct DesignatorNormalization {
    QString input;
    QString normalized;
    bool exact = false;
    bool found = false;
};

} // namespace velk::network
