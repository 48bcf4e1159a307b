#include "simulator/Simulator.h"

#include "model/MetaTypes.h"

namespace velk::simulator {

Simulator::Simulator(QObject* parent) : QObject(parent) {
    // Back ends emit from other threads; their records must be queueable.
    model::registerMetaTypes();
}

Simulator::~Simulator() = default;

void Simulator::publishUserAircraftData(bool delivered) {
    if (!delivered && m_emittedUserAircraftData && *m_emittedUserAircraftData == m_userAircraftData) {
        return;
    }
    m_emittedUserAircraftData = m_userAircraftData;
    emit userAircraftDataChanged(m_userAircraftData);
}

void Simulator::publishUserAircraftConfigData() {
    if (m_emittedUserAircraftConfigData && *m_emittedUserAircraftConfigData == m_userAircraftConfigData) {
        return;
    }
    m_emittedUserAircraftConfigData = m_userAircraftConfigData;
    emit userAircraftConfigDataChanged(m_userAircraftConfigData);
}

void Simulator::publishRadioStackState() {
    if (m_emittedRadioStackState && *m_emittedRadioStackState == m_radioStackState) {
        return;
    }
    m_emittedRadioStackState = m_radioStackState;
    emit radioStackStateChanged(m_radioStackState);
}

} // namespace velk::simulator
