#pragma once

#include <QMetaType>

namespace velk::simulator {

// Code returned by Simulator::simulatorGeneration().
enum class SimulatorGeneration : int {
    Unknown = 0,
    Msfs2020 = 1,
    Msfs2024 = 2,
    XPlane10 = 3,
    XPlane11 = 4,
    XPlane12 = 5,
};

} // namespace velk::simulator

Q_DECLARE_METATYPE(velk::simulator::SimulatorGeneration)
