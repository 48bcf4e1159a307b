#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>

// The text of an aircraft.cfg, parsed in full or, for the scan, only for the
// values the library uses; both under one line rule.
namespace velk::simulator::msfs {

struct ParsedCfg;

// The values of one "FLTSIM." section that make a profile; unquoted, trimmed.
struct MsfsCfgVariation {
    QString title;
    QString uiManufacturer;
    QString uiType;
    QString uiVariation;
    QString atcAirline;
    // MsfsAircraftLibrary::parseCfgBool's reading: 1 or 0, -1 for an empty value.
    std::int8_t isAirTraffic = -1;
    std::int8_t isUserSelectable = -1;

    static bool flag(std::int8_t value, bool fallback) { return value < 0 ? fallback : value == 1; }
};

// The values of section "GENERAL" that make the ICAO metadata.
struct MsfsCfgGeneral {
    QString icaoTypeDesignator;
    QString icaoManufacturer;
    QString icaoModel;
    QString icaoEngineType;
    QString icaoEngineCount;
    QString icaoWtc;
    QString category;
};

// What the scan keeps of one aircraft.cfg.
struct MsfsCfgFacts {
    MsfsCfgGeneral general;
    QString baseContainer;              // "base_container" of "VARIATION", unquoted twice
    QList<MsfsCfgVariation> variations; // in the order their sections first hold a key
    bool hasContent = false;            // some section holds a key
};

ParsedCfg parseCfgText(QStringView text);
MsfsCfgFacts readCfgFacts(QStringView text);

} // namespace velk::simulator::msfs

Q_DECLARE_TYPEINFO(velk::simulator::msfs::MsfsCfgVariation, Q_RELOCATABLE_TYPE);
