#pragma once

#include <QMetaType>
#include <QString>
#include <QStringView>
#include <QtGlobal>

namespace velk::fsd {

// Client-query types ("$CQ" / "$CR"); a type text the client does not know
// parses as Unknown.
enum class ClientQueryType : quint8 {
    Unknown = 0,
    IsValidATC = 1,             // "ATC"
    Capabilities = 2,           // "CAPS"
    Com1Freq = 3,               // "C?"
    RealName = 4,               // "RN"
    Server = 5,                 // "SV"
    ATIS = 6,                   // "ATIS"
    PublicIP = 7,               // "IP"
    INF = 8,                    // "INF"
    FlightPlan = 9,             // "FP"
    IPC = 10,                   // "IPC"
    RequestRelief = 11,         // "BY"
    CancelRequestRelief = 12,   // "HI"
    RequestHelp = 13,           // "HLP"
    CancelRequestHelp = 14,     // "NOHLP"
    WhoHas = 15,                // "WH"
    InitiateTrack = 16,         // "IT"
    AcceptHandoff = 17,         // "HT"
    DropTrack = 18,             // "DR"
    SetFinalAltitude = 19,      // "FA"
    SetTempAltitude = 20,       // "TA"
    SetBeaconCode = 21,         // "BC"
    SetScratchpad = 22,         // "SC"
    SetVoiceType = 23,          // "VT"
    AircraftConfiguration = 24, // "ACC"
    NewInfo = 25,               // "NEWINFO"
    NewATIS = 26,               // "NEWATIS"
    Estimate = 27,              // "EST"
    SetGlobalData = 28,         // "GD"
};

// Wire text of a query type; empty for Unknown or an out-of-range value.
QString clientQueryTypeToString(ClientQueryType type);
// Query type of a wire text (compared exactly); Unknown when not listed.
ClientQueryType clientQueryTypeFromString(QStringView text);

enum class ProtocolRevision : quint8 {
    Unknown = 0,
    Classic = 9,
    VatsimAuth = 100,
};

// The simulator generation announced in "#AP".
enum class SimulatorType : quint8 {
    Unknown = 0,
    MSFS2020 = 1,
    MSFS2024 = 2,
    XPlane10 = 3,
    XPlane11 = 4,
    XPlane12 = 5,
};

enum class NetworkFacility : quint8 {
    OBS = 0,
    FSS = 1,
    DEL = 2,
    GND = 3,
    TWR = 4,
    APP = 5,
    CTR = 6,
};

enum class NetworkRating : qint8 {
    Inactive = -1,
    Suspended = 0,
    OBS = 1,
    S1 = 2,
    S2 = 3,
    S3 = 4,
    C1 = 5,
    C2 = 6,
    C3 = 7,
    I1 = 8,
    I2 = 9,
    I3 = 10,
    SUP = 11,
    ADM = 12,
};

// The rating's FSD text: "-1" to "12"; a code outside that range gives "0".
QString networkRatingToString(int rating);

} // namespace velk::fsd

Q_DECLARE_METATYPE(velk::fsd::ClientQueryType)
Q_DECLARE_METATYPE(velk::fsd::ProtocolRevision)
Q_DECLARE_METATYPE(velk::fsd::SimulatorType)
Q_DECLARE_METATYPE(velk::fsd::NetworkFacility)
Q_DECLARE_METATYPE(velk::fsd::NetworkRating)
