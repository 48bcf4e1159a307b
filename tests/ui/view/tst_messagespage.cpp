// The messages page in an offscreen window over its view model: what it
// shows, what clicks and keys reach, and the whole road from the FSD test
// server through the session manager to the page and back.
#include "manager/NetworkManager.h"
#include "support/QmlWarningGuard.h"
#include "support/QuickItems.h"
#include "support/SessionFixture.h"
#include "ui/viewmodel/MessageChannels.h"
#include "ui/viewmodel/MessagesPageViewModel.h"

#include <QQmlContext>
#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QtTest>

#include <memory>

using velk::manager::NetworkManager;
using velk::test::QmlWarningGuard;
using velk::test::SessionHarness;
using velk::test::visualDescendants;
using velk::ui::MessagesPageViewModel;
using velk::ui::messages::frequencyTexts;

namespace {

// The main window's rows for the messages page, as a test stands them in.
void wire(NetworkManager* nm, MessagesPageViewModel* vm) {
    using VM = MessagesPageViewModel;
    QObject::connect(nm, &NetworkManager::serverMessageReceived, vm, &VM::onServerMessageReceived);
    QObject::connect(nm, &NetworkManager::privateMessageReceived, vm, &VM::onPrivateMessageReceived);
    QObject::connect(nm, &NetworkManager::privateMessageSent, vm, &VM::onPrivateMessageSent);
    QObject::connect(nm, &NetworkManager::radioStatesUpdate, vm, &VM::onRadioStackStateChanged);
    QObject::connect(
        nm, &NetworkManager::radioMessageReceived, vm, [vm](velk::network::RadioMessageReceived a) {
            vm->appendRadioMessage(a.from, a.message, frequencyTexts(a.frequencies.value<QList<uint>>()),
                                   a.isDirect);
        });
    QObject::connect(nm, &NetworkManager::selcalAlertReceived, vm,
                     [vm](QString from, QList<uint> f) { vm->appendSelcalAlert(from, frequencyTexts(f)); });
    QObject::connect(nm, &NetworkManager::networkConnected, vm, [vm] { vm->setNetworkConnected(true); });
    QObject::connect(vm, &VM::privateMessageRequested, nm, &NetworkManager::sendPrivateMessage);
}

} // namespace

class TestMessagesPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MessagesPageViewModel> vm;
    std::unique_ptr<QQuickView> view;
    QQmlPropertyMap simulator;

    void show(bool withSimulator = false) {
        view = std::make_unique<QQuickView>();
        view->rootContext()->setContextProperty(QStringLiteral("messagesBackend"), vm.get());
        if (withSimulator) {
            view->rootContext()->setContextProperty(QStringLiteral("simulatorBackend"), &simulator);
        }
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->resize(1000, 720);
        view->setSource(QUrl(QStringLiteral("qrc:/src/ui/view/pages/MessagesPage.qml")));
        QVERIFY2(view->status() == QQuickView::Ready, qPrintable(view->errors().value(0).toString()));
        view->show();
        view->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
    }

    QQuickItem* item(const QString& name) { return velk::test::findVisual(view->rootObject(), name); }

    void click(const QString& name, Qt::MouseButton button = Qt::LeftButton) {
        QQuickItem* target = nullptr;
        QTRY_VERIFY((target = item(name)));
        const QPointF centre = target->mapToScene(QPointF(target->width() / 4, target->height() / 2));
        QTest::mouseClick(view.get(), button, {}, centre.toPoint());
    }

    void type(const char* text) {
        for (const char* c = text; *c; ++c) {
            QTest::keyClick(view.get(), *c);
        }
        QTest::keyClick(view.get(), Qt::Key_Return);
    }

    QStringList shownTexts(const QString& name) {
        QStringList texts;
        for (QQuickItem* i : visualDescendants(view->rootObject())) {
            if (i->objectName() == name && i->isVisible()) {
                texts << i->property("text").toString();
            }
        }
        return texts;
    }

