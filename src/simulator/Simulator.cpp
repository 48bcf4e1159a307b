#include "simulator/Simulator.h"

#include "model/MetaTypes.h"

namespace velk::simulator {

Simulator::Simulator(QObject* parent) : QObject(parent) {
    // Back ends emit from other threads; their records must be queueable.
    model::registerMetaTypes();
}

Simulator::~Simulator() = default;

} // namespace velk::simulator
