#pragma once

#include "model/AircraftState.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace velk::simulator::xplane {

// One row of the RREF subscription table; the index is the row's position.
struct DatarefSubscription {
    qint32 rate; // replies per second
    const char* path;
};

inline constexpr qint32 kDatarefCount = 53;
inline constexpr qsizetype kRrefRequestSize = 413;
inline constexpr qsizetype kDrefPacketSize = 509;

// Indices the adapter handles itself rather than writing into a record.
inline constexpr qint32 kReplayModeIndex = 50;
inline constexpr qint32 kPausedIndex = 51;
inline constexpr qint32 kVersionIndex = 52;

const std::array<DatarefSubscription, kDatarefCount>& datarefSubscriptions();

// "RREF", 0, int32 rate, int32 index, path padded with zeros to 400 bytes.
QByteArray buildRrefRequest(QByteArrayView path, qint32 index, qint32 rate);
// "DREF", 0, float value, path padded with zeros to 500 bytes.
QByteArray buildDrefPacket(QByteArrayView path, float value);
// "CMND", 0, path, 0.
QByteArray buildCmndPacket(QByteArrayView path);

inline bool isRrefReply(QByteArrayView datagram) {
    return datagram.size() >= 4 && std::memcmp(datagram.data(), "RREF", 4) == 0;
}

// Calls f(index, value) for every complete 8-byte pair after the 5-byte header.
template <typename F> void forEachRrefPair(QByteArrayView datagram, F&& f) {
    if (datagram.size() < 5) {
        return;
    }
    const qsizetype pairs = (datagram.size() - 5) / 8;
    const char* p = datagram.data() + 5;
    for (qsizetype i = 0; i < pairs; ++i, p += 8) {
        const qint32 index = qFromLittleEndian<qint32>(p);
        const quint32 bits = qFromLittleEndian<quint32>(p + 4);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        f(index, value);
    }
}

// A float from X-Plane as the integer it stands for, truncated; nothing when
// it is not finite or does not fit T.
template <typename T> std::optional<T> integerFrom(float value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double t = std::trunc(static_cast<double>(value));
    if (t < static_cast<double>(std::numeric_limits<T>::min()) ||
        t > static_cast<double>(std::numeric_limits<T>::max())) {
        return std::nullopt;
    }
    return static_cast<T>(t);
}

// Writes one reply value into the records as the subscription table says.
// Indices outside 0..49 (including the adapter's own 50..52) change nothing
// and return false. Values that cannot become the integer they stand for
// (not finite, out of range), and numbers that are not finite, are ignored.
bool applyDatarefValue(qint32 index, float value, model::UserAircraftData& data,
                       model::UserAircraftConfigData& config, model::RadioStackState& radio);

} // namespace velk::simulator::xplane
