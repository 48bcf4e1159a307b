#include "fsd/pdu/MessagePackets.h"

#include "fsd/PDUFormatException.h"

#include <limits>

namespace velk::fsd::pdu {

using exception::PDUFormatException;

TextMessage::TextMessage(QString from, QString to, QString message)
    : from(std::move(from)), to(std::move(to)), message(std::move(message)) {}

TextMessage TextMessage::fromTokens(const Fields& fields) {
    return readAddressed<TextMessage, &TextMessage::message>(fields);
}

QString TextMessage::serialize() const {
    return writeAddressed<TextMessage, &TextMessage::message>(*this);
}

RadioMessage::RadioMessage(QString from, QList<uint> frequencies, QString message)
    : from(std::move(from)), frequencies(std::move(frequencies)), message(std::move(message)) {}

RadioMessage RadioMessage::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    RadioMessage pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    for (QStringView part : fields[1].split(u'&', Qt::SkipEmptyParts)) {
        if (!part.startsWith(u'@')) {
            throw PDUFormatException(QStringLiteral("Invalid frequency."));
        }
        const quint32 value = field::toUInt32(part.sliced(1), "frequency");
        if (value > std::numeric_limits<uint>::max() - 100000u) {
            throw PDUFormatException(QStringLiteral("Invalid frequency."));
        }
        pdu.frequencies.append(value + 100000u);
    }
    if (pdu.frequencies.isEmpty()) {
        throw PDUFormatException(QStringLiteral("Invalid frequency."));
    }
    pdu.message = field::joinFrom(fields, 2);
    return pdu;
}

QString RadioMessage::serialize() const {
    QString recipients;
    for (qsizetype i = 0; i < frequencies.size(); ++i) {
        if (i > 0) {
            recipients.append(u'&');
        }
        recipients.append(u'@');
        recipients.append(QString::number(static_cast<qint64>(frequencies[i]) - 100000));
    }
    return PacketWriter(kPrefix).text(from).text(recipients).freeText(message).finish();
}

BroadcastMessage::BroadcastMessage(QString from, QString message, QString to)
    : from(std::move(from)), to(std::move(to)), message(std::move(message)) {}

BroadcastMessage BroadcastMessage::fromTokens(const Fields& fields) {
    return readAddressed<BroadcastMessage, &BroadcastMessage::message>(fields);
}

QString BroadcastMessage::serialize() const {
    return writeAddressed<BroadcastMessage, &BroadcastMessage::message>(*this);
}

Wallop::Wallop(QString from, QString message) : from(std::move(from)), message(std::move(message)) {}

Wallop Wallop::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    Wallop pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.message = field::joinFrom(fields, 2);
    return pdu;
}

QString Wallop::serialize() const {
    return PacketWriter(kPrefix).text(from).text(u"*S").freeText(message).finish();
}

} // namespace velk::fsd::pdu
