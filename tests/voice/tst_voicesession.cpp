#include "support/MessageLog.h"
#include "support/VoiceSessionRig.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace velk;
using test::VoiceTestServer;
using Rig = test::VoiceSessionRig;
using voice::ConnectionState;
using voice::VoiceClient;
using States = QList<ConnectionState>;

namespace {

const voice::RadioChannel kCom1{0, 118500, true, true, 1.0f, false};

} // namespace

class TestVoiceSession : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        QVERIFY(rig.holdPortAudio() && JackRig::device("system") >= 0);
    }

    void aPilotSignsOnAnnouncesRadiosTalksAndLeaves() {
        Rig r;
        QVERIFY(r.becomeReady());
        QCOMPARE(r.seen(),
                 (States{ConnectionState::Connecting, ConnectionState::Connected, ConnectionState::Ready}));
        QTRY_COMPARE(r.server.authLine(), QByteArray("jwt.token"));
        r.client.updateRadioStack(kCom1);
        r.client.updateRadioStack({1, 121500, false, false, 1.0f, false});
        r.client.sendTextMessage(QStringLiteral("ZSSS_APP"), QStringLiteral("你好"));
        QVERIFY(r.server.waitForLines(3));
        QCOMPARE(
            r.server.lines(),
            (QList<QByteArray>{
                R"({"callsign":"CES123","cid":1234567,"data":"118500:1","transmitter":0,"type":"channel"})",
                R"({"callsign":"CES123","cid":1234567,"data":"121500:0","transmitter":1,"type":"channel"})",
                QStringLiteral(
                    R"({"callsign":"CES123","cid":1234567,"data":"ZSSS_APP:你好","transmitter":0,"type":"message"})")
                    .toUtf8()}));

        r.server.relayVoiceAs("CCA999");
        QSignalSpy heard(r.client.transport(), &voice::NetworkHandler::voicePacketReceived);
        QVERIFY(r.client.transmitVoiceFrame({1, 2, 3}));
        QVERIFY(heard.wait());
        QCOMPARE(r.server.datagrams().last(),
                 VoiceTestServer::encode(1234567, 0, 118500, "CES123", "\x01\x02\x03"));
        QCOMPARE(heard.at(0).at(0).value<voice::VoicePacket>().callsign, std::string("CCA999"));

        r.client.disconnectFromServer();
        QCOMPARE(r.client.connectionState(), ConnectionState::Disconnected);
        QVERIFY(r.server.waitForLines(4) && r.server.control().waitForClientGone());
        QCOMPARE(
            r.server.lines().last(),
            QByteArray(R"({"callsign":"","cid":1234567,"data":"","transmitter":0,"type":"disconnect"})"));
        QVERIFY(!r.client.transmitVoiceFrame({1}));
        QCOMPARE(r.lost.count(), 0); // the pilot's own leaving is no loss
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
        QTest::newRow("no Welcome") << QByteArray("SERVER:CES123:welcome") << QByteArray() << false;
        QTest::newRow("empty identity") << QByteArray("SERVER::Welcome") << QByteArray() << true;
        QTest::newRow("255 bytes") << "SERVER:" + QByteArray(255, 'A') + ":Welcome" << QByteArray() << true;
    }
    void theWelcomeConfirmsAUsableIdentity() {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, callsign);
        QFETCH(bool, error);
        Rig r;
        QVERIFY(r.signOn());
        if (error) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("VoiceClient: .*unusable callsign"));
        }
        r.server.sendMessage("message", data);
        r.server.sendMessage("error", "marker"); // everything before it has been handled
        QTRY_COMPARE(r.errors.count(), int(error) + 1);
        // Ready follows once the audio streams run.
        QTRY_COMPARE(r.client.connectionState(),
                     callsign.isEmpty() ? ConnectionState::Connected : ConnectionState::Ready);
        QCOMPARE(r.client.callsign(), callsign);
    }

    void nothingIsSentWithoutACid() {
        Rig r;
        QVERIFY(r.becomeReady(0));
        QVERIFY(!r.client.isReady());
        r.client.updateRadioStack(kCom1);
        r.client.sendTextMessage(QStringLiteral("a"), QStringLiteral("b"));
        QVERIFY(!r.client.transmitVoiceFrame({1}));
        r.client.disconnectFromServer();
        QVERIFY(r.server.waitForLines(1));
        QCOMPARE(r.server.lines().size(), 1); // only the goodbye
    }

    void serverMessagesAreReportedAndADisconnectEndsTheSession() {
        Rig r;
        QVERIFY(r.becomeReady());
        r.client.updateRadioStack(kCom1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unknown type \"handover\""));
        r.server.sendMessage("handover", "x");
        r.server.sendMessage("error", "频率已被占用");
        QTRY_COMPARE(r.errors.count(), 1);
        QCOMPARE(r.errors.at(0).at(0).toString(), QStringLiteral("频率已被占用"));
        QCOMPARE(r.client.connectionState(), ConnectionState::Ready);

        r.server.sendMessage("disconnect", "kicked by supervisor");
        QTRY_COMPARE(r.client.connectionState(), ConnectionState::Disconnected);
        QCOMPARE(r.errors.last().at(0).toString(), QStringLiteral("kicked by supervisor"));
        QCOMPARE(r.lost.count(), 1);
        QCOMPARE(r.lost.at(0).at(0).toString(), QStringLiteral("kicked by supervisor"));
        QVERIFY(r.client.radios().isEmpty());
        QVERIFY(r.server.control().waitForClientGone()); // the transport closed its side

        // Ended without a word: the error just before is the reason, one long before is not.
        std::chrono::nanoseconds now{0};
        r.client.setClock([&] { return now; });
        for (const int late : {0, 1900, 2100, 40000}) {
            QVERIFY(r.becomeReady());
            QTest::ignoreMessage(QtWarningMsg, "VoiceClient: server error: Authentication failed");
            const qsizetype lost = r.lost.count();
            r.server.sendMessage("error", "Authentication failed");
            QTRY_COMPARE(r.errors.last().at(0).toString(), QStringLiteral("Authentication failed"));
            now += std::chrono::milliseconds(late);
            r.server.sendMessage("disconnect", "");
            QTRY_COMPARE(r.lost.count(), lost + 1);
            QCOMPARE(r.errors.last().at(0).toString(), QStringLiteral("Voice server ended the session"));
            QCOMPARE(r.lost.last().at(0).toString(), late <= 2000
                                                         ? QStringLiteral("Authentication failed")
                                                         : QStringLiteral("Voice server ended the session"));
        }
    }

    // A server that sends nothing but errors cannot fill the run log: each
    // one still reaches the pilot; the log takes the first few, cut short.
    void aFloodOfServerErrorsIsLoggedSparingly() {
        Rig r;
        QVERIFY(r.becomeReady());
        const test::MessageLog log;
        constexpr int kErrors = 300;
        for (int i = 0; i < kErrors; ++i) {
            r.server.sendMessage("error", "busy " + QByteArray(1000, 'x'));
        }
        QTRY_COMPARE_WITH_TIMEOUT(r.errors.count(), kErrors, 30000);
        QVERIFY(log.count(QStringLiteral("VoiceClient: server error: busy")) <= 20);
        QVERIFY(!log.contains(QString(500, u'x')));
        QCOMPARE(r.client.connectionState(), ConnectionState::Ready);
    }

    void aVanishedServerEndsTheSessionExactlyOnce_data() {
        QTest::addColumn<int>("how");                // close, reset, vanish, stop answering
        QTest::addColumn<QList<QByteArray>>("said"); // control messages sent first, type and data
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("lost"); // empty: the reason
        QTest::addColumn<int>("late");     // ms between the last line and the end
        const QString closed = QStringLiteral("Voice server closed the connection");
        const QString reset =
            QStringLiteral("Voice server connection lost: Connection reset by peer (errno=104)");
        const QList<QByteArray> refused{"error", "Authentication failed"};
        const QList<QByteArray> busy{"error", "Frequency 118.500 is busy, please retune"};
        QTest::newRow("close") << 0 << QList<QByteArray>() << closed << QString() << 0;
        QTest::newRow("reset") << 1 << QList<QByteArray>() << reset << QString() << 0;
        QTest::newRow("vanish") << 2 << QList<QByteArray>() << reset << QString() << 0;
        QTest::newRow("close after a refusal") << 0 << refused << closed << "Authentication failed" << 0;
        QTest::newRow("reset after a refusal") << 1 << refused << reset << "Authentication failed" << 0;
        QTest::newRow("close 1.9 s after an error") << 0 << busy << closed << QString(busy[1]) << 1900;
        QTest::newRow("an error and a line since")
            << 0 << refused + QList<QByteArray>{"pong", ""} << closed << QString() << 0;
        QTest::newRow("close 5 s after an error") << 0 << busy << closed << QString() << 5000;
        QTest::newRow("reset 5 s after an error") << 1 << busy << reset << QString() << 5000;
        QTest::newRow("close 40 s after an error") << 0 << busy << closed << QString() << 40000;
        // The client gives up: an error the server sent and stayed after is no reason.
        QTest::newRow("silent after an error")
            << 3 << busy << QStringLiteral("Voice server did not answer for 0.2 s") << QString() << 0;
    }
    void aVanishedServerEndsTheSessionExactlyOnce() {
        QFETCH(int, how);
        QFETCH(QList<QByteArray>, said);
        QFETCH(QString, reason);
        QFETCH(QString, lost);
        QFETCH(int, late);
        Rig r;
        std::chrono::nanoseconds now{0};
        r.client.setClock([&] { return now; });
        if (how == 3) {
            r.client.transport()->setPingInterval(std::chrono::milliseconds(50));
        }
        QVERIFY(r.becomeReady());
        r.server.answerPings(how != 3);
        QTest::ignoreMessage(QtWarningMsg, qPrintable("NetworkHandler: " + reason));
        for (qsizetype i = 0; i + 1 < said.size(); i += 2) {
            if (said.at(i) == "error") {
                QTest::ignoreMessage(QtWarningMsg,
                                     qPrintable("VoiceClient: server error: " + said.at(i + 1)));
            }
            r.server.sendMessage(said.at(i), said.at(i + 1));
        }
        if (late > 0) {
            QTRY_COMPARE(r.errors.count(), 1);
            now += std::chrono::milliseconds(late);
        }
        if (how < 3) {
            how == 0 ? r.server.control().closeClient() : r.server.control().resetClient();
        }
        if (how == 2) {
            r.server.stopUdp();
            r.server.control().stopListening();
        }
        QTRY_COMPARE(r.client.connectionState(), ConnectionState::Disconnected);
        QCOMPARE(r.errors.count(), 1 + int(said.contains("error"))); // the reason, before the state
        QCOMPARE(r.errors.last().at(0).toString(), reason);
        QCOMPARE(r.lost.count(), 1);
        QCOMPARE(r.lost.at(0).at(0).toString(), lost.isEmpty() ? reason : lost);
        r.client.transport()->sendControlMessage(
            {voice::ControlMessageType::Ping, 1, "", 0, ""}); // no SIGPIPE
        r.client.transport()->sendDatagram({1, 2});
        r.client.disconnectFromServer();
        QCOMPARE(r.states.count(), 4);
    }

    void aFailedConnectEndsDisconnectedWithTheReason_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        const QString connect =
            QStringLiteral("Failed to connect to server at 127.0.0.1 \\(ip=127.0.0.1:\\d+\\): ");
        QTest::newRow("refused") << 0 << connect + "Connection refused \\(errno=111\\)";
        QTest::newRow("timed out") << 1 << connect + "Connection timed out \\(errno=110\\)";
        QTest::newRow("no such host") << 2 << "Failed to resolve server address $";
    }
    void aFailedConnectEndsDisconnectedWithTheReason() {
        QFETCH(int, kind);
        QFETCH(QString, error);
        Rig r;
        auto target = r.server.server();
        if (kind == 0) {
            r.server.control().stopListening();
        } else if (kind == 1) {
            target = deployment::parseVoiceServer(r.server.holdUnaccepted());
            r.client.transport()->setConnectTimeout(std::chrono::milliseconds(200));
        } else {
            target.host.clear();
        }
        r.client.transport()->setServer(target);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("NetworkHandler: " + error));
        r.client.connectToServer(QStringLiteral("t"));
        QTRY_COMPARE(r.client.connectionState(), ConnectionState::Disconnected);
        QCOMPARE(r.errors.count(), 1);
        QVERIFY(QRegularExpression(error).match(r.errors.at(0).at(0).toString()).hasMatch());
        QCOMPARE(r.seen(), (States{ConnectionState::Connecting, ConnectionState::Disconnected}));
        QCOMPARE(r.lost.count(), 0); // never up, so not lost
    }

    void aServerThatNeverWelcomesIsLeft_data() {
        QTest::addColumn<QByteArray>("refusal"); // the server's error instead of a welcome
        QTest::newRow("silent") << QByteArray();
        QTest::newRow("refused") << QByteArray("Authentication failed");
    }
    void aServerThatNeverWelcomesIsLeft() {
        QFETCH(QByteArray, refusal);
        Rig r;
        r.client.setWelcomeTimeout(std::chrono::milliseconds(200));
        const QString error = QStringLiteral("Voice server sent no welcome within 0.2 s");
        QTest::ignoreMessage(QtWarningMsg, qPrintable("VoiceClient: " + error));
        QVERIFY(r.signOn());
        if (!refusal.isEmpty()) {
            QTest::ignoreMessage(QtWarningMsg, "VoiceClient: server error: " + refusal);
            r.server.sendMessage("error", refusal);
        }
        QTRY_COMPARE(r.client.connectionState(), ConnectionState::Disconnected);
        QCOMPARE(r.errors.count(), 1 + int(!refusal.isEmpty()));
        QCOMPARE(r.errors.last().at(0).toString(), error);
        QCOMPARE(r.lost.count(), 1);
        QCOMPARE(r.lost.at(0).at(0).toString(), error); // the client ended it, not the server
        QVERIFY(r.server.control().waitForClientGone());
    }

    void connectsAndDisconnectsDoNotOvertakeEachOther() {
        Rig r;
        r.client.transport()->setServer(deployment::parseVoiceServer(r.server.holdUnaccepted()));
        r.client.connectToServer(QStringLiteral("t"));
        QTRY_VERIFY(r.client.transport()->connectPending());
        r.client.disconnectFromServer(); // returns while the connect still waits
        QTRY_COMPARE(r.client.transport()->connectsInFlight(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(r.seen(), (States{ConnectionState::Connecting, ConnectionState::Disconnected}));
        QCOMPARE(r.errors.count(), 0);

        r.client.transport()->setServer(r.server.server());
        for (int i = 0; i < 5; ++i) {
            r.client.connectToServer(QStringLiteral("t%1").arg(i));
        }
        QTRY_COMPARE(r.server.authLine(), QByteArray("t4"));
        QTRY_COMPARE(r.client.transport()->connectsInFlight(), 0);
        QCOMPARE(r.client.connectionState(), ConnectionState::Connected);
        QCOMPARE(r.states.count(), 4);
    }
};

QTEST_GUILESS_MAIN(TestVoiceSession)
#include "tst_voicesession.moc"
