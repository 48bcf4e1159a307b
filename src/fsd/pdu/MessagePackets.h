#pragma once

#include "fsd/pdu/PDUFields.h"

#include <QList>
#include <QMetaType>
#include <QString>

// "#TM" text packets. One prefix, four meanings, told apart by the recipient:
// "*", "*A", "*P" broadcast; "*S" wallop; "@…" radio; anything else private.
namespace velk::fsd::pdu {

// Private text to one callsign.
class TextMessage {
public:
    static constexpr QStringView kPrefix = u"#TM";

    TextMessage() = default;
    TextMessage(QString from, QString to, QString message);

    // The text is every field from the third on, joined again with ':'.
    static TextMessage fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const TextMessage&) const = default;

    QString from;
    QString to;
    QString message;
};

// Text on one or more radio frequencies.
class RadioMessage {
public:
    static constexpr QStringView kPrefix = u"#TM";

    RadioMessage() = default;
    // `frequencies` in kHz (122800 for 122.800 MHz).
    RadioMessage(QString from, QList<uint> frequencies, QString message);

    // Each "&"-separated recipient is "@" and a number; the frequency is that
    // number plus 100000 kHz.
    static RadioMessage fromTokens(const Fields& fields);
    // Each frequency is written "@" and the frequency minus 100000.
    QString serialize() const;
    bool operator==(const RadioMessage&) const = default;

    QString from;
    QList<uint> frequencies;
    QString message;
};

// Text to everyone ("*", "*A" or "*P").
class BroadcastMessage {
public:
    static constexpr QStringView kPrefix = u"#TM";

    BroadcastMessage() = default;
    BroadcastMessage(QString from, QString message, QString to = QStringLiteral("*"));

    static BroadcastMessage fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const BroadcastMessage&) const = default;

    QString from;
    QString to;
    QString message;
};

// Text to all supervisors; the recipient is always "*S".
class Wallop {
public:
    static constexpr QStringView kPrefix = u"#TM";

    Wallop() = default;
    Wallop(QString from, QString message);

    static Wallop fromTokens(const Fields& fields);
    QString serialize() const;
    bool operator==(const Wallop&) const = default;

    QString from;
    QString message;
};

} // namespace velk::fsd::pdu

Q_DECLARE_METATYPE(velk::fsd::pdu::TextMessage)
Q_DECLARE_METATYPE(velk::fsd::pdu::RadioMessage)
Q_DECLARE_METATYPE(velk::fsd::pdu::BroadcastMessage)
Q_DECLARE_METATYPE(velk::fsd::pdu::Wallop)
