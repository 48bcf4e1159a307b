#pragma once

#include "simulator/msfs/SimConnectLibrary.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>

// Reading received messages in place and writing HRESULTs into texts; shared
// by the session's files.
namespace velk::simulator::msfs::wire {

// Offsets every message kind shares.
constexpr std::uint32_t kIdOffset = 8;
constexpr std::uint32_t kDataOffset = 40;
constexpr std::uint32_t kTextBytes = 256;

// Reads a T at offset when the message holds all of its bytes.
template <typename T>
bool readAt(const std::uint8_t* message, std::uint32_t size, std::uint64_t offset, T& out) {
    if (offset + sizeof(T) > size)
        return false;
    std::memcpy(&out, message + offset, sizeof(T));
    return true;
}

// A fixed-width text field up to its first NUL.
inline QByteArray fixedText(const std::uint8_t* field, std::size_t width) {
    const auto* begin = reinterpret_cast<const char*>(field);
    const auto* nul = static_cast<const char*>(std::memchr(begin, 0, width));
    return QByteArray(begin, nul ? nul - begin : static_cast<qsizetype>(width));
}

inline QString hex(SimResult result) {
    return QString::number(static_cast<std::uint32_t>(result), 16);
}

inline QString withResult(const QString& text, SimResult result) {
    return QStringLiteral("%1 (HRESULT: 0x%2)").arg(text, hex(result));
}

} // namespace velk::simulator::msfs::wire
