#include "support/VoiceTestServer.h"
#include "voice/VoiceClient.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace velk;
using test::VoiceTestServer;
using voice::ConnectionState;
using voice::RadioChannel;
using voice::VoiceClient;

namespace {

QList<ConnectionState> statesOf(const QSignalSpy& spy) {
    QList<ConnectionState> out;
    for (const QList<QVariant>& args : spy) {
        out.append(args.at(0).value<ConnectionState>());
    }
    return out;
}

} // namespace

class TestVoiceSession : public QObject {
    Q_OBJECT

    std::unique_ptr<VoiceTestServer> server;
    std::unique_ptr<VoiceClient> client;
    std::unique_ptr<QSignalSpy> states;
    std::unique_ptr<QSignalSpy> errors;

    void signOn(quint32 cid = 1234567) {
        client->setCid(cid);
        client->connectToServer(QStringLiteral("jwt.token"));
        QTRY_COMPARE(client->connectionState(), ConnectionState::Connected);
        QVERIFY(server->waitForLines(0) && server->waitForUdpPeer());
    }
    void becomeReady(quint32 cid = 1234567, const QByteArray& callsign = "CES123") {
        signOn(cid);
        server->sendWelcome(callsign);
        QTRY_COMPARE(client->connectionState(), ConnectionState::Ready);
    }

private slots:
    void init() {
        server = std::make_unique<VoiceTestServer>();
        QVERIFY(server->listen());
        client = std::make_unique<VoiceClient>();
        client->transport()->setServer(server->server());
        states = std::make_unique<QSignalSpy>(client.get(), &VoiceClient::connectionStateChanged);
        errors = std::make_unique<QSignalSpy>(client.get(), &VoiceClient::errorOccurred);
    }
    void cleanup() {
        states.reset();
        errors.reset();
        client.reset();
        server.reset();
    }

    void aPilotSignsOnAnnouncesRadiosTalksAndLeaves() {
        becomeReady();
        QCOMPARE(statesOf(*states),
                 (QList{ConnectionState::Connecting, ConnectionState::Connected, ConnectionState::Ready}));
        QCOMPARE(server->authLine(), QByteArray("jwt.token"));
        client->updateRadioStack({0, 118500, true, true, 1.0f, false});
        client->updateRadioStack({1, 121500, false, false, 1.0f, false});
        client->sendTextMessage(QStringLiteral("ZSSS_APP"), QStringLiteral("你好"));
        QVERIFY(server->waitForLines(3));
        QCOMPARE(
            server->lines(),
            (QList<QByteArray>{
                R"({"callsign":"CES123","cid":1234567,"data":"118500:1","transmitter":0,"type":"channel"})",
                R"({"callsign":"CES123","cid":1234567,"data":"121500:0","transmitter":1,"type":"channel"})",
                QStringLiteral(
                    R"({"callsign":"CES123","cid":1234567,"data":"ZSSS_APP:你好","transmitter":0,"type":"message"})")
                    .toUtf8()}));

        server->relayVoiceAs("CCA999");
        QSignalSpy heard(client->transport(), &voice::NetworkHandler::voicePacketReceived);
        QVERIFY(client->transmitVoiceFrame({1, 2, 3}));
        QVERIFY(heard.wait());
        const auto sent = VoiceTestServer::parse(server->datagrams().last());
        QCOMPARE(sent.cid, 1234567u);
        QCOMPARE(sent.frequency, 118500);
        QCOMPARE(sent.callsign, QByteArray("CES123"));
        QCOMPARE(sent.audio, QByteArray("\x01\x02\x03"));
        QCOMPARE(heard.at(0).at(0).value<voice::VoicePacket>().callsign, std::string("CCA999"));

        client->disconnectFromServer();
        QCOMPARE(client->connectionState(), ConnectionState::Disconnected);
        QVERIFY(server->waitForLines(4));
        QCOMPARE(
            server->lines().last(),
            QByteArray(R"({"callsign":"","cid":1234567,"data":"","transmitter":0,"type":"disconnect"})"));
        QVERIFY(server->waitForClientGone());
        QVERIFY(!client->transmitVoiceFrame({1}));
    }