private slots:
    void initTestCase() {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }
    void init() { vm = std::make_unique<MessagesPageViewModel>(); }
    void cleanup() {
        view.reset();
        h.destroy();
        vm.reset();
    }

    // Sender and text from outside appear literally: markup is never rendered.
    void outsideTextIsShownAsPlainText() {
        QmlWarningGuard guard;
        const QString markup = QStringLiteral("<img src=\"http://127.0.0.1:9/x.png\"><b>hi</b>");
        vm->onPrivateMessageReceived(QStringLiteral("<b>X</b>"), markup);
        vm->appendRadioMessage(QStringLiteral("<i>y</i>"), markup, {QStringLiteral("<u>1</u>")}, false);
        velk::model::Controller tower;
        tower.callsign = QStringLiteral("<b>ZSSS_TWR</b>");
        tower.frequency = tower.normalizedFrequency = 118100;
        tower.isAtc = true;
        vm->onControllerChanged(tower);
        vm->setActiveChannel(QStringLiteral("PRIVATE"));
        show();
        QTRY_COMPARE(shownTexts(QStringLiteral("messageText")), QStringList{markup});
        vm->setActiveChannel(QStringLiteral("RADIO"));
        QTRY_COMPARE(shownTexts(QStringLiteral("messageFrom")), QStringList{QStringLiteral("<I>Y</I>")});
        for (QQuickItem* i : visualDescendants(view->rootObject())) {
            if (i->property("text").toString().contains(QLatin1Char('<'))) {
                QCOMPARE(i->property("textFormat").toInt(), 0); // Text.PlainText
            }
        }
        QCOMPARE(guard.warnings(), QStringList());
    }

    void composeRowFollowsTheChannel_data() {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("offline") << false << "RADIO" << false << "网络未连接";
        QTest::newRow("read-only") << true << "SELCAL" << false << "当前频道只读";
        QTest::newRow("radio") << true << "RADIO" << true << "发送无线电文本消息...";
    }

    void composeRowFollowsTheChannel() {
        QFETCH(bool, connected);
        QFETCH(QString, channel);
        QFETCH(bool, enabled);
        QFETCH(QString, placeholder);
        vm->setNetworkConnected(connected);
        show();
        click(QStringLiteral("channel_") + channel);
        QTRY_COMPARE(vm->activeChannel(), channel);
        QCOMPARE(item("composeField")->isEnabled(), enabled);
        QCOMPARE(item("composeField")->property("placeholderText").toString(), placeholder);
        QCOMPARE(item("composeCard")->opacity(), enabled ? 1.0 : 0.62);
        if (channel == "SELCAL") { // tinted and red unless selected
            click(QStringLiteral("channel_SERVER"));
            QTRY_COMPARE(item("channel_SELCAL")->property("color").value<QColor>(), QColor("#FFF7ED"));
            QCOMPARE(item("channel_SELCAL")->findChild<QQuickItem*>("channelLabel")->property("color"),
                     QVariant(QColor("#B91C1C")));
        }
    }

    void radioHeaderShowsBothComFrequencies() {
        simulator.insert(QStringLiteral("com1Frequency"), QStringLiteral("122.800"));
        simulator.insert(QStringLiteral("com2Frequency"), QStringLiteral("121.500"));
        vm->setActiveChannel(QStringLiteral("RADIO"));
        show(true);
        QCOMPARE(item("headerLine")->property("text").toString(),
                 QStringLiteral("COM1 122.800 / COM2 121.500"));
        view.reset();
        show(false);
        QCOMPARE(item("headerLine")->property("text").toString(), QStringLiteral("COM1 -- / COM2 --"));
    }

    // Right-click answers another station, never one's own text; the page tells the view model it is seen.
    void rightClickPreparesAReplyAndTheShownPageReadsItsChannel() {
        vm->onPrivateMessageSent(QStringLiteral("AAL1"), QStringLiteral("mine"));
        vm->appendRadioMessage(QStringLiteral("DLH1"), QStringLiteral("theirs"), {}, false);
        vm->setActiveChannel(QStringLiteral("AAL1"));
        QCOMPARE(vm->unreadCount(), 1);
        show();
        QVERIFY(vm->pageVisible());
        click(QStringLiteral("message_1"), Qt::RightButton);
        QCOMPARE(vm->activeChannel(), QStringLiteral("AAL1"));
        click(QStringLiteral("channel_RADIO"));
        QCOMPARE(vm->unreadCount(), 0);
        click(QStringLiteral("message_2"), Qt::RightButton);
        QTRY_COMPARE(vm->activeChannel(), QStringLiteral("DLH1"));
        QCOMPARE(vm->draftTarget(), QStringLiteral("DLH1"));
        QTRY_COMPARE(shownTexts(QStringLiteral("sessionLastMessage")), (QStringList{"mine", "暂无对话"}));
        view.reset();
        QVERIFY(!vm->pageVisible());
    }

    // A private text from DLH123 through the page and back to the server.
    void privateConversationEndToEnd() {
        h.create();
        wire(h.nm.get(), vm.get());
        QVERIFY(h.loginPilot());
        QSignalSpy sound(vm.get(), &MessagesPageViewModel::messageSoundRequested);
        show();
        QVERIFY(h.deliver(QStringLiteral("#TMSERVER:ABC123:welcome")));
        QVERIFY(h.deliver(QStringLiteral("#TMDLH123:ABC123:hello")));
        QCOMPARE(sound.count(), 1);
        QCOMPARE(sound.first(), (QVariantList{"private_in", 0}));
        QTRY_VERIFY(item("session_DLH123"));
        QCOMPARE(vm->unreadForChannel(QStringLiteral("DLH123")), 1);
        QVERIFY(item("unreadBadge")->isVisible());

        click(QStringLiteral("session_DLH123"));
        QTRY_COMPARE(shownTexts(QStringLiteral("messageText")), QStringList{"hello"});
        QVERIFY(!item("unreadBadge")->isVisible());
        item("composeField")->forceActiveFocus();
        type("   ");
        QVERIFY(!item("sendButton")->isEnabled());
        QCOMPARE(h.sentLines(), QStringList());
        QCOMPARE(shownTexts(QStringLiteral("messageDirection")), QStringList{"收到"});

        QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
        type("hi");
        QCOMPARE(h.sentLines(), QStringList{"#TMABC123:DLH123:hi"});
        QTRY_COMPARE(shownTexts(QStringLiteral("messageDirection")), (QStringList{"已发送", "收到"}));
        QCOMPARE(item("composeField")->property("text").toString(), QString());
    }

    void radioAndSelcalEndToEnd() {
        h.create();
        wire(h.nm.get(), vm.get());
        QVERIFY(h.loginPilot());
        velk::model::RadioStackState radio;
        radio.com1Frequency = 122800;
        radio.com1ReceiveEnabled = true;
        h.sim->setRadioStackState(radio);
        vm->setActiveChannel(QStringLiteral("RADIO"));
        show();
        QVERIFY(h.deliver(QStringLiteral("#TMDLH1:@22800:ABC123 descend FL120")));
        QTRY_COMPARE(shownTexts(QStringLiteral("messageMeta")), QStringList{"122.800 | 定向呼叫"});
        QVERIFY(h.deliver(QStringLiteral("#TMDLH1:@22800:SELCAL AB-CD")));
        const QVariantMap selcal = vm->messagesForChannel(QStringLiteral("SELCAL")).value(0).toMap();
        QCOMPARE(selcal.value("from").toString(), QStringLiteral("DLH1"));
        QCOMPARE(selcal.value("frequencies").toStringList(), QStringList{"122.800"});
        QCOMPARE(vm->unreadForChannel(QStringLiteral("SELCAL")), 1);
    }

private:
    SessionHarness h;
};

QTEST_MAIN(TestMessagesPage)
#include "tst_messagespage.moc"
