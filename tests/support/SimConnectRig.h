#pragma once

#include "simulator/msfs/SimConnectSession.h"
#include "support/StandInSimConnect.h"

#include <QSignalSpy>

// A session wired to a fresh stand-in library. The library outlives the
// session, so the session's last Close still reaches it.
struct SimConnectRig {
    StandInSimConnect lib;
    velk::simulator::msfs::SimConnectSession session;

    // Connects (through "SimConnect.dll" unless told otherwise) and forgets the calls made so far.
    bool connect(const QString& file = QStringLiteral("SimConnect.dll")) {
        lib.files = {file};
        const bool ok = session.connectToSimulator();
        lib.clearCalls();
        return ok;
    }
    // What the MSFS back end does on connected().
    void registerAndSubscribe() {
        session.registerDataDefinitions();
        for (int group = 0; group < 4; ++group)
            session.subscribeDataGroup(static_cast<velk::simulator::msfs::UpdateGroup>(group));
        lib.clearCalls();
    }
    void deliver(const QByteArray& message) {
        lib.queue(message);
        session.dispatchPump();
    }
};
