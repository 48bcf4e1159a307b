#include "simulator/xplane/PluginProtocol.h"

#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace velk::simulator::xplane {

namespace {

constexpr std::size_t kInitialBuffer = 8192;

// Generous for every message of the channel, small enough that no message can
// make the client allocate much.
const msgpack::unpack_limit kLimits(/*array*/ 4096, /*map*/ 256, /*str*/ kMaxPluginMessageSize,
                                    /*bin*/ kMaxPluginMessageSize, /*ext*/ 0, /*depth*/ 16);

// msgpack-cxx packs whole-number floats as integers; the plug-in expects the
// float types themselves, so these are written by hand: marker, big-endian bits.
template <typename Bits, typename Float> void writeFloat(msgpack::sbuffer& buffer, char marker, Float value) {
    static_assert(sizeof(Bits) == sizeof(Float));
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    char out[1 + sizeof bits];
    out[0] = marker;
    qToBigEndian<Bits>(bits, out + 1);
    buffer.write(out, sizeof out);
}

} // namespace

PluginMessageWriter::PluginMessageWriter(std::string_view type, std::uint32_t payloadSize)
    : m_buffer(kInitialBuffer) {
    packer().pack_array(2);
    packer().pack_str(static_cast<std::uint32_t>(type.size()));
    packer().pack_str_body(type.data(), static_cast<std::uint32_t>(type.size()));
    packer().pack_array(payloadSize);
}

PluginMessageWriter& PluginMessageWriter::text(const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    packer().pack_str(static_cast<std::uint32_t>(utf8.size()));
    packer().pack_str_body(utf8.constData(), static_cast<std::uint32_t>(utf8.size()));
    return *this;
}

PluginMessageWriter& PluginMessageWriter::f64(double value) {
    writeFloat<quint64>(m_buffer, static_cast<char>(0xcb), value);
    return *this;
}

PluginMessageWriter& PluginMessageWriter::f32(float value) {
    writeFloat<quint32>(m_buffer, static_cast<char>(0xca), value);
    return *this;
}

PluginMessageWriter& PluginMessageWriter::integer(qint64 value) {
    packer().pack_int64(value); // written in its shortest form
    return *this;
}

PluginMessageWriter& PluginMessageWriter::boolean(bool value) {
    if (value) {
        packer().pack_true();
    } else {
        packer().pack_false();
    }
    return *this;
}

PluginMessageWriter& PluginMessageWriter::nil() {
    packer().pack_nil();
    return *this;
}

PluginMessageWriter& PluginMessageWriter::optionalBool(const std::optional<bool>& value) {
    return value ? boolean(*value) : nil();
}

PluginMessageWriter& PluginMessageWriter::array(std::uint32_t size) {
    packer().pack_array(size);
    return *this;
}

QList<AtcEntry> atcEntriesFrom(const QList<model::Controller>& controllers) {
    QList<AtcEntry> out;
    for (const model::Controller& c : controllers) {
        if (!c.isAtc || c.frequency == model::Controller::NoFrequency) {
            continue;
        }
        AtcEntry e;
        e.callsign = c.callsign;
        e.realName = c.realName;
        e.frequencyText =
            QStringLiteral("%1.%2").arg(c.frequency / 1000).arg(c.frequency % 1000, 3, 10, QLatin1Char('0'));
        e.frequencyKhz = c.frequency;
        out.append(e);
    }
    return out;
}

PluginMessageWriter encodeVersionRequest() {
    PluginMessageWriter w("VER", 1);
    w.integer(0);
    return w;
}

PluginMessageWriter encodeCslRequest(const QStringList& paths) {
    PluginMessageWriter w("CSL", 2);
    w.array(static_cast<std::uint32_t>(paths.size()));
    for (const QString& p : paths) {
        w.text(p);
    }
    w.boolean(false);
    return w;
}

