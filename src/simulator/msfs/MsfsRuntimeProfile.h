#pragma once

#include <QMetaType>

#include <cstdint>

namespace velk::simulator::msfs {

// The MSFS generation a SimConnect session runs against; also the key of
// installs, model profiles and model matches.
enum class MsfsRuntimeProfile : std::uint8_t {
    Unknown = 0,
    Msfs2020 = 1,
    Msfs2024 = 2,
};

} // namespace velk::simulator::msfs

Q_DECLARE_METATYPE(velk::simulator::msfs::MsfsRuntimeProfile)
