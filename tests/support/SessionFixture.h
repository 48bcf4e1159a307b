#pragma once

// A session manager against the FSD test server on 127.0.0.1, with a fake
// simulator back end. Shared by the session manager's and the tables' test
// programs.

#include "AppConfig.h"
#include "manager/NetworkManager.h"
#include "support/FakeSimulator.h"
#include "support/FsdTestServer.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace velk::test {

class SessionHarness {
public:
    FsdTestServer server;
    std::shared_ptr<FakeSimulator> sim;
    // Shared, as the table managers hold it; reset any table before destroy().
    std::shared_ptr<manager::NetworkManager> nm;

    // The deployment's FSD server is read once per process: call this before
    // the first connection attempt of the program.
    bool startServer() {
        if (!server.listen()) {
            return false;
        }
        qputenv("VELK_FSD_SERVER", QStringLiteral("127.0.0.1:%1").arg(server.port()).toUtf8());
        return true;
    }

    static void configure(bool vatsim) {
        auto* config = AppConfig::instance();
        config->setValue(ConfigKeys::AuthVatsim, vatsim);
        config->setValue(ConfigKeys::AuthUsername, QStringLiteral("1234567"));
        config->setValue(ConfigKeys::AuthPassword, QStringLiteral("s3cret"));
        config->setValue(ConfigKeys::ProfileRealname, QStringLiteral("Test Pilot"));
        config->setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("zsss"));
    }

    void create() {
        server.clearReceived();
        nm = std::make_shared<manager::NetworkManager>();
        sim.reset();
    }

    // Ends the session and waits until the server has seen the client go.
    void destroy() {
        const bool hadClient = server.hasClient();
        nm.reset();
        if (hadClient) {
            server.waitForClientGone();
        }
        sim.reset();
        server.clearReceived();
    }

    // Binds `sim` (a new fake when there is none) without any data; the calls
    // made so far are forgotten.
    void bindSimulator() {
        if (!sim) {
            sim = std::make_shared<FakeSimulator>();
        }
        nm->setSimulator(sim);
        sim->clearCalls();
    }

    // A bound back end whose data has become valid.
    void bindValidSimulator() {
        sim = std::make_shared<FakeSimulator>();
        nm->setSimulator(sim);
        for (int i = 1; i <= 3; ++i) {
            model::UserAircraftData data;
            data.latitude = 31.14342;
            data.longitude = 121.8052 + i * 1e-5;
            sim->setUserAircraftData(data);
        }
    }

    // Connects, waits for the login lines and completes the login with the
    // server's IP answer; the received lines are cleared afterwards.
    bool login(const QString& callsign, bool observer, const QString& type = QStringLiteral("A320"),
               const QString& selcal = QStringLiteral("AB-CD")) {
        return startLogin(callsign, observer, type, selcal) && completeLogin(callsign);
    }

    // Connects and waits for the login lines; the login is still under way.
    bool startLogin(const QString& callsign, bool observer, const QString& type = QStringLiteral("A320"),
                    const QString& selcal = QStringLiteral("AB-CD")) {
        return nm->connectToNetwork(callsign, type, selcal, observer) && server.waitForClient(30000) &&
               server.waitForLineStartingWith(observer ? QStringLiteral("%") : QStringLiteral("#ST"), 30000);
    }

    // The server's IP answer completes the login; the received lines are cleared.
    bool completeLogin(const QString& callsign) {
        server.sendLine(QStringLiteral("$CRSERVER:%1:IP:10.0.0.1").arg(callsign));
        if (!QTest::qWaitFor([this] { return nm->isLoggedIn(); }, 30000)) {
            return false;
        }
        server.clearReceived();
        return true;
    }

    bool loginPilot(const QString& callsign = QStringLiteral("ABC123"),
                    const QString& selcal = QStringLiteral("AB-CD")) {
        if (!sim) {
            bindValidSimulator();
        }
        return login(callsign, false, QStringLiteral("A320"), selcal);
    }

    bool loginObserver(const QString& callsign = QStringLiteral("ABC_OBS")) {
        return login(callsign, true, QString());
    }

    // Sends `line` to the client and waits until the client has dispatched it.
    bool deliver(const QString& line) {
        QSignalSpy received(nm->fsdClient(), &fsd::FsdClient::raiseRawDataReceived);
        server.sendLine(line);
        return received.wait(5000);
    }

    // Every line the client has sent since the last call, in order. A marker
    // query sent last proves that nothing else is still on its way.
    QStringList sentLines() {
        const QString marker = QStringLiteral("$CQ%1:MARKER:RN").arg(nm->connectInfo().callsign);
        nm->requestRealName(QStringLiteral("MARKER"));
        server.waitForLineStartingWith(marker);
        QStringList lines = server.receivedLines();
        lines = lines.mid(0, lines.indexOf(marker));
        server.clearReceived();
        return lines;
    }

    // The lines of sentLines() that start with `prefix`.
    QStringList sentLinesStartingWith(const QString& prefix) {
        QStringList out;
        for (const QString& line : sentLines()) {
            if (line.startsWith(prefix)) {
                out << line;
            }
        }
        return out;
    }
};

} // namespace velk::test
