// The logged-in session fed received lines: a pilot session on a loopback FSD
// server with a bound back end takes any lines the server sends. A line that
// ends the session is followed by a fresh login for the next input.
#include "AppConfig.h"
#include "FuzzSupport.h"
#include "manager/AircraftManager.h"
#include "manager/NetworkManager.h"
#include "model/MetaTypes.h"
#include "support/FakeSimulator.h"
#include "support/FsdTestServer.h"

#include <QDeadlineTimer>
#include <QEventLoop>

#include <memory>

using velk::manager::AircraftManager;
using velk::manager::NetworkManager;
using velk::test::FakeSimulator;
using velk::test::FsdTestServer;

namespace {

const QString kCallsign = QStringLiteral("ABC123");
const QString kMarker = QStringLiteral("#TMSERVER:ABC123:end of input");

struct Session {
    FsdTestServer server;
    std::shared_ptr<NetworkManager> nm;
    std::shared_ptr<AircraftManager> table;
    std::shared_ptr<FakeSimulator> sim = std::make_shared<FakeSimulator>();
    bool markerSeen = false;

    Session() {
        velk::AppConfig* config = velk::AppConfig::instance();
        config->setValue(velk::ConfigKeys::AuthVatsim, false);
        config->setValue(velk::ConfigKeys::AuthUsername, QStringLiteral("1234567"));
        config->setValue(velk::ConfigKeys::AuthPassword, QStringLiteral("s3cret"));
        server.listen();
        qputenv("VELK_FSD_SERVER", QStringLiteral("127.0.0.1:%1").arg(server.port()).toUtf8());
    }

    static bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired()) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        return true;
    }

    void login() {
        table.reset();
        nm.reset();
        spinUntil([this] { return !server.hasClient(); });
        nm = std::make_shared<NetworkManager>();
        table = std::make_shared<AircraftManager>(nm);
        nm->setSimulator(sim);
        for (int i = 1; i <= 3; ++i) {
            velk::model::UserAircraftData data;
            data.latitude = 31.14342;
            data.longitude = 121.8052 + i * 1e-5;
            sim->setUserAircraftData(data);
        }
        QObject::connect(
            nm->fsdClient(), &velk::fsd::FsdClient::raiseRawDataReceived, nm.get(),
            [this](const QString& line) { markerSeen = markerSeen || line.startsWith(kMarker); });
        if (!nm->connectToNetwork(kCallsign, QStringLiteral("A320"), QString(), false) ||
            !spinUntil([this] { return server.hasClient(); }) ||
            !server.waitForLineStartingWith(QStringLiteral("#AP"))) {
            velk::fuzz::fail("login did not start");
        }
        server.sendLine(QStringLiteral("$CRSERVER:%1:IP:10.0.0.1").arg(kCallsign));
        if (!spinUntil([this] { return nm->isLoggedIn(); })) {
            velk::fuzz::fail("login did not complete");
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk::fuzz::initQt();
    velk::model::registerMetaTypes();
    static Session session;
    if (!session.nm || !session.nm->isLoggedIn() || !session.server.hasClient()) {
        session.login();
    }
    session.markerSeen = false;
    session.server.sendRaw(velk::fuzz::bytesOf(data, size) + "\r\n" + kMarker.toUtf8() + "\r\n");
    Session::spinUntil([] { return session.markerSeen || !session.nm->isLoggedIn(); });
    session.server.clearReceived();
    session.sim->clearCalls();
    return 0;
}
