#pragma once

#include <QMetaType>
#include <QString>

#include <cstdint>

namespace velk::simulator::msfs {

// The MSFS generation a SimConnect session runs against; also the key of
// installs, model profiles and model matches.
enum class MsfsRuntimeProfile : std::uint8_t {
    Unknown = 0,
    Msfs2020 = 1,
    Msfs2024 = 2,
};

// Log label: "Unknown", "MSFS 2020" or "MSFS 2024".
QString profileLabel(MsfsRuntimeProfile profile);

} // namespace velk::simulator::msfs

Q_DECLARE_METATYPE(velk::simulator::msfs::MsfsRuntimeProfile)
