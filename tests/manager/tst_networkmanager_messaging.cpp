// Text messages: what the session signals for each kind received, and the
// exact lines of the three kinds the pilot sends.
#include "tst_networkmanager_fixture.h"

using velk::manager::NetworkManager;
using velk::model::RadioStackState;
using velk::network::RadioMessageReceived;
using velk::test::SessionHarness;

class TestNetworkManagerMessaging : public QObject {
    Q_OBJECT

private:
    SessionHarness h;

    void tune(quint32 com1, quint32 com2, bool com1Transmits = false, bool com2Receives = true) {
        RadioStackState radio;
        radio.com1Frequency = com1;
        radio.com2Frequency = com2;
        radio.com1ReceiveEnabled = true;
        radio.com2ReceiveEnabled = com2Receives;
        radio.com1TransmitEnabled = com1Transmits;
        h.sim->setRadioStackState(radio);
    }

private slots:
    void initTestCase() {
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }
    void init() {
        h.create();
        QVERIFY(h.loginPilot());
        h.sim->clearCalls();
    }
    void cleanup() { h.destroy(); }

    void serverAndPrivateTextsAreToldApart() {
        QSignalSpy server(h.nm.get(), &NetworkManager::serverMessageReceived);
        QSignalSpy personal(h.nm.get(), &NetworkManager::privateMessageReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMserver:ABC123:Welcome: enjoy")));
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:ABC123:hi there")));
        QCOMPARE(server.first().at(0).toString(), QStringLiteral("Welcome: enjoy"));
        QCOMPARE(personal.first(), (QVariantList{"dlh1", "hi there"}));
        QCOMPARE(h.sim->callsTo("showNotification").first().args, (QVariantList{"Welcome: enjoy", 0x85a664}));
        QCOMPARE(h.sim->callsTo("notifyPrivateMessageReceived").first().args,
                 (QVariantList{"DLH1", "hi there"}));
    }

    void radioTextIsDeliveredOncePerReceivingRadio_data() {
        QTest::addColumn<quint32>("com1");
        QTest::addColumn<quint32>("com2");
        QTest::addColumn<bool>("com2Receives");
        QTest::addColumn<QString>("recipients");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<uint>>("heard");
        QTest::addColumn<bool>("direct");
        const QString toUs = QStringLiteral("abc123 climb FL240");
        QTest::newRow("com1") << 122800u << 121500u << true << "@22800" << toUs << QList<uint>{122800}
                              << true;
        QTest::newRow("both radios") << 122800u << 122800u << true << "@22800" << toUs
                                     << QList<uint>{122800, 122800} << true;
        QTest::newRow("listed twice")
            << 122800u << 121500u << true << "@22800&@22800" << toUs << QList<uint>{122800} << true;
        QTest::newRow("two frequencies")
            << 122800u << 121500u << true << "@21500&@22800" << toUs << QList<uint>{121500, 122800} << true;
        QTest::newRow("not tuned") << 122800u << 121500u << true << "@23450" << toUs << QList<uint>{} << true;
        QTest::newRow("com2 not receiving, to another pilot")
            << 122800u << 122800u << false << "@22800"
            << "DLH1 contact tower" << QList<uint>{122800} << false;
    }

    void radioTextIsDeliveredOncePerReceivingRadio() {
        QFETCH(quint32, com1);
        QFETCH(quint32, com2);
        QFETCH(bool, com2Receives);
        QFETCH(QString, recipients);
        QFETCH(QString, text);
        QFETCH(QList<uint>, heard);
        QFETCH(bool, direct);
        tune(com1, com2, false, com2Receives);
        QSignalSpy radio(h.nm.get(), &NetworkManager::radioMessageReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:%1:%2").arg(recipients, text)));
        if (heard.isEmpty()) {
            QCOMPARE(radio.count(), 0);
            QCOMPARE(h.sim->count("notifyRadioMessageReceived"), 0);
            return;
        }
        QCOMPARE(radio.count(), 1);
        const auto args = radio.first().at(0).value<RadioMessageReceived>();
        QCOMPARE(args.from, QStringLiteral("DLH1"));
        QCOMPARE(args.message, text);
        QCOMPARE(args.frequencies.value<QList<uint>>(), heard);
        QCOMPARE(args.isDirect, direct);
        QCOMPARE(args.dualReceiver, com2Receives);
        QCOMPARE(h.sim->callsTo("notifyRadioMessageReceived").first().args,
                 (QVariantList{"DLH1", text, direct}));
    }

    void aSelcalCallForOurCodeAlertsInsteadOfShowingText_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("alert");
        QTest::newRow("our code") << "AB-CD"
                                  << "SELCAL AB-CD" << true;
        QTest::newRow("our code in lower case") << "ab-cd"
                                                << "SELCAL AB-CD" << true;
        QTest::newRow("called without the dash") << "ABCD"
                                                 << "SELCAL abcd" << true;
        QTest::newRow("another code") << "ABCE"
                                      << "SELCAL AB-CD" << false;
        QTest::newRow("no code of ours") << ""
                                         << "SELCAL AB-CD" << false;
    }

    void aSelcalCallForOurCodeAlertsInsteadOfShowingText() {
        QFETCH(QString, code);
        QFETCH(QString, text);
        QFETCH(bool, alert);
        h.destroy();
        h.create();
        QVERIFY(h.loginPilot(QStringLiteral("ABC123"), code));
        tune(122800, 121500);
        QSignalSpy radio(h.nm.get(), &NetworkManager::radioMessageReceived);
        QSignalSpy selcal(h.nm.get(), &NetworkManager::selcalAlertReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:@22800:") + text));
        // A SELCAL call is never shown as text, whoever it is for.
        QCOMPARE(radio.count(), 0);
        QCOMPARE(selcal.count(), alert ? 1 : 0);
        QCOMPARE(h.sim->count("notifySelcal"), alert ? 1 : 0);
        if (alert) {
            QCOMPARE(selcal.first(), (QVariantList{"DLH1", QVariant::fromValue(QList<uint>{122800})}));
        }
    }

    void selcalInLowerCaseIsOrdinaryRadioText() {
        tune(122800, 121500);
        QSignalSpy radio(h.nm.get(), &NetworkManager::radioMessageReceived);
        QSignalSpy selcal(h.nm.get(), &NetworkManager::selcalAlertReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:@22800:selcal ab-cd")));
        QCOMPARE(radio.count(), 1);
        QCOMPARE(selcal.count(), 0);
    }

    void broadcastsAreShownInOrange() {
        QSignalSpy broadcast(h.nm.get(), &NetworkManager::broadcastMessageReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMsup1:*:Restart at 12:00z")));
        QCOMPARE(broadcast.first(), (QVariantList{"SUP1", "Restart at 12:00z"}));
        QCOMPARE(h.sim->callsTo("showNotification").first().args,
                 (QVariantList{"[BROADCAST] SUP1: Restart at 12:00z", 0xffa500}));
    }

    void radioTextGoesOutOnTheTransmittingFrequencyOnly() {
        QSignalSpy sent(h.nm.get(), &NetworkManager::radioMessageSent);
        tune(122800, 121500);
        h.nm->sendRadioMessage(QStringLiteral("nobody hears this"));
        QCOMPARE(sent.count(), 0);
        tune(122800, 121500, true);
        h.nm->sendRadioMessage(QStringLiteral("request taxi"));
        emit h.sim->radioMessageSent(QStringLiteral("typed in the simulator"));
        QCOMPARE(h.sentLines(),
                 (QStringList{"#TMABC123:@22800:request taxi", "#TMABC123:@22800:typed in the simulator"}));
        QCOMPARE(sent.first(), (QVariantList{"request taxi", QVariant::fromValue(QList<uint>{122800})}));
        QCOMPARE(h.sim->count("notifyRadioMessageSent"), 2);
    }

    void privateTextGoesToTheUpperCaseRecipient() {
        QSignalSpy sent(h.nm.get(), &NetworkManager::privateMessageSent);
        h.nm->sendPrivateMessage(QStringLiteral("dlh1"), QStringLiteral("hello: there"));
        for (const char* bad : {"", "DLH1:X", "DLH 1", " DLH1"}) {
            h.nm->sendPrivateMessage(QString::fromUtf8(bad), QStringLiteral("injected"));
        }
        QCOMPARE(h.sentLines(), QStringList{"#TMABC123:DLH1:hello: there"});
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.first(), (QVariantList{"dlh1", "hello: there"}));
        QCOMPARE(h.sim->callsTo("notifyPrivateMessageSent").first().args,
                 (QVariantList{"dlh1", "hello: there"}));
    }

    // Nothing written, nothing echoed: neither the dashboard nor the simulator
    // is told of a text that never reached the server.
    void textsAreEchoedOnlyOnceWrittenToTheServer() {
        tune(122800, 121500, true);
        h.nm->disconnectFromNetwork();
        QTRY_VERIFY(!h.nm->fsdClient()->isConnected());
        h.sim->clearCalls();
        QSignalSpy radio(h.nm.get(), &NetworkManager::radioMessageSent);
        QSignalSpy personal(h.nm.get(), &NetworkManager::privateMessageSent);
        QSignalSpy wallop(h.nm.get(), &NetworkManager::wallopSent);
        h.nm->sendRadioMessage(QStringLiteral("request taxi"));
        h.nm->sendPrivateMessage(QStringLiteral("DLH1"), QStringLiteral("hello"));
        h.nm->sendWallop(QStringLiteral("need help"));
        emit h.sim->radioMessageSent(QStringLiteral("typed in the simulator"));
        emit h.sim->privateMessageSent(QStringLiteral("DLH1"), QStringLiteral("typed in the simulator"));
        QCOMPARE(radio.count() + personal.count() + wallop.count(), 0);
        for (const char* hook : {"notifyRadioMessageSent", "notifyPrivateMessageSent", "showNotification"}) {
            QCOMPARE(h.sim->count(QString::fromLatin1(hook)), 0);
        }
    }

    void wallopGoesToTheSupervisors() {
        QSignalSpy sent(h.nm.get(), &NetworkManager::wallopSent);
        h.nm->sendWallop(QStringLiteral("need help"));
        QCOMPARE(h.sentLines(), QStringList{"#TMABC123:*S:need help"});
        QCOMPARE(sent.first().at(0).toString(), QStringLiteral("need help"));
        QCOMPARE(h.sim->callsTo("showNotification").first().args,
                 (QVariantList{"[WALLOP] need help", 0xeb2f06}));
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerMessaging)
#include "tst_networkmanager_messaging.moc"
