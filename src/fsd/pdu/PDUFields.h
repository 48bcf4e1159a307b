#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>
#include <QtGlobal>

#include <initializer_list>

namespace velk::fsd::pdu {

// The fields of a received packet body (the line without its prefix and line
// end), split at ':'. Views into the line, valid while the line lives.
using Fields = QVarLengthArray<QStringView, 24>;

Fields splitFields(QStringView body);

// Field readers for the packet parsers. Each throws PDUFormatException with a
// message naming the field when the text is not a valid value.
namespace field {

void requireCount(const Fields& fields, qsizetype minimum);
// A text field that must not be empty (callsigns and the like).
QString nonEmpty(const Fields& fields, qsizetype index, const char* name);
// Fields from `first` to the end joined again with ':', for the last free-text
// field, which may itself hold ':'. Empty when `first` is past the end.
QString joinFrom(const Fields& fields, qsizetype first);

qint32 toInt32(QStringView text, const char* name);
quint32 toUInt32(QStringView text, const char* name);
quint16 toUInt16(QStringView text, const char* name, int base = 10);
quint8 toUInt8(QStringView text, const char* name);
// A finite number.
double toDouble(QStringView text, const char* name);
double toLatitude(QStringView text);
double toLongitude(QStringView text);

} // namespace field

// Builds an outgoing line: the prefix, the fields joined by ':', then "\r\n".
// No text, whoever typed or sent it, can add a field to the line or end it
// early and smuggle in a second packet.
class PacketWriter {
public:
    explicit PacketWriter(QStringView prefix);

    // One field: every ':' is dropped and every control character becomes a space.
    PacketWriter& text(QStringView value);
    // A packet's trailing free text (a message, a JSON payload), which the
    // reader joins again at its ':': only CR, LF and NUL become spaces.
    PacketWriter& freeText(QStringView value);
    PacketWriter& number(qint64 value);
    PacketWriter& unsignedNumber(quint64 value);
    // At least `width` digits, with leading zeros.
    PacketWriter& zeroPadded(quint64 value, int width);
    // Fixed decimals with the C locale; a value that is not finite is written as 0.
    PacketWriter& fixed(double value, int decimals);

    QString finish();

private:
    void separator();

    QString m_line;
    bool m_first = true;
};

// True when `text` can address a packet as one field: not empty, no ':' and
// no white space.
bool isAddressField(QStringView text);

// `text` as PacketWriter::text writes it.
QString asField(QStringView text);
// True when PacketWriter::text writes `text` unchanged.
bool fitsInField(QStringView text);

// True when `callsign` is one a pilot may log in with: 2 to 12 of A-Z, 0-9, '_'.
bool isValidCallsign(const QString& callsign);

// Replaces every CR, LF and NUL of `text` from index `from` on by a space, so
// that no text can end a line early and smuggle in a second packet.
void blankLineBreaks(QString& text, qsizetype from = 0);

// Packets of the layout from:to:text, the last field re-joined ("#TM" to a
// callsign, broadcasts, "$PI", "$PO"). `Body` names the text member.
template <class Packet, QString Packet::*Body> Packet readAddressed(const Fields& fields) {
    field::requireCount(fields, 3);
    Packet pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = field::nonEmpty(fields, 1, "recipient");
    pdu.*Body = field::joinFrom(fields, 2);
    return pdu;
}

template <class Packet, QString Packet::*Body> QString writeAddressed(const Packet& pdu) {
    return PacketWriter(Packet::kPrefix).text(pdu.from).text(pdu.to).freeText(pdu.*Body).finish();
}

} // namespace velk::fsd::pdu
