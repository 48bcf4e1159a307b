#include "fsd/pdu/PDUFields.h"

#include "fsd/PDUFormatException.h"

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

qint32 toInt32(QStringView text, const char* name) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok) {
        invalid(name);
    }
    return value;
}

quint32 toUInt32(QStringView text, const char* name) {
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    if (!ok) {
        invalid(name);
    }
    return value;
}

quint16 toUInt16(QStringView text, const char* name, int base) {
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok, base);
    if (!ok || value > std::numeric_limits<quint16>::max()) {
        invalid(name);
    }
    return static_cast<quint16>(value);
}

quint8 toUInt8(QStringView text, const char* name) {
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    if (!ok || value > std::numeric_limits<quint8>::max()) {
        invalid(name);
    }
    return static_cast<quint8>(value);
}

double toDouble(QStringView text, const char* name) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
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

QString sanitizeField(QStringView value) {
    QString result = value.toString();
    for (QChar& c : result) {
        if (c == u'\r' || c == u'\n' || c == QChar(0)) {
            c = u' ';
        }
    }
    return result;
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
    const qsizetype start = m_line.size();
    m_line.append(value);
    for (qsizetype i = start; i < m_line.size(); ++i) {
        const QChar c = m_line.at(i);
        if (c == u'\r' || c == u'\n' || c == QChar(0)) {
            m_line[i] = u' ';
        }
    }
    return *this;
}

PacketWriter& PacketWriter::number(qint64 value) {
    separator();
    m_line.append(QString::number(value));
    return *this;
}

PacketWriter& PacketWriter::unsignedNumber(quint64 value) {
    separator();
    m_line.append(QString::number(value));
    return *this;
}

PacketWriter& PacketWriter::zeroPadded(quint64 value, int width) {
    separator();
    m_line.append(QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0')));
    return *this;
}

PacketWriter& PacketWriter::fixed(double value, int decimals) {
    separator();
    m_line.append(QString::number(std::isfinite(value) ? value : 0.0, 'f', decimals));
    return *this;
}

QString PacketWriter::finish() {
    m_line.append(u"\r\n");
    return std::move(m_line);
}

} // namespace velk::fsd::pdu
