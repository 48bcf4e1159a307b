#include "model/MetaTypes.h"

#include "common/MessageType.h"
#include "input/PttBinding.h"
#include "input/PttKey.h"
#include "manager/RemoteAircraft.h"
#include "model/AircraftConfig.h"
#include "model/AircraftState.h"
#include "model/ConnectInfo.h"
#include "model/Controller.h"
#include "network/RadioMessageReceived.h"
#include "simulator/SimulatorGeneration.h"
#include "voice/ControlMessage.h"
#include "voice/RadioChannel.h"
#include "voice/VoiceClient.h"
#include "voice/VoicePacket.h"
#include "voice/VolumeInfo.h"

#include <QList>
#include <QMetaType>

#include <cstdint>
#include <mutex>
#include <vector>

namespace velk::model {

void registerMetaTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<UserAircraftData>();
        qRegisterMetaType<UserAircraftConfigData>();
        qRegisterMetaType<RadioStackState>();
        qRegisterMetaType<AircraftVisualState>();
        qRegisterMetaType<VelocityVector>();
        qRegisterMetaType<ConnectInfo>();
        qRegisterMetaType<Controller>();
        qRegisterMetaType<QList<Controller>>();
        qRegisterMetaType<AircraftConfig>();
        qRegisterMetaType<AircraftConfigMessage>();
        qRegisterMetaType<manager::RemoteAircraft>();
        qRegisterMetaType<network::RadioMessageReceived>();
        qRegisterMetaType<QList<uint>>();
        qRegisterMetaType<simulator::SimulatorGeneration>();
        qRegisterMetaType<voice::RadioChannel>();
        qRegisterMetaType<voice::ConnectionState>();
        qRegisterMetaType<voice::ControlMessage>();
        qRegisterMetaType<voice::VoicePacket>();
        qRegisterMetaType<voice::VolumeInfo>();
        qRegisterMetaType<std::vector<uint8_t>>();
        qRegisterMetaType<common::MessageType>();
        qRegisterMetaType<input::PttBinding>();
        qRegisterMetaType<input::PttKey>();
    });
}

} // namespace velk::model
