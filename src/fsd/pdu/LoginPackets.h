#pragma once

#include "fsd/FsdEnums.h"
#include "fsd/pdu/PDUFields.h"

#include <QMetaType>
#include <QString>

// Packets of logging in and out: identification, add and delete.
namespace velk::fsd::pdu {

// "$ID": the client identifies itself to the server.
class ClientIdentification {
public:
    static constexpr QStringView kPrefix = u"$ID";

    ClientIdentification() = default;
    ClientIdentification(QString callsign, quint16 clientId, QString clientName, int majorVersion,
                         int minorVersion, QString cid, QString sysUid, QString initialChallenge);

    static ClientIdentification fromTokens(const Fields& fields);
    // from:SERVER:clientId (lower-case hex):name:major:minor:cid:sysUid[:challenge]
    QString serialize() const;
    bool operator==(const ClientIdentification&) const = default;

    QString from;
    QString to;
    quint16 clientId = 0;
    QString clientName;
    int majorVersion = 0;
    int minorVersion = 0;
    QString cid;
    QString sysUid;
    QString initialChallenge; // written only when not empty
};

// "$DI": the server's identification; `version` is its version text.
class ServerIdentification {
public:
    static constexpr QStringView kPrefix = u"$DI";

    ServerIdentification() = default;
    ServerIdentification(QString from, QString to, QString version, QString initialChallenge);

    static ServerIdentification fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const ServerIdentification&) const = default;

    QString from;
    QString to;
    QString version;
    QString initialChallenge;
};

// "#AP": a pilot logs in; the server echoes it for every pilot.
class AddPilot {
public:
    static constexpr QStringView kPrefix = u"#AP";

    AddPilot() = default;
    AddPilot(QString callsign, QString cid, QString password, quint8 rating,
             ProtocolRevision protocolRevision, SimulatorType simulatorType, QString realName);

    static AddPilot fromTokens(const Fields& fields);
    // callsign:SERVER:cid:password:rating:revision:simulator:name
    QString serialize() const;
    bool operator==(const AddPilot&) const = default;

    QString from;
    QString to;
    QString cid;
    QString password;
    quint8 rating = 0;
    ProtocolRevision protocolRevision = ProtocolRevision::Unknown;
    SimulatorType simulatorType = SimulatorType::Unknown;
    QString realName;
};

// "#AA": an ATC client (here: an observer) logs in.
class AddATC {
public:
    static constexpr QStringView kPrefix = u"#AA";

    AddATC() = default;
    AddATC(QString callsign, QString realName, QString cid, QString password, quint8 rating,
           ProtocolRevision protocolRevision);

    static AddATC fromTokens(const Fields& fields);
    // callsign:SERVER:name:cid:password:rating:revision
    QString serialize() const;
    bool operator==(const AddATC&) const = default;

    QString from;
    QString to;
    QString realName;
    QString cid;
    QString password;
    quint8 rating = 0;
    ProtocolRevision protocolRevision = ProtocolRevision::Unknown;
};

// "#DP": a pilot leaves.
class DeletePilot {
public:
    static constexpr QStringView kPrefix = u"#DP";

    DeletePilot() = default;
    DeletePilot(QString callsign, QString cid);

    static DeletePilot fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const DeletePilot&) const = default;

    QString from;
    QString cid; // may be absent on receipt
};

// "#DA": an ATC client leaves.
class DeleteATC {
public:
    static constexpr QStringView kPrefix = u"#DA";

    DeleteATC() = default;
    DeleteATC(QString callsign, QString cid);

    static DeleteATC fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const DeleteATC&) const = default;

    QString from;
    QString cid;
};

} // namespace velk::fsd::pdu

Q_DECLARE_METATYPE(velk::fsd::pdu::ClientIdentification)
Q_DECLARE_METATYPE(velk::fsd::pdu::ServerIdentification)
Q_DECLARE_METATYPE(velk::fsd::pdu::AddPilot)
Q_DECLARE_METATYPE(velk::fsd::pdu::AddATC)
Q_DECLARE_METATYPE(velk::fsd::pdu::DeletePilot)
Q_DECLARE_METATYPE(velk::fsd::pdu::DeleteATC)
