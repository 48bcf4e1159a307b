#include "fsd/FsdClient.h"
#include "support/FsdTestServer.h"
#include "support/PrivateNetwork.h"

#include <QMetaMethod>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>

using namespace velk;
using velk::test::FsdTestServer;

namespace {

// Records the names of every signal of an FsdClient in the order they come.
class SignalLog : public QObject {
    Q_OBJECT

public:
    explicit SignalLog(fsd::FsdClient* client) {
        const QMetaObject* meta = client->metaObject();
        const QMetaMethod slot = staticMetaObject.method(staticMetaObject.indexOfSlot("record()"));
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal) {
                connect(client, meta->method(i), this, slot);
            }
        }
    }

    QStringList names;

    int count(const QString& name) const { return static_cast<int>(names.count(name)); }

public slots:
    void record() {
        names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name());
    }
};

const QString kReport = QStringLiteral("@N:ABC123:2000:1:31.143420:121.805200:3000:280:1026:-40");

void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
}

} // namespace

class TestFsdClient : public QObject {
    Q_OBJECT

private:
    static bool open(FsdTestServer& server, fsd::FsdClient& client) {
        if (!server.listen() || !client.connectToServer(server.host(), server.port()) ||
            !server.waitForClient()) {
            return false;
        }
        return QTest::qWaitFor([&] { return client.isConnected(); }, 5000);
    }

    static quint16 closedPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }

