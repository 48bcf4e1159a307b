#pragma once

#include "fsd/pdu/PDUFields.h"

#include <QMetaType>
#include <QString>

// Packets by which the server controls a client.
namespace velk::fsd::pdu {

// "$!!": the server removes the client; the reason may be empty.
class KillRequest {
public:
    static constexpr QStringView kPrefix = u"$!!";

    KillRequest() = default;
    KillRequest(QString from, QString to, QString reason);

    static KillRequest fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const KillRequest&) const = default;

    QString from;
    QString to;
    QString reason;
};

// "$ER": an error reported by the server; code 8 means "no flight plan".
class ProtocolError {
public:
    static constexpr QStringView kPrefix = u"$ER";

    ProtocolError() = default;
    ProtocolError(QString from, QString to, int errorCode, QString parameter, QString message);

    // from:to:code:parameter:message; the message may itself hold ':'.
    static ProtocolError fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const ProtocolError&) const = default;

    QString from;
    QString to;
    int errorCode = 0;
    QString parameter;
    QString message;
};

// "#MU": the server mutes or unmutes the client.
class Mute {
public:
    static constexpr QStringView kPrefix = u"#MU";

    Mute() = default;
    Mute(QString from, QString to, bool mute);

    static Mute fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const Mute&) const = default;

    QString from;
    QString to;
    bool mute = false;
};

} // namespace velk::fsd::pdu

Q_DECLARE_METATYPE(velk::fsd::pdu::KillRequest)
Q_DECLARE_METATYPE(velk::fsd::pdu::ProtocolError)
Q_DECLARE_METATYPE(velk::fsd::pdu::Mute)
