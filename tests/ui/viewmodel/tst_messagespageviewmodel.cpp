// The message centre's state machine: how each event is filed, when a record
// is born unread, keys of stations apart from channel keys, caps, and sends
// that keep the draft when they cannot go out.
#include "model/AircraftState.h"
#include "model/Controller.h"
#include "ui/viewmodel/MessageChannels.h"
#include "ui/viewmodel/MessagesPageViewModel.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using velk::model::Controller;
using velk::model::RadioStackState;
using velk::ui::MessagesPageViewModel;
using Event = std::function<void(MessagesPageViewModel&)>;
Q_DECLARE_METATYPE(Event)

namespace {

QVariantMap newest(const MessagesPageViewModel& vm) {
    return vm.messages().value(0).toMap();
}

Controller atc(const QString& callsign, quint32 khz, bool isAtc = true) {
    Controller c;
    c.callsign = callsign;
    c.frequency = khz;
    c.normalizedFrequency = Controller::normalize(khz);
    c.realName = QStringLiteral("Jane Doe");
    c.isAtc = isAtc;
    return c;
}

void transmit(MessagesPageViewModel& vm, bool on) {
    RadioStackState radio;
    radio.com2TransmitEnabled = on;
    vm.onRadioStackStateChanged(radio);
}

} // namespace