private slots:
    // --- connection life ---

    void connectedFlagIsSetBeforeTheConnectedSignal() {
        FsdTestServer server;
        QVERIFY(server.listen());
        fsd::FsdClient client;
        bool flagInHandler = false;
        connect(&client, &fsd::FsdClient::raiseNetworkConnected, this,
                [&] { flagInHandler = client.isConnected(); });
        QSignalSpy connected(&client, &fsd::FsdClient::raiseNetworkConnected);
        QVERIFY(!client.isConnected());
        QVERIFY(client.connectToServer(server.host(), server.port()));
        QTRY_COMPARE(connected.count(), 1);
        QVERIFY(flagInHandler);
        QVERIFY(client.isConnected());
    }

    void refusedConnectionRaisesOnlyTheSocketError() {
        fsd::FsdClient client;
        SignalLog log(&client);
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), closedPort()));
        QTRY_COMPARE(errors.count(), 1);
        settle();
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkError")});
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Connection refused: ConnectionRefusedError"));
        QVERIFY(!client.isConnected());
    }

    void remoteCloseRaisesTheErrorThenOneDisconnect() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        SignalLog log(&client);
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QSignalSpy kills(&client, &fsd::FsdClient::raiseKillRequestReceived);
        server.sendLine(QStringLiteral("$!!SERVER:ABC123:Kicked: flying too low"));
        server.closeClient();
        QTRY_COMPARE(log.count(QStringLiteral("raiseNetworkDisconnected")), 1);
        settle();
        QCOMPARE(
            log.names,
            (QStringList{QStringLiteral("raiseRawDataReceived"), QStringLiteral("raiseKillRequestReceived"),
                         QStringLiteral("raiseNetworkError"), QStringLiteral("raiseNetworkDisconnected")}));
        QCOMPARE(kills.at(0).at(0).value<fsd::pdu::KillRequest>().reason,
                 QStringLiteral("Kicked: flying too low"));
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("The remote host closed the connection: RemoteHostClosedError"));
        QVERIFY(!client.isConnected());
    }

    void resetRaisesTheErrorThenOneDisconnect() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        SignalLog log(&client);
        server.resetClient();
        QTRY_COMPARE(log.count(QStringLiteral("raiseNetworkDisconnected")), 1);
        settle();
        QCOMPARE(log.names, (QStringList{QStringLiteral("raiseNetworkError"),
                                         QStringLiteral("raiseNetworkDisconnected")}));
        QVERIFY(!client.isConnected());
        client.sendData(QStringLiteral("#DPABC123:1234567\r\n"));
        QCOMPARE(log.count(QStringLiteral("raiseRawDataSent")), 0);
    }

    // A dead path ends the connection in about a minute, here in checks run
    // by hand; a quiet server is not timed at all. The route to the server is
    // gone on the client's side only: what the client sends stays unsent,
    // while what the server sends still arrives and must not count.
    void sentBytesMayStayUnacknowledgedForAMinute() {
        velk::test::PrivateNetwork path;
        if (!path.error().isEmpty()) {
            QSKIP(qPrintable("no network namespace: " + path.error()));
        }
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy received(&client, &fsd::FsdClient::raiseRawDataReceived);
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        constexpr int checks = fsd::FsdClient::kAcknowledgementChecks;
        for (int i = 0; i < 3 * checks; ++i) {
            client.checkAcknowledgement();
        }
        QVERIFY(client.isConnected());

        QVERIFY(path.setUnreachable(server.port(), true));
        QVERIFY(client.sendData(kReport));
        // The first check may come just after the write: a minute is the checks after it.
        for (int i = 0; i < checks; ++i) {
            if (i == checks / 2) {
                server.sendLine(QStringLiteral("$PISERVER:ABC123:42"));
                QVERIFY(received.wait());
            }
            client.checkAcknowledgement();
        }
        QVERIFY(client.isConnected());
        SignalLog log(&client);
        client.checkAcknowledgement();
        QCOMPARE(log.names, (QStringList{QStringLiteral("raiseNetworkError"),
                                         QStringLiteral("raiseNetworkDisconnected")}));
        QCOMPARE(errors.constLast().at(0).toString(),
                 QStringLiteral("Nothing sent was acknowledged for 60 s: the network path is gone."));
        QVERIFY(client.lostUnacknowledged());
        QVERIFY(path.setUnreachable(server.port(), false));
        QVERIFY(server.waitForClientGone());
    }

    // The system may also give up on a dead path by itself, naming its
    // time-out or the last trouble it heard of. A report written before that
    // error is handled meets a closed socket and leaves an error of its own,
    // which must not make the end look like the server's close, nor the
    // report look sent; a reset stays the server's end.
    void theFirstLinkErrorDecidesTheEndNotALaterWrite_data() {
        QTest::addColumn<bool>("deadPath");
        QTest::newRow("dead path") << true;
        QTest::newRow("reset") << false;
    }

    void theFirstLinkErrorDecidesTheEndNotALaterWrite() {
        QFETCH(bool, deadPath);
        velk::test::PrivateNetwork path;
        if (!path.error().isEmpty()) {
            QSKIP(qPrintable("no network namespace: " + path.error()));
        }
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        const unsigned int systemTimeoutMs = 200;
        QCOMPARE(::setsockopt(int(client.findChild<QTcpSocket*>()->socketDescriptor()), IPPROTO_TCP,
                              TCP_USER_TIMEOUT, &systemTimeoutMs, sizeof(systemTimeoutMs)),
                 0);
        QSignalSpy sent(&client, &fsd::FsdClient::raiseRawDataSent);
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QSignalSpy disconnected(&client, &fsd::FsdClient::raiseNetworkDisconnected);
        // Reports written as the error is raised and right after, before its handling ends.
        connect(&client, &fsd::FsdClient::raiseNetworkError, &client, [&] {
            client.sendData(kReport);
            QTimer::singleShot(0, &client, [&] { client.sendData(kReport); });
        });
        if (deadPath) {
            QVERIFY(path.setLoopbackUp(false));
            QVERIFY(client.sendData(kReport));
        } else {
            server.resetClient();
        }
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 10000);
        QCOMPARE(client.lostUnacknowledged(), deadPath);
        QCOMPARE(errors.first().at(0).toString(),
                 deadPath ? QStringLiteral("Connection timed out: SocketTimeoutError")
                          : QStringLiteral("The remote host closed the connection: RemoteHostClosedError"));
        QCOMPARE(sent.count(), deadPath ? 1 : 0);
    }

    void disconnectFromServerDeliversTheLastLineAndDisconnectsOnce() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        SignalLog log(&client);
        bool flagInHandler = true;
        connect(&client, &fsd::FsdClient::raiseNetworkDisconnected, this,
                [&] { flagInHandler = client.isConnected(); });
        client.sendData(QStringLiteral("#DPABC123:1234567\r\n"));
        client.disconnectFromServer();
        QCOMPARE(log.count(QStringLiteral("raiseNetworkDisconnected")), 1); // synchronous
        QVERIFY(!flagInHandler);
        QVERIFY(!client.isConnected());
        QVERIFY(server.waitForClientGone());
        QCOMPARE(server.receivedLines(), QStringList{QStringLiteral("#DPABC123:1234567")});
        settle();
        QCOMPARE(log.names, (QStringList{QStringLiteral("raiseRawDataSent"),
                                         QStringLiteral("raiseNetworkDisconnected")}));
    }

    void lastLineStillArrivesWhenTheClientIsDestroyedRightAfterDisconnecting() {
        FsdTestServer server;
        auto client = std::make_unique<fsd::FsdClient>();
        QVERIFY(open(server, *client));
        client->setSendBufferLimit(64 * 1024 * 1024);
        const QString big = QStringLiteral("#TMABC123:DEF456:") + QString(20000, u'x');
        // More than the kernel buffers take at once, so that the close has to wait.
        for (int i = 0; i < 500; ++i) {
            client->sendData(big);
        }
        client->sendData(QStringLiteral("#DPABC123:1234567"));
        client->disconnectFromServer();
        client.reset();
        QVERIFY(server.waitForClientGone(20000));
        QCOMPARE(server.receivedLines().size(), 501);
        QCOMPARE(server.receivedLines().constLast(), QStringLiteral("#DPABC123:1234567"));
    }

    void disconnectWhileConnectingRaisesOneDisconnectAndNothingElse() {
        FsdTestServer server;
        QVERIFY(server.listen());
        fsd::FsdClient client;
        SignalLog log(&client);
        QVERIFY(client.connectToServer(server.host(), server.port()));
        client.disconnectFromServer();
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkDisconnected")});
        settle();
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkDisconnected")});
        QVERIFY(!client.isConnected());
    }

    void disconnectWithoutAConnectionDoesNothing() {
        fsd::FsdClient client;
        SignalLog log(&client);
        client.disconnectFromServer();
        QVERIFY(log.names.isEmpty());
    }

    void connectingAgainEndsTheOpenConnectionFirst() {
        FsdTestServer first;
        FsdTestServer second;
        fsd::FsdClient client;
        QVERIFY(open(first, client));
        QVERIFY(second.listen());
        SignalLog log(&client);
        QVERIFY(client.connectToServer(second.host(), second.port()));
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkDisconnected")});
        QVERIFY(second.waitForClient());
        QTRY_VERIFY(client.isConnected());
        QVERIFY(first.waitForClientGone());
        settle();
        QCOMPARE(log.names, (QStringList{QStringLiteral("raiseNetworkDisconnected"),
                                         QStringLiteral("raiseNetworkConnected")}));
    }

    // --- sending ---

    void sendingWhileDisconnectedSendsAndSignalsNothing() {
        FsdTestServer server;
        QVERIFY(server.listen());
        fsd::FsdClient client;
        SignalLog log(&client);
        client.sendData(QStringLiteral("#DPABC123:1234567\r\n"));
        QVERIFY(log.names.isEmpty());

        QVERIFY(client.connectToServer(server.host(), server.port()));
        QVERIFY(server.waitForClient());
        QTRY_VERIFY(client.isConnected());
        client.disconnectFromServer();
        client.sendData(QStringLiteral("#TMABC123:DEF456:late\r\n"));
        QVERIFY(server.waitForClientGone());
        QCOMPARE(log.count(QStringLiteral("raiseRawDataSent")), 0);
        QVERIFY(server.receivedData().isEmpty());
    }

    void sentLineArrivesAsUtf8AndIsReportedAsWritten() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy sent(&client, &fsd::FsdClient::raiseRawDataSent);
        const QString line = QStringLiteral("#TMABC123:DEF456:你好, 上海: ready\r\n");
        client.sendData(line);
        client.sendData(QStringLiteral("$POABC123:SERVER:42")); // line end added
        QVERIFY(server.waitForLines(2));
        QCOMPARE(server.receivedData(), line.toUtf8() + QByteArray("$POABC123:SERVER:42\r\n"));
        QCOMPARE(sent.count(), 2);
        QCOMPARE(sent.at(0).at(0).toString(), line);
        QCOMPARE(sent.at(1).at(0).toString(), QStringLiteral("$POABC123:SERVER:42\r\n"));
    }

    void aSentLineCannotCarryASecondPacket() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        client.sendData(QStringLiteral("#TMABC123:DEF456:hi\r\n#DPABC123:1\n$!!X:Y"));
        client.sendData(QStringLiteral("$CQABC123:SERVER:IP"));
        QVERIFY(server.waitForLines(2));
        QCOMPARE(server.receivedLines(),
                 (QStringList{QStringLiteral("#TMABC123:DEF456:hi  #DPABC123:1 $!!X:Y"),
                              QStringLiteral("$CQABC123:SERVER:IP")}));
    }

    void emptyLinesAreNotSent() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy sent(&client, &fsd::FsdClient::raiseRawDataSent);
        client.sendData(QString());
        client.sendData(QStringLiteral("\r\n"));
        client.sendData(QStringLiteral("$CQABC123:SERVER:IP\r\n"));
        QVERIFY(server.waitForLines(1));
        QCOMPARE(sent.count(), 1);
        QCOMPARE(server.receivedLines(), QStringList{QStringLiteral("$CQABC123:SERVER:IP")});
    }

    // --- receiving ---

    void linesSplitAcrossChunksAreDispatchedWhole() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy raw(&client, &fsd::FsdClient::raiseRawDataReceived);
        QSignalSpy texts(&client, &fsd::FsdClient::raiseTextMessageReceived);
        const QByteArray line = QStringLiteral("#TMDEF456:ABC123:你好:世界\r\n").toUtf8();
        // Cut inside the first Chinese character and between "\r" and "\n".
        const qsizetype cut = line.indexOf("\xe4") + 1;
        server.sendRaw(line.left(cut));
        settle();
        QCOMPARE(raw.count(), 0);
        server.sendRaw(line.mid(cut, line.size() - cut - 1));
        settle();
        server.sendRaw("\n");
        QTRY_COMPARE(texts.count(), 1);
        const auto pdu = texts.at(0).at(0).value<fsd::pdu::TextMessage>();
        QCOMPARE(pdu.message, QStringLiteral("你好:世界"));
        QCOMPARE(raw.at(0).at(0).toString(), QStringLiteral("#TMDEF456:ABC123:你好:世界\r\n"));
    }

    void manyLinesInOneChunkAreDispatchedInOrderEachAfterItsRawLine() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        SignalLog log(&client);
        QSignalSpy raw(&client, &fsd::FsdClient::raiseRawDataReceived);
        server.sendRaw("@N:DEF456:2000:1:31.143420:121.805200:1200:180:1026:-20\r\n"
                       "\r\n"
                       "^DEF456:31.1:121.8:1200.00:10.00:1026:1.0:0.0:2.0:0.0:0.0:0.0:0.00\n"
                       "\n"
                       "$PISERVER:DEF456:12345\r\n"
                       "#TMSERVER:DEF456:welcome\r\n");
        QTRY_COMPARE(raw.count(), 4);
        QCOMPARE(log.names,
                 (QStringList{
                     QStringLiteral("raiseRawDataReceived"), QStringLiteral("raisePilotPositionReceived"),
                     QStringLiteral("raiseRawDataReceived"), QStringLiteral("raiseFastPilotPositionReceived"),
                     QStringLiteral("raiseRawDataReceived"), QStringLiteral("raisePingReceived"),
                     QStringLiteral("raiseRawDataReceived"), QStringLiteral("raiseTextMessageReceived")}));
        QCOMPARE(raw.at(2).at(0).toString(), QStringLiteral("$PISERVER:DEF456:12345\r\n"));
    }

    void everyPacketTypeReachesItsSignal_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("signal");
        const auto row = [](const char* name, const QString& line, const char* signal) {
            QTest::newRow(name) << line << QString::fromLatin1(signal);
        };
        row("$DI", QStringLiteral("$DISERVER:CLIENT:VATSIM FSD V3.13:0123abcd"),
            "raiseServerIdentificationReceived");
        row("$ID", QStringLiteral("$IDDEF456:SERVER:bdc0:VelkClient:3:0:1234567:uid"),
            "raiseClientIdentificationReceived");
        row("#AP", QStringLiteral("#APABC123:SERVER:1234567::1:100:2:Test Pilot ZSSS"),
            "raiseAddPilotReceived");
        row("#AA", QStringLiteral("#AAZSSS_TWR:SERVER:Li Lei:1234567::5:100"), "raiseAddATCReceived");
        row("#DP", QStringLiteral("#DPDEF456:7654321"), "raiseDeletePilotReceived");
        row("#DA", QStringLiteral("#DAZSSS_TWR"), "raiseDeleteATCReceived");
        row("@", QStringLiteral("@S:DEF456:7000:1:31.143420:121.805200:1200:0:1026:0"),
            "raisePilotPositionReceived");
        row("^", QStringLiteral("^DEF456:31.1:121.8:1200:10:1026:1:0:2:0:0:0:0"),
            "raiseFastPilotPositionReceived");
        row("#SL", QStringLiteral("#SLDEF456:31.1:121.8:1200:10:1026:1:0:2:0:0:0:0"),
            "raiseFastPilotPositionReceived");
        row("#ST", QStringLiteral("#STDEF456:31.1:121.8:1200:10:1026:0"), "raiseFastPilotPositionReceived");
        row("%", QStringLiteral("%ZSSS_TWR:18700:4:50:5:31.19790:121.33630:0"), "raiseATCPositionReceived");
        row("$SF", QStringLiteral("$SFSERVER:ABC123:1"), "raiseSendFastReceived");
        row("#TM private", QStringLiteral("#TMDEF456:ABC123:hi"), "raiseTextMessageReceived");
        row("#TM radio", QStringLiteral("#TMZSSS_TWR:@18700:hi"), "raiseRadioMessageReceived");
        row("#TM *", QStringLiteral("#TMSUP:*:hi"), "raiseBroadcastMessageReceived");
        row("#TM *A", QStringLiteral("#TMSUP:*A:hi"), "raiseBroadcastMessageReceived");
        row("#TM *P", QStringLiteral("#TMSUP:*P:hi"), "raiseBroadcastMessageReceived");
        row("#TM *S", QStringLiteral("#TMDEF456:*S:help"), "raiseWallopReceived");
        row("#SB PIR", QStringLiteral("#SBDEF456:ABC123:PIR"), "raisePlaneInfoRequestReceived");
        row("#SB PI", QStringLiteral("#SBDEF456:ABC123:PI:GEN:EQUIPMENT=B738"),
            "raisePlaneInfoResponseReceived");
        row("$FP",
            QStringLiteral("$FPDEF456:*A:I:H/B744/L:480:ZSSS:1200:1200:FL350:ZBAA:2:10:4:00:ZSPD::DCT"),
            "raiseFlightPlanReceived");
        row("$CQ", QStringLiteral("$CQDEF456:ABC123:CAPS"), "raiseClientQueryReceived");
        row("$CQ unknown type", QStringLiteral("$CQDEF456:ABC123:XYZ:1"), "raiseClientQueryReceived");
        row("$CR", QStringLiteral("$CRSERVER:ABC123:IP:10.0.0.1"), "raiseClientQueryResponseReceived");
        row("$PI", QStringLiteral("$PISERVER:ABC123:12345"), "raisePingReceived");
        row("$PO", QStringLiteral("$POSERVER:ABC123:12345"), "raisePongReceived");
        row("$AR", QStringLiteral("$ARSERVER:ABC123:METAR:ZSSS 010000Z 36005MPS CAVOK 20/10 Q1015"),
            "raiseMetarResponseReceived");
        row("$!!", QStringLiteral("$!!SERVER:ABC123"), "raiseKillRequestReceived");
        row("$ER", QStringLiteral("$ERserver:ABC123:008:DEF456:No flightplan"), "raiseProtocolErrorReceived");
        row("#MU", QStringLiteral("#MUSERVER:ABC123:1"), "raiseMuteReceived");
    }

    void everyPacketTypeReachesItsSignal() {
        QFETCH(QString, line);
        QFETCH(QString, signal);
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        SignalLog log(&client);
        server.sendLine(line);
        QTRY_COMPARE(log.names.size(), 2);
        QCOMPARE(log.names, (QStringList{QStringLiteral("raiseRawDataReceived"), signal}));
    }

    void malformedAndUnknownLinesRaiseTheErrorButNeverEndTheConnection() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QSignalSpy texts(&client, &fsd::FsdClient::raiseTextMessageReceived);
        const QStringList bad = {
            QStringLiteral("@N:ABC123"),
            QStringLiteral("#DLSERVER:ABC123:5:0"),
            QStringLiteral("%ZSSS_TWR:abc:4:50:5:31.1:121.3:0"),
            QStringLiteral("^DEF456:31.1:121.8:1200:10:99999999999:1:0:2:0:0:0:0"),
            QStringLiteral("#SBDEF456:ABC123:FSIPIR:0"),
            QStringLiteral("$XX"),
            QStringLiteral("#"),
            QStringLiteral("garbage without a prefix"),
        };
        for (const QString& line : bad) {
            server.sendLine(line);
        }
        server.sendRaw(QByteArray("\x00\xff\xfe#TM\x00:\x01\r\n", 11));
        server.sendLine(QStringLiteral("#TMSERVER:ABC123:still here"));
        QTRY_COMPARE(texts.count(), 1);
        QCOMPARE(errors.count(), bad.size() + 1);
        QVERIFY(client.isConnected());
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Invalid field count: 2 of at least 10. (Raw packet: @N:ABC123)"));
        QCOMPARE(errors.at(1).at(0).toString(), QStringLiteral("Invalid PDU type."));
        QCOMPARE(errors.at(4).at(0).toString(), QStringLiteral("Invalid PDU type."));
    }

    void passwordOfAMalformedLoginEchoStaysOutOfTheError() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        server.sendLine(QStringLiteral("#APABC123:SERVER:1234567:s3cret:x:9:2:Name"));
        QTRY_COMPARE(errors.count(), 1);
        const QString text = errors.at(0).at(0).toString();
        QVERIFY2(!text.contains(QStringLiteral("s3cret")), qPrintable(text));
        QVERIFY(text.endsWith(QStringLiteral("(Raw packet: #APABC123:SERVER:1234567:******:x:9:2:Name)")));
    }

    void aLineThatNeverEndsIsDroppedWithAnErrorAndReadingGoesOn() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QSignalSpy raw(&client, &fsd::FsdClient::raiseRawDataReceived);
        QSignalSpy texts(&client, &fsd::FsdClient::raiseTextMessageReceived);
        const QByteArray chunk(16 * 1024, 'A');
        for (int i = 0; i < 8; ++i) { // 128 KiB without a line end
            server.sendRaw(chunk);
        }
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Received line longer than 65536 bytes dropped."));
        server.sendRaw(chunk + "\r\n#TMSERVER:ABC123:after\r\n");
        QTRY_COMPARE(texts.count(), 1);
        QCOMPARE(raw.count(), 1); // the tail of the dropped line is not a line of its own
        QCOMPARE(errors.count(), 1);
        QVERIFY(client.isConnected());
    }

    void linesAfterAHandlerEndsTheConnectionAreNotDispatched() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        SignalLog log(&client);
        connect(&client, &fsd::FsdClient::raiseKillRequestReceived, this,
                [&] { client.disconnectFromServer(); });
        server.sendRaw("#TMSERVER:ABC123:one\r\n$!!SERVER:ABC123:bye\r\n#TMSERVER:ABC123:two\r\n@S:DEF:1:1:1:"
                       "1:1:1:1:1\r\n");
        QTRY_COMPARE(log.count(QStringLiteral("raiseNetworkDisconnected")), 1);
        settle();
        QCOMPARE(
            log.names,
            (QStringList{QStringLiteral("raiseRawDataReceived"), QStringLiteral("raiseTextMessageReceived"),
                         QStringLiteral("raiseRawDataReceived"), QStringLiteral("raiseKillRequestReceived"),
                         QStringLiteral("raiseNetworkDisconnected")}));
    }

    void packetsTravelThroughQueuedConnections() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        QThread thread;
        QObject receiver;
        receiver.moveToThread(&thread);
        thread.start();
        fsd::pdu::ClientQuery got;
        std::atomic<bool> arrived = false;
        connect(
            &client, &fsd::FsdClient::raiseClientQueryReceived, &receiver,
            [&](const fsd::pdu::ClientQuery& pdu) {
                got = pdu;
                arrived = true;
            },
            Qt::QueuedConnection);
        server.sendLine(QStringLiteral(R"($CQDEF456:@94386:ACC:{"config":{"lights":{"landing_on":true}}})"));
        QTRY_VERIFY(arrived.load());
        thread.quit();
        thread.wait();
        QCOMPARE(got.queryType, fsd::ClientQueryType::AircraftConfiguration);
        QCOMPARE(got.payload.join(u':'), QStringLiteral(R"({"config":{"lights":{"landing_on":true}}})"));
    }

    // --- host names ---

    // Nothing is processed while flooding: the server reads nothing, so the
    // kernel buffers fill first and then the client's own queue.
    void aServerThatStopsReadingLosesPingAnswersFirstThenTheConnection() {
        FsdTestServer server;
        fsd::FsdClient client;
        QVERIFY(open(server, client));
        constexpr qint64 limit = 256 * 1024;
        client.setSendBufferLimit(limit);
        QSignalSpy sent(&client, &fsd::FsdClient::raiseRawDataSent);
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QSignalSpy disconnected(&client, &fsd::FsdClient::raiseNetworkDisconnected);

        const QString pong = QStringLiteral("$POABC123:SERVER:") + QString(1000, u'7');
        constexpr int pongs = 40000; // 40 MB, far more than the kernel buffers hold
        for (int i = 0; i < pongs; ++i) {
            client.sendData(pong);
        }
        QVERIFY(sent.count() < pongs);
        QVERIFY(client.isConnected());
        QCOMPARE(errors.count(), 0);

        // Positions still go until the queue is full; then the connection ends.
        const QString position = QStringLiteral("@N:ABC123:2000:1:31.143420:121.805200:3000:280:1026:-40");
        int positions = 0;
        while (client.isConnected() && positions < 2 * limit / position.size()) {
            client.sendData(position);
            ++positions;
        }
        QVERIFY(positions > 1);
        QVERIFY(!client.isConnected());
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.first().first().toString().startsWith(QStringLiteral("The server is not reading")));
        QCOMPARE(disconnected.count(), 1);
    }

    void localhostResolvesToLoopbackAndConnects() {
        FsdTestServer server;
        QVERIFY(server.listen());
        fsd::FsdClient client;
        QSignalSpy connected(&client, &fsd::FsdClient::raiseNetworkConnected);
        QVERIFY(client.connectToServer(QStringLiteral("localhost"), server.port()));
        QTRY_COMPARE(connected.count(), 1);
        QVERIFY(server.waitForClient());
    }

    void aNameWithoutIPv4AddressFailsWithTheDnsError() {
        fsd::FsdClient client;
        client.setHostResolver(
            [](const QString&) { return QList<QHostAddress>{QHostAddress(QStringLiteral("::1"))}; });
        SignalLog log(&client);
        QSignalSpy errors(&client, &fsd::FsdClient::raiseNetworkError);
        QVERIFY(!client.connectToServer(QStringLiteral("fsd.example"), 6809));
        QCOMPARE(errors.count(), 1); // before returning
        QCOMPARE(
            errors.at(0).at(0).toString(),
            QStringLiteral("Network server address returned null, possibly due to a failed DNS lookup."));
        client.setHostResolver([](const QString&) { return QList<QHostAddress>{}; });
        QVERIFY(!client.connectToServer(QStringLiteral("fsd.example"), 6809));
        QVERIFY(!client.connectToServer(QStringLiteral("  "), 6809));
        settle();
        QCOMPARE(log.names, QStringList(3, QStringLiteral("raiseNetworkError")));
    }

    void aSlowLookupConnectsWhenItsAnswerComes() {
        FsdTestServer server;
        QVERIFY(server.listen());
        fsd::FsdClient client;
        auto gate = std::make_shared<QSemaphore>();
        QString asked;
        client.setHostResolver([gate, &asked](const QString& host) {
            gate->acquire();
            asked = host;
            return QList<QHostAddress>{QHostAddress(QStringLiteral("::1")),
                                       QHostAddress(QHostAddress::LocalHost)};
        });
        SignalLog log(&client);
        QVERIFY(client.connectToServer(QStringLiteral("fsd.example"), server.port()));
        QVERIFY(log.names.isEmpty());
        gate->release();
        QTRY_VERIFY(client.isConnected());
        QVERIFY(server.waitForClient());
        QCOMPARE(asked, QStringLiteral("fsd.example"));
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkConnected")});
    }

    void aSlowLookupThatFindsNothingRaisesTheDnsErrorLater() {
        fsd::FsdClient client;
        auto gate = std::make_shared<QSemaphore>();
        client.setHostResolver([gate](const QString&) {
            gate->acquire();
            return QList<QHostAddress>{};
        });
        SignalLog log(&client);
        QVERIFY(client.connectToServer(QStringLiteral("fsd.example"), 6809));
        gate->release();
        QTRY_COMPARE(log.names.size(), 1);
        settle();
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkError")});
    }

    void disconnectingDuringASlowLookupCancelsTheConnection() {
        FsdTestServer server;
        QVERIFY(server.listen());
        auto gate = std::make_shared<QSemaphore>();
        auto finished = std::make_shared<std::atomic<bool>>(false);
        fsd::FsdClient client;
        client.setHostResolver([gate, finished](const QString&) {
            gate->acquire();
            *finished = true;
            return QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)};
        });
        SignalLog log(&client);
        QVERIFY(client.connectToServer(QStringLiteral("fsd.example"), server.port()));
        client.disconnectFromServer();
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkDisconnected")});
        gate->release();
        QTRY_VERIFY(finished->load());
        settle();
        QCOMPARE(log.names, QStringList{QStringLiteral("raiseNetworkDisconnected")});
        QVERIFY(!server.hasClient());
    }
};

QTEST_MAIN(TestFsdClient)
#include "tst_fsd_client.moc"
