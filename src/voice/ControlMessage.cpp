#include "voice/ControlMessage.h"

#include <nlohmann/json.hpp>

#include <array>
#include <limits>
#include <stdexcept>

namespace velk::voice {

namespace {

constexpr std::array<std::string_view, 8> kTypeNames = {
    "channel", "ping", "pong", "error", "text_receive", "voice_receive", "message", "disconnect",
};

using Json = nlohmann::json;

std::int32_t readInteger(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return 0;
    }
    // Floats, booleans and out-of-range numbers are refused rather than
    // converted: the conversion would be undefined or silently wrong.
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        if (value <= std::uint64_t(kMax)) {
            return static_cast<std::int32_t>(value);
        }
    } else if (it->is_number_integer()) {
        const auto value = it->get<std::int64_t>();
        if (value >= kMin && value <= kMax) {
            return static_cast<std::int32_t>(value);
        }
    }
    throw std::invalid_argument(std::string("\"") + key + "\" must be a 32-bit integer, got " + it->dump());
}

std::string readString(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return {};
    }
    if (!it->is_string()) {
        throw std::invalid_argument(std::string("\"") + key + "\" must be a string, got " +
                                    std::string(it->type_name()));
    }
    return it->get<std::string>();
}

} // namespace

std::string_view controlMessageTypeToString(ControlMessageType type) {
    const auto index = static_cast<std::size_t>(type);
    return index < kTypeNames.size() ? kTypeNames[index] : kTypeNames.back();
}

std::optional<ControlMessageType> findControlMessageType(std::string_view name) {
    for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
        if (kTypeNames[i] == name) {
            return static_cast<ControlMessageType>(i);
        }
    }
    return std::nullopt;
}

ControlMessageType controlMessageTypeFromString(std::string_view name) {
    return findControlMessageType(name).value_or(ControlMessageType::Disconnect);
}

std::string toJson(const ControlMessage& message) {
    Json object = Json::object();
    object["type"] = controlMessageTypeToString(message.type);
    object["cid"] = message.cid;
    object["callsign"] = message.callsign;
    object["transmitter"] = message.transmitter;
    object["data"] = message.data;
    return object.dump(-1, ' ', false, Json::error_handler_t::strict);
}

ControlMessage readControlMessage(std::string_view line) {
    const Json value = Json::parse(line.begin(), line.end(), nullptr, true, false);
    if (!value.is_object()) {
        throw std::invalid_argument("not a JSON object but " + std::string(value.type_name()));
    }
    // A message without a known type is not acted on: reading it as
    // "disconnect" would end a session on a server's newer message.
    const auto type = value.find("type");
    if (type == value.end()) {
        throw std::invalid_argument("missing \"type\"");
    }
    if (!type->is_string()) {
        throw std::invalid_argument("\"type\" must be a string, got " + std::string(type->type_name()));
    }
    const auto known = findControlMessageType(type->get_ref<const std::string&>());
    if (!known) {
        throw std::invalid_argument("unknown type " + type->dump());
    }
    ControlMessage message;
    message.type = *known;
    message.cid = readInteger(value, "cid");
    message.callsign = readString(value, "callsign");
    message.transmitter = readInteger(value, "transmitter");
    message.data = readString(value, "data");
    return message;
}

} // namespace velk::voice