PluginMessageWriter encodeAdd(const manager::RemoteAircraft& a) {
    const model::AircraftVisualState& s = a.visualState;
    PluginMessageWriter w("ADD", 9);
    w.text(a.callsign).text(a.airline).text(a.equipment);
    w.f64(s.latitude).f64(s.longitude).f64(s.altitudeTrue).f64(s.heading).f64(s.bank).f64(s.pitch);
    return w;
}

PluginMessageWriter encodeAircraftConfig(const manager::RemoteAircraft& a) {
    const model::AircraftConfig& c = a.config;
    PluginMessageWriter w("ACCONF", 12);
    w.text(a.callsign);
    if (c.isFullData.value_or(false)) {
        w.boolean(true);
    } else {
        w.nil();
    }

    // Each engine element stands for its own entries: an increment that only
    // starts an engine still says so, and reverse never reads as "engines off".
    std::optional<bool> anyOn;
    std::optional<bool> anyReversing;
    if (c.engines) {
        for (int i = 0; i < 4; ++i) {
            if (c.engines->on[i]) {
                anyOn = anyOn.value_or(false) || *c.engines->on[i];
            }
            if (c.engines->isReversing[i]) {
                anyReversing = anyReversing.value_or(false) || *c.engines->isReversing[i];
            }
        }
    }
    w.optionalBool(anyOn).optionalBool(anyReversing);
    w.optionalBool(c.onGround);
    if (c.flapsPct) {
        w.f32(static_cast<float>(std::round(*c.flapsPct / 100.0 * 100.0) / 100.0));
    } else {
        w.nil();
    }
    w.optionalBool(c.gearDown);
    const model::AircraftConfig::Lights lights = c.lights.value_or(model::AircraftConfig::Lights{});
    w.optionalBool(lights.beaconOn)
        .optionalBool(lights.landingOn)
        .optionalBool(lights.navOn)
        .optionalBool(lights.strobeOn)
        .optionalBool(lights.taxiOn);
    return w;
}

PluginMessageWriter encodeDelete(const QString& callsign, const QString& reason) {
    PluginMessageWriter w("DEL", 2);
    w.text(callsign).text(reason);
    return w;
}

PluginMessageWriter encodeDeleteAll() {
    return PluginMessageWriter("DELALL", 0);
}

PluginMessageWriter encodeControllers(const QList<AtcEntry>& entries) {
    PluginMessageWriter w("ATC", 1);
    w.array(static_cast<std::uint32_t>(entries.size()));
    for (const AtcEntry& e : entries) {
        w.array(4).text(e.callsign).text(e.realName).text(e.frequencyText).integer(e.frequencyKhz);
    }
    return w;
}

PluginMessageWriter encodePosition(const manager::RemoteAircraft& a, const model::AircraftVisualState& s) {
    PluginMessageWriter w("POS", 9);
    w.text(a.callsign);
    w.f64(s.latitude).f64(s.longitude).f64(s.altitudeTrue).f64(s.altitudeAgl);
    w.f64(s.heading).f64(s.bank).f64(s.pitch).f64(a.groundSpeed);
    return w;
}

PluginMessageWriter encodeFastPosition(const manager::RemoteAircraft& a, const model::AircraftVisualState& s,
                                       const model::VelocityVector& p, const model::VelocityVector& r) {
    PluginMessageWriter w("FSTPOS", 16);
    w.text(a.callsign);
    w.f64(s.latitude).f64(s.longitude).f64(s.altitudeTrue).f64(s.altitudeAgl);
    w.f64(s.heading).f64(s.bank).f64(s.pitch);
    w.f64(p.x).f64(p.y).f64(p.z).f64(r.x).f64(r.y).f64(r.z);
    w.f64(s.noseGearAngle).f64(a.groundSpeed);
    return w;
}

PluginMessageWriter encodeHeartbeat(const QString& callsign) {
    PluginMessageWriter w("HB", 1);
    w.text(callsign);
    return w;
}

PluginMessageWriter encodeRadioSent(const QString& message) {
    PluginMessageWriter w("RDIOSENT", 1);
    w.text(message);
    return w;
}

