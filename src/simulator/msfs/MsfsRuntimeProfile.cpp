#include "simulator/msfs/MsfsRuntimeProfile.h"

namespace velk::simulator::msfs {

QString profileLabel(MsfsRuntimeProfile profile) {
    switch (profile) {
    case MsfsRuntimeProfile::Msfs2020:
        return QStringLiteral("MSFS 2020");
    case MsfsRuntimeProfile::Msfs2024:
        return QStringLiteral("MSFS 2024");
    default:
        return QStringLiteral("Unknown");
    }
}

} // namespace velk::simulator::msfs
