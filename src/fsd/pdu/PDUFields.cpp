#include "fsd/pdu/PDUFields.h"

#include "fsd/PDUFormatException.h"

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace velk::fsd::pdu {

using exception::PDUFormatException;

Fields splitFields(QStringView body) {
    Fields fields;
    qsizetype start = 0;
    const qsizetype size = body.size();
    const QChar* data = body.data();
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == u':') {
            fields.append(body.sliced(start, i - start));
            start = i + 1;
        }
    }
    fields.append(body.sliced(start));
    return fields;
}

namespace field {

namespace {

[[noreturn]] void invalid(const char* name) {
    throw PDUFormatException(QStringLiteral("Invalid %1.").arg(QLatin1StringView(name)));
}

} // namespace

void requireCount(const Fields& fields, qsizetype minimum) {
    if (fields.size() < minimum) {
        throw PDUFormatException(
            QStringLiteral("Invalid field count: %1 of at least %2.").arg(fields.size()).arg(minimum));
    }
}

QString nonEmpty(const Fields& fields, qsizetype index, const char* name) {
    if (index >= fields.size() || fields[index].isEmpty()) {
        throw PDUFormatException(QStringLiteral("Empty %1.").arg(QLatin1StringView(name)));
    }
    return fields[index].toString();
}

QString joinFrom(const Fields& fields, qsizetype first) {
    if (first >= fields.size()) {
        return {};
    }
    QString joined = fields[first].toString();
    for (qsizetype i = first + 1; i < fields.size(); ++i) {
        joined.append(u':');
        joined.append(fields[i]);
    }
    return joined;
}

namespace {

// Numbers on the wire are plain ASCII in the C locale: surrounding blanks and
// one leading '+' are accepted, nothing else. Much cheaper than the
// locale-aware QString conversions, which matter on the position hot path.
template <class T> bool parseNumber(QStringView text, T& value, int base = 10) {
    text = text.trimmed();
    if (text.startsWith(u'+')) {
        text = text.sliced(1);
    }
    char buffer[64];
    const qsizetype size = text.size();
    if (size == 0 || size >= qsizetype(sizeof(buffer))) {
        return false;
    }
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7f) {
            return false;
        }
        buffer[i] = static_cast<char>(c);
    }
    std::from_chars_result result;
    if constexpr (std::is_floating_point_v<T>) {
        Q_UNUSED(base);
        result = std::from_chars(buffer, buffer + size, value);
    } else {
        result = std::from_chars(buffer, buffer + size, value, base);
    }
    return result.ec == std::errc() && result.ptr == buffer + size;
}

template <class T> T readInteger(QStringView text, const char* name, int base = 10) {
    T value{};
    if (!parseNumber(text, value, base)) {
        invalid(name);
    }
    return value;
}

} // namespace

qint32 toInt32(QStringView text, const char* name) {
    return readInteger<qint32>(text, name);
}

quint32 toUInt32(QStringView text, const char* name) {
    return readInteger<quint32>(text, name);
}

quint16 toUInt16(QStringView text, const char* name, int base) {
    return readInteger<quint16>(text, name, base);
}

quint8 toUInt8(QStringView text, const char* name) {
    // Through a wider type: from_chars would read an 8-bit type like any other.
    const quint32 value = readInteger<quint32>(text, name);
    if (value > std::numeric_limits<quint8>::max()) {
        invalid(name);
    }
    return static_cast<quint8>(value);
}

double toDouble(QStringView text, const char* name) {
    double value = 0.0;
    if (!parseNumber(text, value) || !std::isfinite(value)) {
        invalid(name);
    }
    return value;
}

double toLatitude(QStringView text) {
    const double value = toDouble(text, "latitude");
    if (value < -90.0 || value > 90.0) {
        invalid("latitude");
    }
    return value;
}

double toLongitude(QStringView text) {
    const double value = toDouble(text, "longitude");
    if (value < -180.0 || value > 180.0) {
        invalid("longitude");
    }
    return value;
}

} // namespace field

namespace {

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

void appendField(QString& line, QStringView value) {
    for (const QChar c : value) {
        if (c != u':') {
            line.append(isControl(c) ? QChar(u' ') : c);
        }
    }
}

} // namespace

QString asField(QStringView text) {
    QString field;
    field.reserve(text.size());
    appendField(field, text);
    return field;
}

bool fitsInField(QStringView text) {
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c == u':' || isControl(c); });
}

bool isAddressField(QStringView text) {
    return !text.isEmpty() && !text.contains(QLatin1Char(':')) &&
           std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

bool isValidCallsign(const QString& callsign) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Z0-9_]{2,12}$"));
    return pattern.match(callsign).hasMatch();
}

void blankLineBreaks(QString& text, qsizetype from) {
    for (qsizetype i = from; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n' || c == QChar(0)) {
            text[i] = u' ';
        }
    }
}

PacketWriter::PacketWriter(QStringView prefix) {
    m_line.reserve(128);
    m_line.append(prefix);
}

void PacketWriter::separator() {
    if (!m_first) {
        m_line.append(u':');
    }
    m_first = false;
}

PacketWriter& PacketWriter::text(QStringView value) {
    separator();
    appendField(m_line, value);
    return *this;
}

PacketWriter& PacketWriter::freeText(QStringView value) {
    separator();
    const qsizetype start = m_line.size();
    m_line.append(value);
    blankLineBreaks(m_line, start);
    return *this;
}

PacketWriter& PacketWriter::number(qint64 value) {
    separator();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    m_line.append(QLatin1StringView(buffer, result.ptr - buffer));
    return *this;
}

PacketWriter& PacketWriter::unsignedNumber(quint64 value) {
    separator();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    m_line.append(QLatin1StringView(buffer, result.ptr - buffer));
    return *this;
}

PacketWriter& PacketWriter::zeroPadded(quint64 value, int width) {
    separator();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    for (qsizetype digits = result.ptr - buffer; digits < width; ++digits) {
        m_line.append(u'0');
    }
    m_line.append(QLatin1StringView(buffer, result.ptr - buffer));
    return *this;
}

PacketWriter& PacketWriter::fixed(double value, int decimals) {
    separator();
    char buffer[400]; // the largest double in fixed notation still fits
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), std::isfinite(value) ? value : 0.0,
                                      std::chars_format::fixed, decimals);
    const char* begin = buffer;
    // A value that rounds to zero is written without a sign.
    if (buffer[0] == '-' &&
        std::all_of(buffer + 1, result.ptr, [](char c) { return c == '0' || c == '.'; })) {
        ++begin;
    }
    m_line.append(QLatin1StringView(begin, result.ptr - begin));
    return *this;
}

QString PacketWriter::finish() {
    m_line.append(u"\r\n");
    return std::move(m_line);
}

} // namespace velk::fsd::pdu
