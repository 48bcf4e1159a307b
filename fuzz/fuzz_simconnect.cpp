// SimConnect messages through the stand-in library: a connected session with
// its data groups subscribed takes any messages the library hands out.
//
// Input: messages separated by the bytes "|MSG|" (each is handed out whole).
#include "FuzzSupport.h"
#include "simulator/msfs/SimConnectSession.h"
#include "support/StandInSimConnect.h"

#include <memory>

namespace msfs = velk::simulator::msfs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk::fuzz::initQt();
    StandInSimConnect lib;
    msfs::SimConnectSession session;
    if (!session.connectToSimulator()) {
        velk::fuzz::fail("stand-in session did not connect");
    }
    session.registerDataDefinitions();
    for (int group = 0; group < 4; ++group) {
        session.subscribeDataGroup(static_cast<msfs::UpdateGroup>(group));
    }
    QByteArray input = velk::fuzz::bytesOf(data, size);
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = input.indexOf("|MSG|", start);
        lib.queue(input.mid(start, end < 0 ? -1 : end - start));
        if (end < 0) {
            break;
        }
        start = end + 5;
    }
    session.dispatchPump();
    QCoreApplication::sendPostedEvents();
    return 0;
}