    void theWelcomeConfirmsAUsableIdentity_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("callsign"); // empty: no Ready
        QTest::addColumn<bool>("error");
        QTest::newRow("callsign and greeting")
            << QByteArray("SERVER:CES123:Welcome aboard") << QByteArray("CES123") << false;
        QTest::newRow("greeting only")
            << QByteArray("SERVER:Welcome aboard") << QByteArray("Welcome aboard") << false;
        QTest::newRow("254 bytes") << "SERVER:" + QByteArray(254, 'A') + ":Welcome" << QByteArray(254, 'A')
                                   << false;
        QTest::newRow("not from SERVER") << QByteArray("CES1:Welcome") << QByteArray() << false;
        QTest::newRow("no Welcome") << QByteArray("SERVER:CES123:hello") << QByteArray() << false;
        QTest::newRow("lower-case welcome") << QByteArray("SERVER:CES123:welcome") << QByteArray() << false;
        QTest::newRow("empty identity") << QByteArray("SERVER::Welcome") << QByteArray() << true;
        QTest::newRow("255 bytes") << "SERVER:" + QByteArray(255, 'A') + ":Welcome" << QByteArray() << true;
    }
    void theWelcomeConfirmsAUsableIdentity() {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, callsign);
        QFETCH(bool, error);
        signOn();
        if (error) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("VoiceClient: .*unusable callsign"));
        }
        server->sendMessage("message", data);
        server->sendMessage("error", "marker"); // everything before it has been handled
        QTRY_COMPARE(errors->count(), int(error) + 1);
        QCOMPARE(client->connectionState(),
                 callsign.isEmpty() ? ConnectionState::Connected : ConnectionState::Ready);
        QCOMPARE(client->callsign(), callsign);
    }

    void nothingIsSentWithoutACid() {
        becomeReady(0);
        QVERIFY(!client->isReady());
        client->updateRadioStack({0, 118500, true, true, 1.0f, false});
        client->sendTextMessage(QStringLiteral("a"), QStringLiteral("b"));
        QVERIFY(!client->transmitVoiceFrame({1}));
        client->disconnectFromServer();
        QVERIFY(server->waitForLines(1));
        QCOMPARE(server->lines().size(), 1); // only the goodbye
        QVERIFY(client->radios().isEmpty());
    }

    void serverMessagesAreReportedAndADisconnectEndsTheSession() {
        becomeReady();
        client->updateRadioStack({0, 118500, true, true, 1.0f, false});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unknown type \"handover\""));
        server->sendRaw(R"({"type":"handover","data":"x"})"
                        "\n");
        server->sendMessage("error", "频率已被占用");
        QTRY_COMPARE(errors->count(), 1);
        QCOMPARE(errors->at(0).at(0).toString(), QStringLiteral("频率已被占用"));
        QCOMPARE(client->connectionState(), ConnectionState::Ready);

        server->sendMessage("disconnect", "kicked by supervisor");
        QTRY_COMPARE(client->connectionState(), ConnectionState::Disconnected);
        QCOMPARE(errors->last().at(0).toString(), QStringLiteral("kicked by supervisor"));
        QVERIFY(client->radios().isEmpty());
        QVERIFY(server->waitForClientGone()); // the transport closed its side
    }

    void aVanishedServerEndsTheSessionExactlyOnce_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("close") << 0;
        QTest::newRow("reset") << 1;
        QTest::newRow("vanish") << 2;
    }
    void aVanishedServerEndsTheSessionExactlyOnce() {
        QFETCH(int, how);
        becomeReady();
        if (how == 0) {
            server->closeClient();
        } else {
            server->resetClient();
        }
        if (how == 2) {
            server->stopUdp();
            server->stopListening();
        }
        QTRY_COMPARE(client->connectionState(), ConnectionState::Disconnected);
        client->updateRadioStack({0, 118500, true, true, 1.0f, false}); // not ready: nothing
        client->transport()->sendControlMessage(
            {voice::ControlMessageType::Ping, 1, "", 0, ""}); // no SIGPIPE
        client->transport()->sendDatagram({1, 2});
        client->disconnectFromServer();
        QCOMPARE(states->count(), 4);
        QCOMPARE(states->last().at(0).value<ConnectionState>(), ConnectionState::Disconnected);
    }

    void aFailedConnectEndsDisconnectedWithTheReason_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("refused")
            << 0
            << "Failed to connect to server at 127.0.0.1 \\(ip=127.0.0.1:\\d+\\): Connection "
               "refused \\(errno=111\\)";
        QTest::newRow("timed out") << 1
                                   << "Failed to connect to server at 127.0.0.1 \\(ip=127.0.0.1:\\d+\\): "
                                      "Connection timed out \\(errno=110\\)";
        QTest::newRow("no such host") << 2 << "Failed to resolve server address $";
    }
    void aFailedConnectEndsDisconnectedWithTheReason() {
        QFETCH(int, kind);
        QFETCH(QString, error);
        auto target = server->server();
        if (kind == 0) {
            server->stopListening();
        } else if (kind == 1) {
            target = deployment::parseVoiceServer(server->holdUnaccepted());
            client->transport()->setConnectTimeout(std::chrono::milliseconds(200));
        } else {
            target.host.clear();
        }
        client->transport()->setServer(target);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("NetworkHandler: " + error));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(error));
        client->connectToServer(QStringLiteral("t"));
        QTRY_COMPARE(client->connectionState(), ConnectionState::Disconnected);
        QCOMPARE(errors->count(), 1);
        QVERIFY(QRegularExpression(error).match(errors->at(0).at(0).toString()).hasMatch());
        QCOMPARE(statesOf(*states), (QList{ConnectionState::Connecting, ConnectionState::Disconnected}));
    }

    void disconnectWhileConnectingReturnsAtOnce() {
        client->transport()->setServer(deployment::parseVoiceServer(server->holdUnaccepted()));
        client->connectToServer(QStringLiteral("t"));
        QTRY_VERIFY(client->transport()->connectPending());
        client->disconnectFromServer();
        QCOMPARE(client->connectionState(), ConnectionState::Disconnected);
        QTRY_COMPARE(client->transport()->connectsInFlight(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(statesOf(*states), (QList{ConnectionState::Connecting, ConnectionState::Disconnected}));
        QCOMPARE(errors->count(), 0);
    }

    void overlappingConnectsLeaveOneConnection() {
        client->setCid(1);
        for (int i = 0; i < 5; ++i) {
            client->connectToServer(QStringLiteral("t%1").arg(i));
        }
        QTRY_COMPARE(client->connectionState(), ConnectionState::Connected);
        QTRY_COMPARE(server->authLine(), QByteArray("t4"));
        QTRY_COMPARE(client->transport()->connectsInFlight(), 0);
        QCOMPARE(states->count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestVoiceSession)
#include "tst_voicesession.moc"
