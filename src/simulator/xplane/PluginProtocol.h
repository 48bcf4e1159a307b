#pragma once

#include "manager/RemoteAircraft.h"
#include "model/AircraftState.h"
#include "model/Controller.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <msgpack.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velk::simulator::xplane {

// Messages of 64 KiB or more are neither sent nor accepted.
inline constexpr std::size_t kMaxPluginMessageSize = 65536;

// One received envelope: [type, payload]. The payload is nil when absent and
// lives in `zone`.
struct PluginMessage {
    std::string type;
    msgpack::object payload;
    std::shared_ptr<msgpack::zone> zone;
};

// One controller as the plug-in lists it.
struct AtcEntry {
    QString callsign;
    QString realName;
    QString frequencyText; // MHz with three decimals: "118.700"
    qint64 frequencyKhz = 0;
};

// Builds one envelope: a two-element array of the type and a payload array
// of `payloadSize` elements, which the caller then writes in order.
class PluginMessageWriter {
public:
    PluginMessageWriter(std::string_view type, std::uint32_t payloadSize);

    PluginMessageWriter& text(const QString& value);
    PluginMessageWriter& f64(double value);
    PluginMessageWriter& f32(float value);
    PluginMessageWriter& integer(qint64 value);
    PluginMessageWriter& boolean(bool value);
    PluginMessageWriter& nil();
    PluginMessageWriter& optionalBool(const std::optional<bool>& value);
    PluginMessageWriter& array(std::uint32_t size);

    const msgpack::sbuffer& buffer() const { return m_buffer; }
    std::string_view bytes() const { return {m_buffer.data(), m_buffer.size()}; }

private:
    // The packer only points at the buffer, so the writer stays movable.
    msgpack::packer<msgpack::sbuffer> packer() { return msgpack::packer<msgpack::sbuffer>(m_buffer); }

    msgpack::sbuffer m_buffer;
};

// Controllers the plug-in shows: marked as ATC, with a usable frequency.
QList<AtcEntry> atcEntriesFrom(const QList<model::Controller>& controllers);

PluginMessageWriter encodeVersionRequest();
PluginMessageWriter encodeCslRequest(const QStringList& paths);
PluginMessageWriter encodeAdd(const manager::RemoteAircraft& aircraft);
PluginMessageWriter encodeAircraftConfig(const manager::RemoteAircraft& aircraft);
PluginMessageWriter encodeDelete(const QString& callsign, const QString& reason);
PluginMessageWriter encodeDeleteAll();
PluginMessageWriter encodeControllers(const QList<AtcEntry>& entries);
PluginMessageWriter encodePosition(const manager::RemoteAircraft& aircraft,
                                   const model::AircraftVisualState& state);
PluginMessageWriter encodeFastPosition(const manager::RemoteAircraft& aircraft,
                                       const model::AircraftVisualState& state,
                                       const model::VelocityVector& positional,
                                       const model::VelocityVector& rotational);
PluginMessageWriter encodeHeartbeat(const QString& callsign);
PluginMessageWriter encodeRadioSent(const QString& message);
PluginMessageWriter encodeRadioReceived(const QString& from, const QString& message, bool isDirect);
PluginMessageWriter encodeNotification(const QString& text, qint64 rgb);
PluginMessageWriter encodePrivateSent(const QString& to, const QString& message);
PluginMessageWriter encodePrivateReceived(const QString& from, const QString& message);
PluginMessageWriter encodeConnected(const QString& callsign, const QString& selcalCode, bool observerMode);
PluginMessageWriter encodeDisconnected();
PluginMessageWriter encodeStationCallsign(int radio, const QString& station);

// Decodes one envelope from the plug-in with bounded sizes and depth. Nothing
// for anything that is too large, malformed, truncated or not [type, ...].
std::optional<PluginMessage> decodePluginMessage(const char* data, std::size_t size);

// Readers of payload elements; nothing when the element has another type.
// A nil payload reads as no elements; any other non-array payload as nothing.
std::optional<std::span<const msgpack::object>> payloadElements(const msgpack::object& payload);
std::optional<QString> readText(const msgpack::object& element); // str or bin, UTF-8
std::optional<bool> readBool(const msgpack::object& element);
std::optional<qint32> readInt32(const msgpack::object& element);

} // namespace velk::simulator::xplane
