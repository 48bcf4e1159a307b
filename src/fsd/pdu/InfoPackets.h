#pragma once

#include "fsd/FsdEnums.h"
#include "fsd/pdu/PDUFields.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

// Information exchanged between clients and with the server: plane
// information, flight plans, client queries, pings and weather.
namespace velk::fsd::pdu {

// "#SB" with "PIR": asks a pilot for its plane information.
class PlaneInfoRequest {
public:
    static constexpr QStringView kPrefix = u"#SB";

    PlaneInfoRequest() = default;
    PlaneInfoRequest(QString from, QString to);

    static PlaneInfoRequest fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const PlaneInfoRequest&) const = default;

    QString from;
    QString to;
};

// "#SB" with "PI": a pilot's aircraft type, airline, livery and model name.
class PlaneInfoResponse {
public:
    static constexpr QStringView kPrefix = u"#SB";

    PlaneInfoResponse() = default;
    PlaneInfoResponse(QString from, QString to, QString equipment, QString airline, QString livery,
                      QString csl);

    // Values come from the EQUIPMENT=, AIRLINE=, LIVERY= and CSL= fields;
    // a missing one reads as empty.
    static PlaneInfoResponse fromTokens(const Fields& fields);
    // from:to:PI:GEN:EQUIPMENT=…[:AIRLINE=…][:LIVERY=…][:CSL=…], empty ones left out.
    QString serialize() const;
    bool operator==(const PlaneInfoResponse&) const = default;

    QString from;
    QString to;
    QString equipment;
    QString airline;
    QString livery;
    QString csl;
};

// "$FP": a pilot's flight plan, as the server relays it.
class FlightPlan {
public:
    static constexpr QStringView kPrefix = u"$FP";

    FlightPlan() = default;

    // 17 fields; the route is every field from the 17th on, joined again with ':'.
    static FlightPlan fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const FlightPlan&) const = default;

    QString from;
    QString to;
    QString flightRules;
    QString aircraft;
    QString trueAirspeed;
    QString departure;
    QString plannedDepartureTime;
    QString actualDepartureTime;
    QString cruiseAltitude;
    QString destination;
    QString hoursEnroute;
    QString minutesEnroute;
    QString hoursFuel;
    QString minutesFuel;
    QString alternate;
    QString remarks;
    QString route;
};

// "$CQ": a client query; `payload` holds the fields after the type.
class ClientQuery {
public:
    static constexpr QStringView kPrefix = u"$CQ";

    ClientQuery() = default;
    ClientQuery(QString from, QString to, ClientQueryType queryType, QStringList payload = {});

    // An unknown type text reads as ClientQueryType::Unknown.
    static ClientQuery fromTokens(const Fields& fields);
    // from:to:type[:payload…]; each item is one field, but the JSON of ACC and
    // the text of an ATIS line are free text, their ':' kept.
    QString serialize() const;
    bool operator==(const ClientQuery&) const = default;

    QString from;
    QString to;
    ClientQueryType queryType = ClientQueryType::Unknown;
    QStringList payload;
};

// "$CR": the answer to a client query.
class ClientQueryResponse {
public:
    static constexpr QStringView kPrefix = u"$CR";

    ClientQueryResponse() = default;
    ClientQueryResponse(QString from, QString to, ClientQueryType queryType, QStringList payload = {});

    static ClientQueryResponse fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const ClientQueryResponse&) const = default;

    QString from;
    QString to;
    ClientQueryType queryType = ClientQueryType::Unknown;
    QStringList payload;
};

// "$PI": a ping; answered by a pong carrying the same data.
class Ping {
public:
    static constexpr QStringView kPrefix = u"$PI";

    Ping() = default;
    Ping(QString from, QString to, QString timeStamp);

    static Ping fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const Ping&) const = default;

    QString from;
    QString to;
    QString timeStamp; // the data field, passed back unchanged
};

// "$PO": the answer to a ping.
class Pong {
public:
    static constexpr QStringView kPrefix = u"$PO";

    Pong() = default;
    Pong(QString from, QString to, QString timeStamp);

    static Pong fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const Pong&) const = default;

    QString from;
    QString to;
    QString timeStamp;
};

// "$AR": a weather report sent by the server.
class MetarResponse {
public:
    static constexpr QStringView kPrefix = u"$AR";

    MetarResponse() = default;
    MetarResponse(QString from, QString to, QString metar);

    // from:to:METAR:report
    static MetarResponse fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const MetarResponse&) const = default;

    QString from;
    QString to;
    QString metar;
};

} // namespace velk::fsd::pdu

Q_DECLARE_METATYPE(velk::fsd::pdu::PlaneInfoRequest)
Q_DECLARE_METATYPE(velk::fsd::pdu::PlaneInfoResponse)
Q_DECLARE_METATYPE(velk::fsd::pdu::FlightPlan)
Q_DECLARE_METATYPE(velk::fsd::pdu::ClientQuery)
Q_DECLARE_METATYPE(velk::fsd::pdu::ClientQueryResponse)
Q_DECLARE_METATYPE(velk::fsd::pdu::Ping)
Q_DECLARE_METATYPE(velk::fsd::pdu::Pong)
Q_DECLARE_METATYPE(velk::fsd::pdu::MetarResponse)
