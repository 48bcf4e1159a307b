#include "support/VoiceTestServer.h"
#include "voice/NetworkHandler.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace velk;
using test::VoiceTestServer;
using voice::NetworkHandler;
using voice::VoicePacket;

namespace {

// A voice test server and a transport pointed at it, with spies on the transport.
struct Rig {
    VoiceTestServer server;
    NetworkHandler handler;
    QSignalSpy states{&handler, &NetworkHandler::socketStateChanged};
    QSignalSpy messages{&handler, &NetworkHandler::controlMessageReceived};
    QSignalSpy packets{&handler, &NetworkHandler::voicePacketReceived};

    Rig() {
        server.listen();
        handler.setServer(server.server());
        handler.setCid(1234567);
        handler.setCallsign("CES123");
    }
    // Connected, with the server holding the auth line and the hello.
    bool connect(const QString& auth = QStringLiteral("jwt.token")) {
        handler.connectToServer(auth);
        return states.wait() && states.last().at(0).toBool() && server.waitForLines(0) &&
               server.waitForUdpPeer();
    }
};

} // namespace

class TestVoiceTransport : public QObject {
    Q_OBJECT

private slots:
    void authLineComesFirstAndTheHelloReachesTheVoicePath() {
        Rig r;
        QVERIFY(r.connect(QStringLiteral("jwt\r\n.token")));
        QCOMPARE(r.server.authLine(), QByteArray("jwt.token")); // a line break cannot split it
        QCOMPARE(r.server.datagrams().at(0), QByteArray::fromHex("87D612000000000000064345533132330A"));
        // A second connect replaces the first without a word to the old one.
        QVERIFY(r.connect(QStringLiteral("second")));
        QTRY_COMPARE(r.server.authLine(), QByteArray("second"));
        QCOMPARE(r.states.count(), 2);
        QVERIFY(r.server.lines().isEmpty());
    }

    void controlLinesAreFramedAndBadOnesAreDroppedWithAWarning() {
        Rig r;
        QVERIFY(r.connect());
        for (const char* problem : {"parse error", "not a JSON object", "\"cid\" must be", "unknown type"}) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("failed to parse control message: .*") +
                                                    QRegularExpression::escape(problem)));
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("control line longer than 65536 bytes dropped"));
        r.server.control().sendRaw(R"({"type")");
        r.server.control().sendRaw(R"(:"pong"})"
                                   "\n\n[1]\n"
                                   R"({"type":"pong","cid":1.5})"
                                   "\n");
        r.server.control().sendRaw(QByteArray(70000, 'x') + R"({"type":"error"})"
                                                            "\n"
                                                            R"({"type":"new_thing"})"
                                                            "\n");
        r.server.control().sendRaw(R"({"type":"error","data":"late"})"
                                   "\n");
        QTRY_COMPARE(r.messages.count(), 2);
        QCOMPARE(r.messages.at(0).at(0).value<voice::ControlMessage>().type, voice::ControlMessageType::Pong);
        QCOMPARE(r.messages.at(1).at(0).value<voice::ControlMessage>().data, std::string("late"));
        QCOMPARE(r.states.count(), 1);
    }

    void badDatagramsAreCountedAndGoodOnesStillArrive() {
        Rig r;
        QVERIFY(r.connect());
        const QByteArray bad[] = {QByteArray(), QByteArray(9, 'a'),
                                  QByteArray::fromHex("0100000000000000000A41") + '\n',
                                  VoiceTestServer::encode(1, 0, 118500, "A", QByteArray(4001, 'o')),
                                  VoiceTestServer::encode(1, 0, 118500, "A", "o").chopped(1)};
        for (const QByteArray& datagram : bad) {
            r.server.sendDatagram(datagram);
        }
        r.server.sendDatagram(VoiceTestServer::encode(777, -1, 118500, "CCA1", "opus"));
        QTRY_COMPARE(r.packets.count(), 1);
        QCOMPARE(r.packets.at(0).at(0).value<VoicePacket>(),
                 (VoicePacket{777, -1, 118500, "CCA1", {'o', 'p', 'u', 's'}}));
        QCOMPARE(r.handler.droppedDatagrams(), quint64(std::size(bad)));
    }

    void pingsCarryTheTimeAndRefreshTheHello() {
        Rig r;
        r.handler.setPingInterval(std::chrono::milliseconds(20));
        QVERIFY(r.connect());
        r.handler.setCallsign("NEW1");
        QVERIFY(r.server.waitForLines(2));
        const QJsonObject ping = QJsonDocument::fromJson(r.server.lines().at(0)).object();
        QCOMPARE(ping.value("type").toString(), QStringLiteral("ping"));
        QCOMPARE(ping.value("cid").toInt(), 1234567);
        QVERIFY(qAbs(ping.value("data").toString().toLongLong() - QDateTime::currentSecsSinceEpoch()) < 5);
        QTRY_COMPARE(r.server.datagrams().last(), VoiceTestServer::encode(1234567, 0, 0, "NEW1", {}));
    }

    void voicePathWaitsForAServerNotYetListening() {
        Rig r;
        r.server.stopUdp();
        r.handler.setPingInterval(std::chrono::milliseconds(20));
        r.handler.connectToServer(QStringLiteral("t"));
        QVERIFY(r.server.waitForLines(1)); // pings flow while the voice side is down
        QVERIFY(r.server.startUdp() && r.server.waitForUdpPeer());
        r.server.sendDatagram(VoiceTestServer::encode(1, 0, 121500, "X", "a"));
        QTRY_COMPARE(r.packets.count(), 1);
    }

    void voicePacketsWaitingForTheEventLoopAreCapped() {
        Rig r;
        QVERIFY(r.connect());
        for (quint32 i = 0; i < 100; ++i) {
            r.server.sendDatagram(VoiceTestServer::encode(i, 0, 121500, "X", "a"));
        }
        // Without turning the event loop, so that nothing is handed out yet.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (r.handler.droppedVoicePackets() < 50 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        QCOMPARE(r.handler.droppedVoicePackets(), quint64(50));
        QTRY_COMPARE(r.packets.count(), int(NetworkHandler::kMaxQueuedVoicePackets));
        QCOMPARE(r.packets.at(0).at(0).value<VoicePacket>().cid, 50u);
    }
};

QTEST_GUILESS_MAIN(TestVoiceTransport)
#include "tst_voicetransport.moc"
