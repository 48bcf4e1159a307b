#pragma once

#include "fsd/pdu/ControlPackets.h"
#include "fsd/pdu/InfoPackets.h"
#include "fsd/pdu/LoginPackets.h"
#include "fsd/pdu/MessagePackets.h"
#include "fsd/pdu/PositionPackets.h"

#include <QStringView>

#include <variant>

namespace velk::fsd::pdu {

// One received packet; std::monostate for a packet type the client does not know.
using Packet = std::variant<std::monostate, ClientIdentification, ServerIdentification, AddPilot, AddATC,
                            DeletePilot, DeleteATC, PilotPosition, ATCPosition, FastPilotPosition, SendFast,
                            TextMessage, RadioMessage, BroadcastMessage, Wallop, PlaneInfoRequest,
                            PlaneInfoResponse, FlightPlan, ClientQuery, ClientQueryResponse, Ping, Pong,
                            MetarResponse, KillRequest, ProtocolError, Mute>;

// Parses one received line (without its line end). Throws
// exception::PDUFormatException, carrying the line, when the packet is known
// but malformed; returns std::monostate when its type is unknown.
Packet decode(QStringView line);

// Registers every packet type with the meta-type system (idempotent).
void registerMetaTypes();

} // namespace velk::fsd::pdu
