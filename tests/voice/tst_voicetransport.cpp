#include "support/MessageLog.h"
#include "support/TestSupport.h"
#include "support/VoiceTestServer.h"
#include "voice/NetworkHandler.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>
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
        QTRY_COMPARE(r.server.authLine(), QByteArray("jwt.token")); // a line break cannot split it
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

    void whatTheServerSaidBeforeItWentComesFirst_data() {
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QString>("error");
        QTest::newRow("close") << false << QStringLiteral("Voice server closed the connection");
        QTest::newRow("reset") << true
                               << QStringLiteral(
                                      "Voice server connection lost: Connection reset by peer (errno=104)");
    }
    void whatTheServerSaidBeforeItWentComesFirst() {
        QFETCH(bool, reset);
        QFETCH(QString, error);
        Rig r;
        QStringList seen;
        connect(&r.handler, &NetworkHandler::controlMessageReceived, this,
                [&](const voice::ControlMessage& m) { seen << QString::fromStdString(m.data); });
        connect(&r.handler, &NetworkHandler::errorOccurred, this, [&](const QString& e) { seen << e; });
        const test::MessageLog log;
        constexpr int connections = 20;
        for (int i = 0; i < connections; ++i) {
            QTest::ignoreMessage(QtWarningMsg, qPrintable("NetworkHandler: " + error));
        }
        for (int i = 0; i < connections; ++i) {
            QVERIFY(r.connect());
            r.server.sendMessage("error", "Authentication failed");
            reset ? r.server.control().resetClient() : r.server.control().closeClient();
            // The loss is in before the event loop turns, as with a busy window.
            const QDeadlineTimer deadline(10000);
            while (r.handler.isConnected() && !deadline.hasExpired()) {
                std::this_thread::yield();
            }
            QTRY_COMPARE(r.states.count(), 2 * (i + 1));
            QCOMPARE(seen, (QStringList{"Authentication failed", error}));
            // The server ended it: its last line may say why.
            QCOMPARE(r.states.last().mid(1), (QVariantList{error, true}));
            seen.clear();
        }
        QCOMPARE(log.count(error), connections); // one log line per loss
    }

    void aServerThatOutrunsTheControlInboxIsDisconnected() {
        Rig r;
        QVERIFY(r.connect());
        QSignalSpy errors(&r.handler, &NetworkHandler::errorOccurred);
        const QString error =
            QStringLiteral("Voice server sent control messages faster than they can be handled "
                           "(%1 waiting); disconnected")
                .arg(NetworkHandler::kMaxQueuedControlEvents);
        QTest::ignoreMessage(QtWarningMsg, qPrintable("NetworkHandler: " + error));
        r.server.control().sendRaw(
            QByteArray("{\"type\":\"pong\"}\n").repeated(NetworkHandler::kMaxQueuedControlEvents + 100));
        // Without turning the event loop, as a busy window would; only the
        // server's unsent bytes are pushed on.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (r.handler.isConnected() && std::chrono::steady_clock::now() < deadline) {
            r.server.control().sendRaw({});
            std::this_thread::yield();
        }
        QVERIFY(!r.handler.isConnected());
        QTRY_COMPARE(r.states.count(), 2);
        QCOMPARE(r.messages.count(), 0); // the lost connection's backlog goes with it
        QCOMPARE(errors.count(), 1);
        QVERIFY(r.server.control().waitForClientGone());
    }

    void aServerThatStopsReadingCostsTheConnectionNotTheVoice_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("rounds");
        QTest::addColumn<QString>("error");
        QTest::newRow("a line not out in time")
            << 1 << 1
            << QStringLiteral("Voice server connection lost: a control message could not be sent within 2 s");
        QTest::newRow("too many lines waiting")
            << int(NetworkHandler::kMaxQueuedControlLines) + 1 << 8
            << QStringLiteral("Voice server connection lost: %1 control messages could not be sent")
                   .arg(NetworkHandler::kMaxQueuedControlLines);
    }
    void aServerThatStopsReadingCostsTheConnectionNotTheVoice() {
        QFETCH(int, lines);
        QFETCH(int, rounds);
        QFETCH(QString, error);
        Rig r;
        r.handler.setServer(deployment::parseVoiceServer(r.server.holdUnread()));
        r.handler.setSendTimeout(std::chrono::seconds(2));
        QStringList seen;
        connect(&r.handler, &NetworkHandler::controlMessageReceived, this,
                [&](const voice::ControlMessage& m) { seen << QString::fromStdString(m.data); });
        connect(&r.handler, &NetworkHandler::errorOccurred, this, [&](const QString& e) { seen << e; });
        const voice::ControlMessage small{voice::ControlMessageType::Ping, 1, "", 0, "x"};
        for (int round = 0; round < rounds; ++round) {
            r.handler.connectToServer(QStringLiteral("t"));
            QVERIFY(r.states.wait() && r.server.acceptUnread() && r.server.waitForUdpPeer());
            QTest::ignoreMessage(QtWarningMsg, qPrintable("NetworkHandler: " + error));
            // The first line is more than the server's buffers hold; the sends
            // return all the same, before the line's time is up.
            r.handler.sendControlMessage(
                {voice::ControlMessageType::Ping, 1, "", 0, std::string(8 << 20, 'x')});
            for (int i = 2; i < lines; ++i) {
                r.handler.sendControlMessage(small);
            }
            // The server's last word is in the socket when the client gives up.
            QVERIFY(r.server.sendUnread(R"({"type":"error","data":"last word"})"
                                        "\n"));
            if (lines > 1) {
                r.handler.sendControlMessage(small);
            }
            // Voice goes out while the line waits.
            int frames = 0;
            const QDeadlineTimer deadline(10000);
            while (r.handler.isConnected() && !deadline.hasExpired()) {
                const qsizetype received = r.server.datagrams().size();
                r.handler.sendDatagram({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\n'});
                frames += test::waitUntil([&] { return r.server.datagrams().size() > received; }, 1000);
            }
            QVERIFY2(frames >= 10 || lines > 1, qPrintable(QString::number(frames)));
            QTRY_COMPARE(r.states.count(), 2 * (round + 1));
            QCOMPARE(seen, (QStringList{"last word", error}));
            QCOMPARE(r.states.last().mid(1), (QVariantList{error, false})); // the client's loss
            seen.clear();
        }
    }

    void aServerThatFallsSilentIsLost() {
        Rig r;
        r.handler.setPingInterval(std::chrono::milliseconds(50));
        QVERIFY(r.connect());
        QVERIFY(r.server.waitForLines(6)); // answered pings keep it
        QVERIFY(r.handler.isConnected());
        QSignalSpy errors(&r.handler, &NetworkHandler::errorOccurred);
        const QString error = QStringLiteral("Voice server did not answer for 0.2 s");
        QTest::ignoreMessage(QtWarningMsg, qPrintable("NetworkHandler: " + error));
        r.server.answerPings(false);
        r.server.sendMessage("error", "Frequency 118.500 is busy, please retune"); // and stays
        QTRY_COMPARE(r.states.count(), 2);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(r.states.last().mid(1), (QVariantList{error, false}));
    }

    void destroyingTheHandlerDoesNotWaitForAStalledLookUp() {
        struct Stall {
            QSemaphore release;
            std::atomic<bool> entered{false};
            std::atomic<bool> returned{false};
        };
        auto stall = std::make_shared<Stall>();
        auto handler = std::make_unique<NetworkHandler>();
        handler->setResolver([stall](const std::string&, std::uint16_t, voice::sockets::Kind) {
            stall->entered = true;
            stall->release.tryAcquire(1, 30000); // bounded, so that a failing run ends
            stall->returned = true;
            return std::optional<voice::sockets::Endpoint>();
        });
        handler->connectInBackground(QStringLiteral("t"));
        QTRY_VERIFY(stall->entered);
        handler.reset(); // as logging out or quitting does
        QVERIFY(!stall->returned);
        stall->release.release();
        // The connect thread ends on its own and lets go of everything it held.
        QTRY_COMPARE(stall.use_count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestVoiceTransport)
#include "tst_voicetransport.moc"
