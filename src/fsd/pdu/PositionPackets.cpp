#include "fsd/pdu/PositionPackets.h"

#include "fsd/PDUFormatException.h"
#include "fsd/PitchBankHeading.h"

#include <limits>

namespace velk::fsd::pdu {

using exception::PDUFormatException;

namespace {

PitchBankHeading readPbh(QStringView text) {
    return PitchBankHeading::unpack(field::toUInt32(text, "pitch-bank-heading word"));
}

} // namespace

PilotPosition::PilotPosition(QString callsign, quint32 transponderCode, bool modeC, bool ident, quint8 rating,
                             double latitude, double longitude, qint32 trueAltitude, qint32 pressureAltitude,
                             qint32 groundSpeed, double pitch, double heading, double bank, bool onGround)
    : from(std::move(callsign)), transponderCode(transponderCode), modeC(modeC), ident(ident), rating(rating),
      latitude(latitude), longitude(longitude), trueAltitude(trueAltitude),
      pressureAltitude(pressureAltitude), groundSpeed(groundSpeed), pitch(pitch), heading(heading),
      bank(bank), onGround(onGround) {}

PilotPosition PilotPosition::fromTokens(const Fields& fields) {
    field::requireCount(fields, 10);
    PilotPosition pdu;
    const QStringView mode = fields[0];
    if (mode == u"S") {
        pdu.modeC = false;
        pdu.ident = false;
    } else if (mode == u"N") {
        pdu.modeC = true;
    } else if (mode == u"Y") {
        pdu.modeC = true;
        pdu.ident = true;
    } else {
        throw PDUFormatException(QStringLiteral("Invalid transponder mode."));
    }
    pdu.from = field::nonEmpty(fields, 1, "callsign");
    pdu.transponderCode = field::toUInt32(fields[2], "transponder code");
    pdu.rating = field::toUInt8(fields[3], "rating");
    pdu.latitude = field::toLatitude(fields[4]);
    pdu.longitude = field::toLongitude(fields[5]);
    pdu.trueAltitude = field::toInt32(fields[6], "altitude");
    pdu.groundSpeed = field::toInt32(fields[7], "ground speed");
    const PitchBankHeading pbh = readPbh(fields[8]);
    pdu.pitch = pbh.pitch;
    pdu.bank = pbh.bank;
    pdu.heading = pbh.heading;
    pdu.onGround = pbh.onGround;
    const qint64 pressure =
        static_cast<qint64>(pdu.trueAltitude) + field::toInt32(fields[9], "pressure altitude difference");
    if (pressure < std::numeric_limits<qint32>::min() || pressure > std::numeric_limits<qint32>::max()) {
        throw PDUFormatException(QStringLiteral("Invalid pressure altitude difference."));
    }
    pdu.pressureAltitude = static_cast<qint32>(pressure);
    return pdu;
}

QString PilotPosition::serialize() const {
    const QStringView mode = ident ? u"Y" : (modeC ? u"N" : u"S");
    const PitchBankHeading pbh{pitch, bank, heading, onGround};
    return PacketWriter(kPrefix)
        .text(mode)
        .text(from)
        .zeroPadded(transponderCode, 4)
        .unsignedNumber(rating)
        .fixed(latitude, 6)
        .fixed(longitude, 6)
        .number(trueAltitude)
        .number(groundSpeed)
        .unsignedNumber(pbh.pack())
        .number(static_cast<qint64>(pressureAltitude) - trueAltitude)
        .finish();
}

ATCPosition::ATCPosition(QString callsign, QList<int> frequencies, NetworkFacility facility,
                         quint32 visualRange, quint8 rating, double latitude, double longitude)
    : from(std::move(callsign)), frequencies(std::move(frequencies)), facility(facility),
      visualRange(visualRange), rating(rating), latitude(latitude), longitude(longitude) {}

ATCPosition ATCPosition::fromTokens(const Fields& fields) {
    field::requireCount(fields, 7);
    ATCPosition pdu;
    pdu.from = field::nonEmpty(fields, 0, "callsign");
    for (QStringView part : fields[1].split(u'&', Qt::SkipEmptyParts)) {
        const qint32 value = field::toInt32(part, "frequency");
        if (value > std::numeric_limits<qint32>::max() - 100000) {
            throw PDUFormatException(QStringLiteral("Invalid frequency."));
        }
        pdu.frequencies.append(value + 100000);
    }
    pdu.facility = static_cast<NetworkFacility>(field::toUInt8(fields[2], "facility"));
    pdu.visualRange = field::toUInt32(fields[3], "visual range");
    pdu.rating = field::toUInt8(fields[4], "rating");
    pdu.latitude = field::toLatitude(fields[5]);
    pdu.longitude = field::toLongitude(fields[6]);
    return pdu;
}

QString ATCPosition::serialize() const {
    QString joined;
    for (qsizetype i = 0; i < frequencies.size(); ++i) {
        if (i > 0) {
            joined.append(u'&');
        }
        joined.append(QString::number(frequencies[i]));
    }
    return PacketWriter(kPrefix)
        .text(from)
        .text(joined)
        .unsignedNumber(static_cast<quint8>(facility))
        .unsignedNumber(visualRange)
        .unsignedNumber(rating)
        .fixed(latitude, 5)
        .fixed(longitude, 5)
        .text(u"0")
        .finish();
}

FastPilotPosition::FastPilotPosition(FastPositionKind kind, QString callsign, double latitude,
                                     double longitude, double altitudeTrue, double altitudeAgl, double pitch,
                                     double heading, double bank, bool onGround, double velocityX,
                                     double velocityY, double velocityZ, double velocityPitch,
                                     double velocityHeading, double velocityBank, double noseGearAngle)
    : kind(kind), from(std::move(callsign)), latitude(latitude), longitude(longitude),
      altitudeTrue(altitudeTrue), altitudeAgl(altitudeAgl), pitch(pitch), heading(heading), bank(bank),
      onGround(onGround), velocityX(velocityX), velocityY(velocityY), velocityZ(velocityZ),
      velocityPitch(velocityPitch), velocityHeading(velocityHeading), velocityBank(velocityBank),
      noseGearAngle(noseGearAngle) {}

FastPilotPosition FastPilotPosition::fromTokens(FastPositionKind kind, const Fields& fields) {
    const bool stopped = kind == FastPositionKind::Stopped;
    const qsizetype required = stopped ? 6 : 12;
    field::requireCount(fields, required);
    FastPilotPosition pdu;
    pdu.kind = kind;
    pdu.from = field::nonEmpty(fields, 0, "callsign");
    pdu.latitude = field::toLatitude(fields[1]);
    pdu.longitude = field::toLongitude(fields[2]);
    pdu.altitudeTrue = field::toDouble(fields[3], "altitude");
    pdu.altitudeAgl = field::toDouble(fields[4], "altitude above ground");
    const PitchBankHeading pbh = readPbh(fields[5]);
    pdu.pitch = pbh.pitch;
    pdu.bank = pbh.bank;
    pdu.heading = pbh.heading;
    pdu.onGround = pbh.onGround;
    if (!stopped) {
        pdu.velocityX = field::toDouble(fields[6], "velocity");
        pdu.velocityY = field::toDouble(fields[7], "velocity");
        pdu.velocityZ = field::toDouble(fields[8], "velocity");
        pdu.velocityPitch = field::toDouble(fields[9], "velocity");
        pdu.velocityHeading = field::toDouble(fields[10], "velocity");
        pdu.velocityBank = field::toDouble(fields[11], "velocity");
    }
    if (fields.size() > required) {
        pdu.noseGearAngle = field::toDouble(fields[required], "nose gear angle");
    }
    return pdu;
}

QStringView FastPilotPosition::prefix() const {
    switch (kind) {
    case FastPositionKind::Slow:
        return kPrefixSlow;
    case FastPositionKind::Stopped:
        return kPrefixStopped;
    case FastPositionKind::Fast:
        break;
    }
    return kPrefixFast;
}

QString FastPilotPosition::serialize() const {
    const PitchBankHeading pbh{pitch, bank, heading, onGround};
    PacketWriter writer(prefix());
    writer.text(from)
        .fixed(latitude, 6)
        .fixed(longitude, 6)
        .fixed(altitudeTrue, 2)
        .fixed(altitudeAgl, 2)
        .unsignedNumber(pbh.pack());
    if (kind != FastPositionKind::Stopped) {
        writer.fixed(velocityX, 4)
            .fixed(velocityY, 4)
            .fixed(velocityZ, 4)
            .fixed(velocityPitch, 4)
            .fixed(velocityHeading, 4)
            .fixed(velocityBank, 4);
    }
    writer.fixed(noseGearAngle, 2);
    return writer.finish();
}

SendFast::SendFast(QString from, QString to, int flag)
    : from(std::move(from)), to(std::move(to)), flag(flag) {}

SendFast SendFast::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    SendFast pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = field::nonEmpty(fields, 1, "recipient");
    pdu.flag = field::toInt32(fields[2], "flag");
    return pdu;
}

QString SendFast::serialize() const {
    return PacketWriter(kPrefix).text(from).text(to).number(flag).finish();
}

} // namespace velk::fsd::pdu
