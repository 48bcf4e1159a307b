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

    void tune(quint32 com1, quint32 com2, bool com1Transmits = false) {
        RadioStackState radio;
        radio.com1Frequency = com1;
        radio.com2Frequency = com2;
        radio.com1ReceiveEnabled = true;
        radio.com2ReceiveEnabled = true;
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
        QTest::addColumn<QString>("recipients");
        QTest::addColumn<QList<uint>>("heard");
        QTest::newRow("com1") << 122800u << 121500u << "@22800" << QList<uint>{122800};
        QTest::newRow("both radios") << 122800u << 122800u << "@22800" << QList<uint>{122800, 122800};
        QTest::newRow("listed twice") << 122800u << 121500u << "@22800&@22800" << QList<uint>{122800};
        QTest::newRow("two frequencies")
            << 122800u << 121500u << "@21500&@22800" << QList<uint>{121500, 122800};
        QTest::newRow("not tuned") << 122800u << 121500u << "@23450" << QList<uint>{};
    }

    void radioTextIsDeliveredOncePerReceivingRadio() {
        QFETCH(quint32, com1);
        QFETCH(quint32, com2);
        QFETCH(QString, recipients);
        QFETCH(QList<uint>, heard);
        tune(com1, com2);
        QSignalSpy radio(h.nm.get(), &NetworkManager::radioMessageReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:%1:abc123 climb FL240").arg(recipients)));
        if (heard.isEmpty()) {
            QCOMPARE(radio.count(), 0);
            QCOMPARE(h.sim->count("notifyRadioMessageReceived"), 0);
            return;
        }
        QCOMPARE(radio.count(), 1);
        const auto args = radio.first().at(0).value<RadioMessageReceived>();
        QCOMPARE(args.from, QStringLiteral("DLH1"));
        QCOMPARE(args.frequencies.value<QList<uint>>(), heard);
        QVERIFY(args.isDirect);
        QVERIFY(args.dualReceiver);
        QCOMPARE(h.sim->callsTo("notifyRadioMessageReceived").first().args,
                 (QVariantList{"DLH1", "abc123 climb FL240", true}));
    }

    void aSelcalCallForOurCodeAlertsInsteadOfShowingText() {
        tune(122800, 121500);
        QSignalSpy radio(h.nm.get(), &NetworkManager::radioMessageReceived);
        QSignalSpy selcal(h.nm.get(), &NetworkManager::selcalAlertReceived);
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:@22800:SELCAL AB-CD")));
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:@22800:SELCAL abcd")));
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:@22800:SELCAL AB-CE")));
        QCOMPARE(selcal.count(), 2);
        QCOMPARE(selcal.first(), (QVariantList{"DLH1", QVariant::fromValue(QList<uint>{122800})}));
        QCOMPARE(h.sim->count("notifySelcal"), 2);
        QCOMPARE(radio.count(), 0);
        QVERIFY(h.deliver(QStringLiteral("#TMdlh1:@22800:selcal ab-cd")));
        QCOMPARE(radio.count(), 1);
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
