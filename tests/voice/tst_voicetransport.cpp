#include "support/VoiceTestServer.h"
#include "voice/NetworkHandler.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>

using namespace velk;
using test::VoiceTestServer;
using voice::NetworkHandler;
using voice::VoicePacket;

class TestVoiceTransport : public QObject {
    Q_OBJECT

    std::unique_ptr<VoiceTestServer> server;
    std::unique_ptr<NetworkHandler> handler;
    std::unique_ptr<QSignalSpy> states;
    std::unique_ptr<QSignalSpy> messages;
    std::unique_ptr<QSignalSpy> packets;

    // Connected, with the server holding the auth line and the hello.
    void connectHandler() {
        handler->connectToServer(QStringLiteral("jwt.token"));
        QVERIFY(states->wait());
        QCOMPARE(states->at(0).at(0).toBool(), true);
        QVERIFY(server->waitForLines(0));
        QVERIFY(server->waitForUdpPeer());
    }

private slots:
    void init() {
        server = std::make_unique<VoiceTestServer>();
        QVERIFY(server->listen());
        handler = std::make_unique<NetworkHandler>();
        handler->setServer(server->server());
        handler->setCid(1234567);
        handler->setCallsign("CES123");
        states = std::make_unique<QSignalSpy>(handler.get(), &NetworkHandler::socketStateChanged);
        messages = std::make_unique<QSignalSpy>(handler.get(), &NetworkHandler::controlMessageReceived);
        packets = std::make_unique<QSignalSpy>(handler.get(), &NetworkHandler::voicePacketReceived);
    }
    void cleanup() {
        states.reset();
        messages.reset();
        packets.reset();
        handler.reset();
        server.reset();
    }

    void authLineComesFirstAndTheHelloReachesTheVoicePath() {
        handler->connectToServer(QStringLiteral("jwt\r\n.token"));
        QVERIFY(server->waitForLines(0) && server->waitForDatagrams(1));
        QCOMPARE(server->authLine(), QByteArray("jwt.token")); // a line break cannot split it
        QCOMPARE(server->datagrams().at(0), QByteArray::fromHex("87D612000000000000064345533132330A"));
        QTRY_COMPARE(states->count(), 1);
    }

    void controlLinesAreFramedAndBadOnesAreDroppedWithAWarning() {
        connectHandler();
        const QByteArray pong = R"({"type":"pong"})";
        const char* problems[] = {"parse error", "not a JSON object", "\"cid\" must be", "unknown type"};
        for (const char* problem : problems) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("failed to parse control "
                                                                   "message: .*%1")
                                                        .arg(QRegularExpression::escape(problem))));
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("control line longer than 65536 bytes dropped"));
        server->sendRaw(pong.left(5));
        server->sendRaw(pong.mid(5) + "\n\n[1]\n" + R"({"type":"pong","cid":1.5})" + "\n");
        server->sendRaw(QByteArray(70000, 'x') + R"({"type":"error"})" + "\n" + R"({"type":"new_thing"})" +
                        "\n");
        server->sendRaw(R"({"type":"error","data":"late"})"
                        "\n");
        QTRY_COMPARE(messages->count(), 2);
        QCOMPARE(messages->at(0).at(0).value<voice::ControlMessage>().type, voice::ControlMessageType::Pong);
        QCOMPARE(messages->at(1).at(0).value<voice::ControlMessage>().data, std::string("late"));
        QCOMPARE(states->count(), 1);
    }

    void badDatagramsAreCountedAndGoodOnesStillArrive() {
        connectHandler();
        const QByteArray bad[] = {QByteArray(), QByteArray(9, 'a'),
                                  QByteArray::fromHex("0100000000000000000A41") + '\n',
                                  VoiceTestServer::encode(1, 0, 118500, "A", QByteArray(4001, 'o')),
                                  VoiceTestServer::encode(1, 0, 118500, "A", "o").chopped(1)};
        for (const QByteArray& datagram : bad) {
            server->sendDatagram(datagram);
        }
        server->sendVoice(777, -1, 118500, "CCA1", "opus");
        QTRY_COMPARE(packets->count(), 1);
        const auto packet = packets->at(0).at(0).value<VoicePacket>();
        QCOMPARE(packet, (VoicePacket{777, -1, 118500, "CCA1", {'o', 'p', 'u', 's'}}));
        QCOMPARE(handler->droppedDatagrams(), quint64(std::size(bad)));
    }

    void pingsCarryTheTimeAndRefreshTheHello() {
        handler->setPingInterval(std::chrono::milliseconds(20));
        connectHandler();
        handler->setCallsign("NEW1");
        const int sent = int(server->datagrams().size());
        QVERIFY(server->waitForLines(2));
        const QJsonObject ping = QJsonDocument::fromJson(server->lines().at(0)).object();
        QCOMPARE(ping.value("type").toString(), QStringLiteral("ping"));
        QCOMPARE(ping.value("cid").toInt(), 1234567);
        QVERIFY(qAbs(ping.value("data").toString().toLongLong() - QDateTime::currentSecsSinceEpoch()) < 5);
        QVERIFY(server->waitForDatagrams(sent + 2));
        QCOMPARE(VoiceTestServer::parse(server->datagrams().last()).callsign, QByteArray("NEW1"));
        // Once the connection is gone, pings stop and the loss is reported once.
        server->closeClient();
        QTRY_COMPARE(states->count(), 2);
        QCOMPARE(states->at(1).at(0).toBool(), false);
        QVERIFY(!handler->isConnected());
        handler->sendControlMessage({voice::ControlMessageType::Ping, 1, "", 0, ""}); // no SIGPIPE
        handler->disconnectFromServer();
        QCOMPARE(states->count(), 3);
    }

    void reconnectReplacesTheOldConnectionWithoutASignal() {
        connectHandler();
        handler->connectToServer(QStringLiteral("second"));
        QTRY_COMPARE(states->count(), 2);
        QVERIFY(states->at(1).at(0).toBool());
        QTRY_COMPARE(server->authLine(), QByteArray("second"));
        QVERIFY(server->lines().isEmpty());
    }

    void voicePathWaitsForAServerNotYetListening() {
        server->stopUdp();
        handler->setPingInterval(std::chrono::milliseconds(20));
        handler->connectToServer(QStringLiteral("t"));
        QVERIFY(server->waitForLines(1)); // pings flow while the voice side is down
        QVERIFY(server->startUdp());
        QVERIFY(server->waitForUdpPeer());
        server->sendVoice(1, 0, 121500, "X", "a");
        QTRY_COMPARE(packets->count(), 1);
    }

    void voicePacketsWaitingForTheEventLoopAreCapped() {
        connectHandler();
        for (quint32 i = 0; i < 100; ++i) {
            server->sendVoice(i, 0, 121500, "X", "a");
        }
        // Without turning the event loop, so that nothing is handed out yet.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (handler->droppedVoicePackets() < 50 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        QCOMPARE(handler->droppedVoicePackets(), quint64(50));
        QTRY_COMPARE(packets->count(), int(NetworkHandler::kMaxQueuedVoicePackets));
        QCOMPARE(packets->at(0).at(0).value<VoicePacket>().cid, 50u);
    }
};

QTEST_GUILESS_MAIN(TestVoiceTransport)
#include "tst_voicetransport.moc"
