#pragma once

#include "fsd/FsdEnums.h"
#include "fsd/pdu/PDUFields.h"

#include <QList>
#include <QMetaType>
#include <QString>

// Position packets of pilots and controllers, and the server's request for
// fast positions.
namespace velk::fsd::pdu {

// "@": a pilot's position, every few seconds.
class PilotPosition {
public:
    static constexpr QStringView kPrefix = u"@";

    PilotPosition() = default;
    PilotPosition(QString callsign, quint32 transponderCode, bool modeC, bool ident, quint8 rating,
                  double latitude, double longitude, qint32 trueAltitude, qint32 pressureAltitude,
                  qint32 groundSpeed, double pitch, double heading, double bank, bool onGround);

    // The first field is the transponder mode letter, joined to the prefix.
    static PilotPosition fromTokens(const Fields& fields);
    // @mode:callsign:squawk:rating:lat:lon:trueAlt:groundSpeed:pbh:pressureAlt-trueAlt
    // Mode "Y" when ident, else "N" when mode C, else "S"; squawk in four digits.
    QString serialize() const;
    bool operator==(const PilotPosition&) const = default;

    QString from;
    quint32 transponderCode = 0; // the four digits read as a decimal number
    bool modeC = false;
    bool ident = false;
    quint8 rating = 0;
    double latitude = 0.0;
    double longitude = 0.0;
    qint32 trueAltitude = 0;     // feet
    qint32 pressureAltitude = 0; // feet
    qint32 groundSpeed = 0;      // knots
    double pitch = 0.0;          // degrees, through the packed word
    double heading = 0.0;
    double bank = 0.0;
    bool onGround = false;
};

// "%": a controller's (or observer's) position.
class ATCPosition {
public:
    static constexpr QStringView kPrefix = u"%";

    ATCPosition() = default;
    // `frequencies` are written as given, joined by "&" (the observer sends 99998).
    ATCPosition(QString callsign, QList<int> frequencies, NetworkFacility facility, quint32 visualRange,
                quint8 rating, double latitude, double longitude);

    // Received frequencies are in kHz: each "&"-separated number plus 100000;
    // empty parts are skipped, so an empty field gives an empty list.
    static ATCPosition fromTokens(const Fields& fields);
    // callsign:freq[&freq]:facility:range:rating:lat:lon:0 (5 decimals)
    QString serialize() const;
    bool operator==(const ATCPosition&) const = default;

    QString from;
    QList<int> frequencies;
    NetworkFacility facility = NetworkFacility::OBS;
    quint32 visualRange = 0;
    quint8 rating = 0;
    double latitude = 0.0;
    double longitude = 0.0;
};

enum class FastPositionKind : quint8 {
    Fast = 0,    // "^"
    Slow = 1,    // "#SL"
    Stopped = 2, // "#ST": no velocities on the wire
};

// "^", "#SL", "#ST": a pilot's position with velocities, for smooth movement.
class FastPilotPosition {
public:
    static constexpr QStringView kPrefixFast = u"^";
    static constexpr QStringView kPrefixSlow = u"#SL";
    static constexpr QStringView kPrefixStopped = u"#ST";

    FastPilotPosition() = default;
    FastPilotPosition(FastPositionKind kind, QString callsign, double latitude, double longitude,
                      double altitudeTrue, double altitudeAgl, double pitch, double heading, double bank,
                      bool onGround, double velocityX, double velocityY, double velocityZ,
                      double velocityPitch, double velocityHeading, double velocityBank,
                      double noseGearAngle);

    // A stopped report reads as zero velocities. The nose-gear angle may be
    // missing (older peers); it then reads as 0.
    static FastPilotPosition fromTokens(FastPositionKind kind, const Fields& fields);
    // callsign:lat:lon:alt:agl:pbh[:vx:vy:vz:vpitch:vheading:vbank]:noseGear
    QString serialize() const;
    QStringView prefix() const;
    bool operator==(const FastPilotPosition&) const = default;

    FastPositionKind kind = FastPositionKind::Fast;
    QString from;
    double latitude = 0.0;
    double longitude = 0.0;
    double altitudeTrue = 0.0; // feet
    double altitudeAgl = 0.0;  // feet above ground
    double pitch = 0.0;
    double heading = 0.0;
    double bank = 0.0;
    bool onGround = false;
    double velocityX = 0.0; // m/s, horizontal (east)
    double velocityY = 0.0; // m/s, vertical
    double velocityZ = 0.0; // m/s, horizontal (north)
    double velocityPitch = 0.0;
    double velocityHeading = 0.0;
    double velocityBank = 0.0;
    double noseGearAngle = 0.0;
};

// "$SF": the server asks one pilot to start (flag 1) or stop fast reports.
class SendFast {
public:
    static constexpr QStringView kPrefix = u"$SF";

    SendFast() = default;
    SendFast(QString from, QString to, int flag);

    static SendFast fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const SendFast&) const = default;

    QString from;
    QString to;
    int flag = 0;
};

} // namespace velk::fsd::pdu

Q_DECLARE_METATYPE(velk::fsd::pdu::PilotPosition)
Q_DECLARE_METATYPE(velk::fsd::pdu::ATCPosition)
Q_DECLARE_METATYPE(velk::fsd::pdu::FastPositionKind)
Q_DECLARE_METATYPE(velk::fsd::pdu::FastPilotPosition)
Q_DECLARE_METATYPE(velk::fsd::pdu::SendFast)