class TestMessagesPageViewModel : public QObject {
    Q_OBJECT

private slots:
    // Every kind of record with its fifteen keys; expected values as "key=value" pairs.
    void eachEventIsFiledWithItsOwnFields_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("expected");
        const QStringList f{"122.800", "121.500"};
        auto row = [](const char* name, Event e, const char* m) { QTest::newRow(name) << e << QString(m); };
        row(
            "server", [](auto& vm) { vm.onServerMessageReceived("<b>hi</b>"); },
            "type=server;from=服务器;to=;channel=SERVER;direction=system;directionLabel=系统;message=<b>hi</"
            "b>;"
            "priority=0;unread=false");
        row(
            "system", [](auto& vm) { vm.appendSystemMessage("up"); },
            "type=system;from=系统;channel=SERVER;direction=system");
        row(
            "private in", [](auto& vm) { vm.onPrivateMessageReceived(" dlh123 ", "hi"); },
            "type=private_in;from=DLH123;to=我;channel=DLH123;direction=in;directionLabel=收到;unread=true");
        row(
            "private out", [](auto& vm) { vm.onPrivateMessageSent("dlh123", "hi"); },
            "type=private_out;from=我;to=DLH123;channel=DLH123;direction=out;directionLabel=已发送;unread="
            "false");
        row(
            "private from a station named like a channel",
            [](auto& vm) { vm.onPrivateMessageReceived("radio", "hi"); },
            "type=private_in;from=RADIO;channel=~RADIO;direction=in");
        row(
            "private from a station named 我", [](auto& vm) { vm.onPrivateMessageReceived("我", "hi"); },
            "type=private_in;from=我;channel=我;direction=in;unread=true");
        row(
            "private without sender", [](auto& vm) { vm.onPrivateMessageReceived("  ", "hi"); },
            "type=private_in;from=;channel=PRIVATE");
        row(
            "broadcast", [](auto& vm) { vm.onBroadcastMessageReceived("sup1 ", "x"); },
            "type=broadcast;from=SUP1 ;to=全体;channel=BROADCAST;meta=全网广播;priority=1");
        row(
            "radio direct", [f](auto& vm) { vm.appendRadioMessage("dlh1", "abc climb", f, true); },
            "type=radio_in;from=DLH1;channel=RADIO;direction=in;meta=122.800, 121.500 | 定向呼叫;"
            "frequencies=122.800,121.500;isDirect=true;priority=1");
        row(
            "radio from a station named 我", [](auto& vm) { vm.appendRadioMessage("我", "x", {}, false); },
            "type=radio_in;from=我;direction=in;unread=true");
        row(
            "own radio", [](auto& vm) { vm.appendOwnRadioMessage("taxi", {"122.800"}); },
            "type=radio_out;from=我;direction=out;meta=122.800;priority=0");
        row(
            "wallop", [](auto& vm) { vm.onWallopSent("help"); },
            "type=wallop_out;from=我;to=WALLOP;channel=WALLOP;meta=管理员报告;priority=1;unread=false");
        row(
            "selcal", [f](auto& vm) { vm.appendSelcalAlert("dlh1", f); },
            "type=selcal;from=DLH1;to=我;channel=SELCAL;meta=122.800, "
            "121.500;isDirect=true;priority=2;unread=true");
    }

    void eachEventIsFiledWithItsOwnFields() {
        QFETCH(Event, event);
        QFETCH(QString, expected);
        MessagesPageViewModel vm;
        event(vm);
        const QVariantMap record = newest(vm);
        QCOMPARE(record.size(), 15);
        QCOMPARE(record.value("id").toInt(), 1);
        QVERIFY(QTime::fromString(record.value("time").toString(), "hh:mm:ss").isValid());
        for (const QString& pair : expected.split(QLatin1Char(';'))) {
            const QString key = pair.section(QLatin1Char('='), 0, 0);
            const QVariant value = record.value(key);
            const QString shown =
                key == "frequencies" ? value.toStringList().join(QLatin1Char(',')) : value.toString();
            QCOMPARE(key + "=" + shown, pair);
        }
    }

    // Unread (badge and sound) unless the page is on screen with the record's channel active.
    void aRecordIsBornReadOnlyWhenSeenArriving_data() {
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("active");
        QTest::addColumn<Event>("event");
        QTest::addColumn<bool>("unread");
        const Event radio = [](auto& vm) { vm.appendRadioMessage("DLH1", "x", {}, false); };
        const Event dm = [](auto& vm) { vm.onPrivateMessageReceived("dlh1", "x"); };
        const Event selcal = [](auto& vm) { vm.appendSelcalAlert("DLH1", {}); };
        QTest::newRow("radio, page hidden") << false << "RADIO" << radio << true;
        QTest::newRow("radio, page shown") << true << "com1" << radio << false;
        QTest::newRow("selcal, page hidden") << false << "SELCAL" << selcal << true;
        QTest::newRow("private, conversation shown") << true << "DLH1" << dm << false;
        QTest::newRow("private, PRIVATE shown") << true << "PRIVATE" << dm << false;
        QTest::newRow("private, SERVER shown") << true << "SERVER" << dm << true;
    }

    void aRecordIsBornReadOnlyWhenSeenArriving() {
        QFETCH(bool, visible);
        QFETCH(QString, active);
        QFETCH(Event, event);
        QFETCH(bool, unread);
        MessagesPageViewModel vm;
        vm.setPageVisible(visible);
        vm.setActiveChannel(active);
        QSignalSpy sound(&vm, &MessagesPageViewModel::messageSoundRequested);
        event(vm);
        const QVariantMap record = newest(vm);
        QCOMPARE(record.value("unread").toBool(), unread);
        QCOMPARE(vm.unreadCount(), unread ? 1 : 0);
        QCOMPARE(sound.count(), unread ? 1 : 0);
        if (unread) {
            QCOMPARE(sound.first(), (QVariantList{record.value("type"), record.value("priority")}));
            QCOMPARE(vm.unreadForChannel(record.value("channel").toString()), 1);
            // Showing the page with that channel selected reads it.
            vm.setActiveChannel(record.value("channel").toString());
            vm.setPageVisible(true);
            QCOMPARE(vm.unreadCount(), 0);
        }
    }

    void unreadMarksFollowSelectionAndSignalEveryChange() {
        MessagesPageViewModel vm;
        vm.onPrivateMessageReceived("DLH1", "a");
        vm.onServerMessageReceived("never unread, never a sound");
        QCOMPARE(vm.unreadCount(), 1);
        QSignalSpy stats(&vm, &MessagesPageViewModel::channelStatsChanged);
        QSignalSpy active(&vm, &MessagesPageViewModel::activeChannelChanged);
        vm.setActiveChannel("radio");
        QCOMPARE(active.count(), 1);
        QCOMPARE(stats.count(), 1); // the rows' active flags moved
        QVERIFY(vm.channels().at(1).toMap().value("active").toBool());
        vm.setActiveChannel("PRIVATE"); // a new selection reads its records
        QCOMPARE(vm.unreadCount(), 0);
        vm.onPrivateMessageReceived("DLH1", "b");
        vm.setActiveChannel("private"); // re-selecting reads too
        QCOMPARE(vm.unreadCount(), 0);
        QCOMPARE(active.count(), 2);
        QCOMPARE(vm.privateSessions().at(0).toMap().value("lastMessage").toString(), QStringLiteral("b"));
    }

    // A station named like a channel gets its own conversation and can be answered by name.
    void stationKeysNeverNameAChannel_data() {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("key");
        for (const char* name : {"RADIO", "COM1", "SELCAL", "SERVER", "ALL", "~DLH1"}) {
            QTest::newRow(name) << name << QStringLiteral("~") + name;
        }
        QTest::newRow("ordinary") << " dlh1"
                                  << "DLH1";
    }

    void stationKeysNeverNameAChannel() {
        QFETCH(QString, sender);
        QFETCH(QString, key);
        MessagesPageViewModel vm;
        vm.setNetworkConnected(true);
        vm.onPrivateMessageReceived(sender, "hello");
        QCOMPARE(vm.privateSessionKeys(), QStringList{key});
        QCOMPARE(vm.unreadForChannel("RADIO") + vm.unreadForChannel("SERVER") + vm.unreadForChannel("SELCAL"),
                 0);
        QCOMPARE(velk::ui::messages::normalizeChannelKey(key.toLower()), key);
        const QString callsign = sender.trimmed().toUpper();
        QCOMPARE(vm.privateSessions().at(0).toMap().value("callsign").toString(), callsign);
        vm.prepareReply(callsign);
        QCOMPARE(vm.activeChannel(), key);
        QCOMPARE(vm.activeChannelTitle(), QStringLiteral("私聊 ") + callsign);
        QSignalSpy request(&vm, &MessagesPageViewModel::privateMessageRequested);
        vm.sendPrivateMessage(vm.activeChannel(), " roger ");
        QCOMPARE(request.value(0), (QVariantList{callsign, "roger"}));
        vm.onPrivateMessageSent(callsign, "roger");
        QCOMPARE(vm.messagesForChannel(key).size(), 2);
        vm.closePrivateSession(callsign);
        QCOMPARE(vm.activeChannel(), QStringLiteral("SERVER"));
    }

    // Refused texts stay in the compose box, and a notice in that channel says why.
    void aSendThatCannotGoOutKeepsTheDraft_data() {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("notice");
        QTest::newRow("radio sent") << true << true << "RADIO"
                                    << "";
        QTest::newRow("radio, no COM transmits") << true << false << "RADIO"
                                                 << "没有处于发射状态的 COM 电台，无线电消息未发送。";
        QTest::newRow("radio, disconnected") << false << true << "RADIO"
                                             << "网络未连接，消息未发送。";
        QTest::newRow("wallop sent") << true << false << "WALLOP"
                                     << "";
        QTest::newRow("wallop, disconnected") << false << false << "WALLOP"
                                              << "网络未连接，消息未发送。";
        QTest::newRow("private sent") << true << false << "DLH1"
                                      << "";
        QTest::newRow("private, disconnected") << false << false << "DLH1"
                                               << "网络未连接，消息未发送。";
        const QString badRecipient = "收件人呼号无效（不能为空，不能含空格或冒号），私聊消息未发送。";
        QTest::newRow("private, space in recipient") << true << false << "DLH 1" << badRecipient;
        QTest::newRow("private, colon in recipient") << true << false << "A:B" << badRecipient;
    }

    void aSendThatCannotGoOutKeepsTheDraft() {
        QFETCH(bool, connected);
        QFETCH(bool, transmitting);
        QFETCH(QString, channel);
        QFETCH(QString, notice);
        MessagesPageViewModel vm;
        vm.setNetworkConnected(connected);
        transmit(vm, transmitting);
        vm.setActiveChannel(channel);
        vm.setDraftMessage("  text  ");
        QSignalSpy radio(&vm, &MessagesPageViewModel::radioMessageRequested);
        QSignalSpy wallop(&vm, &MessagesPageViewModel::wallopRequested);
        QSignalSpy dm(&vm, &MessagesPageViewModel::privateMessageRequested);
        if (channel == "RADIO") {
            vm.sendRadioMessage(vm.draftMessage());
        } else if (channel == "WALLOP") {
            vm.sendWallopMessage(vm.draftMessage());
        } else {
            vm.sendPrivateMessage(vm.activeChannel(), vm.draftMessage());
        }
        QCOMPARE(radio.count() + wallop.count() + dm.count(), notice.isEmpty() ? 1 : 0);
        QCOMPARE(vm.draftMessage(), notice.isEmpty() ? QString() : QStringLiteral("  text  "));
        const QVariantList shown = vm.activeMessages();
        QCOMPARE(shown.size(), notice.isEmpty() ? 0 : 1);
        if (!notice.isEmpty()) {
            QCOMPARE(shown.first().toMap().value("message").toString(), notice);
            QCOMPARE(shown.first().toMap().value("type").toString(), QStringLiteral("system"));
        }
        // Blank text and fixed targets send nothing and say nothing.
        vm.sendRadioMessage("   ");
        vm.sendPrivateMessage("SELCAL", "x");
        QCOMPARE(vm.activeMessages().size(), shown.size());
    }

    void recordsAreCappedAt300AcrossChannels() {
        MessagesPageViewModel vm;
        vm.onPrivateMessageReceived("DLH1", "oldest");
        for (int i = 0; i < 300; ++i) {
            vm.appendRadioMessage("DLH2", QString::number(i), {}, false);
        }
        QCOMPARE(vm.messages().size(), 300);
        QCOMPARE(newest(vm).value("id").toInt(), 301);
        QCOMPARE(vm.messagesForChannel("PRIVATE").size(), 0);
        QCOMPARE(vm.unreadCount(), 300);
        QCOMPARE(vm.summaryText(), QStringLiteral("300 条消息 | 私聊 0 | 无线电 300 | 服务 0 | 告警 0"));
        vm.clearMessages();
        QCOMPARE(vm.summaryText(), QStringLiteral("暂无消息"));
        vm.onServerMessageReceived("x");
        QCOMPARE(newest(vm).value("id").toInt(), 302);
        QCOMPARE(vm.privateSessionKeys(), QStringList{"DLH1"}); // conversations survive
    }

    // The 51st conversation closes the oldest one without unread records; the selected one stays.
    void conversationsAreCappedAt50() {
        MessagesPageViewModel vm;
        vm.setPageVisible(true);
        vm.onPrivateMessageReceived("S0", "unread");
        vm.openPrivateSession("S1");
        vm.setActiveChannel("S1");
        for (int i = 2; i < 50; ++i) {
            vm.openPrivateSession(QStringLiteral("S%1").arg(i));
        }
        vm.onPrivateMessageReceived("S2", "unread");
        vm.openPrivateSession("S50");
        QCOMPARE(vm.privateSessionKeys().size(), 50);
        QVERIFY(!vm.privateSessionKeys().contains("S3"));
        QCOMPARE(vm.privateSessionKeys().mid(0, 3), (QStringList{"S0", "S1", "S2"}));
        QCOMPARE(vm.privateSessionKeys().last(), QStringLiteral("S50"));
    }

    void composeStateFollowsChannelAndNetwork_data() {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<bool>("canSend");
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<QString>("title");
        QTest::newRow("offline radio") << false << "RADIO" << false << "网络未连接"
                                       << "无线电";
        QTest::newRow("radio") << true << "COM2" << true << "发送无线电文本消息..."
                               << "无线电";
        QTest::newRow("wallop") << true << "WALLOP" << true << "发送 WALLOP 管理员报告..."
                                << "WALLOP";
        QTest::newRow("selcal") << true << "SELCAL" << false << "当前频道只读"
                                << "SELCAL";
        QTest::newRow("blank is server") << true << " " << false << "当前频道只读"
                                         << "服务器";
        QTest::newRow("conversation") << true << "dlh1" << true << "发送私聊消息给 DLH1..."
                                      << "私聊 DLH1";
    }

    void composeStateFollowsChannelAndNetwork() {
        QFETCH(bool, connected);
        QFETCH(QString, channel);
        QFETCH(bool, canSend);
        QFETCH(QString, placeholder);
        QFETCH(QString, title);
        MessagesPageViewModel vm;
        QSignalSpy compose(&vm, &MessagesPageViewModel::composeChanged);
        vm.setNetworkConnected(connected);
        vm.setActiveChannel(channel);
        QCOMPARE(vm.activeChannelCanSend(), canSend);
        QCOMPARE(vm.composePlaceholder(), placeholder);
        QCOMPARE(vm.activeChannelTitle(), title);
        QCOMPARE(compose.isEmpty(), !connected && vm.activeChannel() == "SERVER");
        QCOMPARE(vm.channels().at(4).toMap().value("canSend").toBool(), true);
    }

    void nearbyControllersFollowTheTable() {
        MessagesPageViewModel vm;
        QSignalSpy changed(&vm, &MessagesPageViewModel::nearbyClientsChanged);
        vm.onControllerChanged(atc(" zsss_twr", 118720));
        vm.onControllerChanged(atc("ZSSS_TWR", 118720)); // identical: nothing
        QCOMPARE(changed.count(), 1);
        QCOMPARE(
            vm.nearbyClients(),
            (QVariantList{QVariantMap{
                {"callsign", "ZSSS_TWR"}, {"type", "atc"}, {"frequency", "118.725"}, {"name", "Jane Doe"}}}));
        vm.onControllerChanged(atc("ZSSS_TWR", Controller::NoFrequency)); // no frequency: gone
        QCOMPARE(vm.nearbyClients().size(), 0);
        vm.onControllerChanged(atc("ZSSS_APP", 120300, false)); // not ATC: never listed
        vm.onControllerDeleted(atc("UNKNOWN", 0));
        QCOMPARE(changed.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestMessagesPageViewModel)
#include "tst_messagespageviewmodel.moc"
