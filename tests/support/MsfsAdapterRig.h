#pragma once

#include "simulator/msfs/MsfsAdapter.h"
#include "support/StandInSimConnect.h"

#include <memory>

// An MSFS adapter on a fresh stand-in library, its timers off and its clock
// the test's. The library outlives the adapter, so its last Close still reaches it.
struct MsfsAdapterRig {
    std::unique_ptr<StandInSimConnect> lib;
    std::unique_ptr<velk::simulator::msfs::MsfsAdapter> adapter;
    qint64 clock = 0;

    // For the test's init() and cleanup().
    void start() {
        clock = 0;
        lib = std::make_unique<StandInSimConnect>();
        velk::simulator::msfs::MsfsAdapter::Options options;
        options.clock = [this] { return clock; };
        options.startTimers = false;
        adapter = std::make_unique<velk::simulator::msfs::MsfsAdapter>(options);
    }
    void stop() {
        adapter.reset();
        lib.reset();
    }
    // Queues `message`, when there is one, and lets the session dispatch.
    void deliver(const QByteArray& message = {}) {
        if (!message.isEmpty())
            lib->queue(message);
        adapter->session().dispatchPump();
    }
};