PluginMessageWriter encodeRadioReceived(const QString& from, const QString& message, bool isDirect) {
    PluginMessageWriter w("RDIORCVD", 3);
    w.text(from).text(message).boolean(isDirect);
    return w;
}

PluginMessageWriter encodeNotification(const QString& text, qint64 rgb) {
    PluginMessageWriter w("NOTIF", 2);
    w.text(text).integer(rgb);
    return w;
}

PluginMessageWriter encodePrivateSent(const QString& to, const QString& message) {
    PluginMessageWriter w("PRIVSENT", 2);
    w.text(to).text(message);
    return w;
}

PluginMessageWriter encodePrivateReceived(const QString& from, const QString& message) {
    PluginMessageWriter w("PRIVRCVD", 2);
    w.text(from).text(message);
    return w;
}

PluginMessageWriter encodeConnected(const QString& callsign, const QString& selcalCode, bool observerMode) {
    PluginMessageWriter w("CONN", 3);
    w.text(callsign).text(selcalCode).boolean(observerMode);
    return w;
}

PluginMessageWriter encodeDisconnected() {
    return PluginMessageWriter("DISCON", 0);
}

PluginMessageWriter encodeStationCallsign(int radio, const QString& station) {
    PluginMessageWriter w("STATION_CALLSIGN", 2);
    w.integer(radio).text(station);
    return w;
}

std::optional<PluginMessage> decodePluginMessage(const char* data, std::size_t size) {
    if (data == nullptr || size == 0 || size >= kMaxPluginMessageSize) {
        return std::nullopt;
    }
    try {
        // Without a reference function every string is copied into the zone,
        // so the message outlives the receive buffer.
        msgpack::object_handle handle = msgpack::unpack(data, size, nullptr, nullptr, kLimits);
        const msgpack::object& root = handle.get();
        if (root.type != msgpack::type::ARRAY || root.via.array.size == 0) {
            return std::nullopt;
        }
        const msgpack::object& type = root.via.array.ptr[0];
        PluginMessage message;
        if (type.type == msgpack::type::STR) {
            message.type.assign(type.via.str.ptr, type.via.str.size);
        } else if (type.type == msgpack::type::BIN) {
            message.type.assign(type.via.bin.ptr, type.via.bin.size);
        } else {
            return std::nullopt;
        }
        if (root.via.array.size >= 2) {
            message.payload = root.via.array.ptr[1];
        }
        message.zone = std::shared_ptr<msgpack::zone>(std::move(handle.zone()));
        return message;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::span<const msgpack::object>> payloadElements(const msgpack::object& payload) {
    if (payload.type == msgpack::type::NIL) {
        return std::span<const msgpack::object>();
    }
    if (payload.type != msgpack::type::ARRAY) {
        return std::nullopt;
    }
    return std::span<const msgpack::object>(payload.via.array.ptr, payload.via.array.size);
}

std::optional<QString> readText(const msgpack::object& element) {
    if (element.type == msgpack::type::STR) {
        return QString::fromUtf8(element.via.str.ptr, static_cast<qsizetype>(element.via.str.size));
    }
    if (element.type == msgpack::type::BIN) {
        return QString::fromUtf8(element.via.bin.ptr, static_cast<qsizetype>(element.via.bin.size));
    }
    return std::nullopt;
}

std::optional<bool> readBool(const msgpack::object& element) {
    if (element.type == msgpack::type::BOOLEAN) {
        return element.via.boolean;
    }
    return std::nullopt;
}

std::optional<qint32> readInt32(const msgpack::object& element) {
    if (element.type == msgpack::type::POSITIVE_INTEGER &&
        element.via.u64 <= static_cast<std::uint64_t>(std::numeric_limits<qint32>::max())) {
        return static_cast<qint32>(element.via.u64);
    }
    if (element.type == msgpack::type::NEGATIVE_INTEGER &&
        element.via.i64 >= static_cast<std::int64_t>(std::numeric_limits<qint32>::min())) {
        return static_cast<qint32>(element.via.i64);
    }
    return std::nullopt;
}

} // namespace velk::simulator::xplane
