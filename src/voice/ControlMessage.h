#pragma once

#include <QMetaType>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velk::voice {

// Type of a control message; the wire names are "channel", "ping", "pong",
// "error", "text_receive", "voice_receive", "message" and "disconnect".
enum class ControlMessageType : std::uint8_t {
    Channel = 0,
    Ping = 1,
    Pong = 2,
    Error = 3,
    TextReceive = 4,
    VoiceReceive = 5,
    Message = 6,
    Disconnect = 7,
};

// One line of the voice server's control connection.
struct ControlMessage {
    ControlMessageType type = ControlMessageType::Disconnect;
    std::int32_t cid = 0;
    std::string callsign; // UTF-8
    std::int32_t transmitter = 0;
    std::string data; // UTF-8

    bool operator==(const ControlMessage&) const = default;
};

// Wire name; a value outside the table gives "disconnect".
std::string_view controlMessageTypeToString(ControlMessageType type);
// Exact, case-sensitive match; no match (or an empty name) gives Disconnect.
ControlMessageType controlMessageTypeFromString(std::string_view name);
// Exact match, or nothing for a name outside the table.
std::optional<ControlMessageType> findControlMessageType(std::string_view name);

// Compact JSON object with all five keys in sorted order, non-ASCII written
// as UTF-8, without the line end. Throws on invalid UTF-8.
std::string toJson(const ControlMessage& message);

// Reads one received line (without its "\n"). Pure function over the bytes:
// throws std::exception with a text naming the problem when the line is not
// one JSON object, when "cid" or "transmitter" is not an integer in range,
// when "callsign" or "data" is not a string, or when "type" is missing or not
// a known name. Missing integer and string keys default to 0 and "".
ControlMessage readControlMessage(std::string_view line);

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::ControlMessage)
