// The voice page loaded standalone over the voice service view model, with a
// voice test server and the JACK rig behind it.
#include "AppConfig.h"
#include "support/JackRig.h"
#include "support/QmlWarningGuard.h"
#include "support/QuickPageHost.h"
#include "support/TestSupport.h"
#include "support/VoiceServiceHarness.h"
#include "ui/QmlTypes.h"

#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>

using namespace velk;
using test::QuickPageHost;

namespace {

const QUrl kPage(QStringLiteral("qrc:/src/ui/view/pages/VoiceServicePage.qml"));

} // namespace

class TestVoiceServicePage : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};
    std::unique_ptr<test::QmlWarningGuard> warnings;
    std::unique_ptr<test::VoiceServiceHarness> h;
    std::unique_ptr<QuickPageHost> host;

    bool enabled(const QString& name) const { return host->find(name)->isEnabled(); }
    void click(const QString& name) { host->click(host->find(name)); }

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        JackRig::writeVoiceConfig();
        AppConfig::instance()->setValue(ConfigKeys::AuthToken, QStringLiteral("aaa.bbb.ccc"));
        ui::registerQmlTypes();
    }

    void init() {
        warnings = std::make_unique<test::QmlWarningGuard>();
        h = std::make_unique<test::VoiceServiceHarness>();
        host = std::make_unique<QuickPageHost>(kPage, QList<QPair<QString, QObject*>>{}, QSize(1200, 1200));
        QVERIFY(host->ready());
        host->view.rootObject()->setProperty("voiceServiceBackend", QVariant::fromValue(&h->vm));
    }

    void cleanup() {
        host.reset();
        h.reset();
        const QStringList seen = warnings->warnings();
        warnings.reset();
        QCOMPARE(seen, QStringList());
    }

    void withoutABackEndNothingShows() {
        QuickPageHost bare(kPage, {});
        QVERIFY(bare.ready());
        QVERIFY(!bare.find("connectButton"));
    }

    void connectGreysTheButtonAtOnceAndShowsTheStates() {
        QCOMPARE(host->text("callsignText"), QStringLiteral("—"));
        QCOMPARE(host->text("lastFrequency"), QStringLiteral("频率: ---.--- MHz"));
        QSignalSpy minimize(host->view.rootObject(), SIGNAL(minimizeRequested()));
        click("minimizeButton");
        QCOMPARE(minimize.count(), 1);

        QSignalSpy clients(&h->server.control(), &test::FsdTestServer::clientConnected);
        click("connectButton"); // on loopback it may be connected already
        QVERIFY(!enabled("connectButton") && !enabled("micTestButton"));
        h->vm.connectToVoiceServer(); // as a second click would
        QCOMPARE(host->text("callsignText"), QStringLiteral("Unknown"));
        QCOMPARE(host->text("testHint"), QStringLiteral("语音服务连接时无法进行设备测试"));
        QVERIFY(!host->find("pttUnbound")); // found only while shown: a test can start
        QTRY_COMPARE(host->text("stateText"), QStringLiteral("已连接"));
        QVERIFY(h->server.waitForUdpPeer());
        QTRY_COMPARE(h->server.authLine(), QByteArray("aaa.bbb.ccc"));
        h->server.sendWelcome("CES123");
        QTRY_COMPARE(host->text("stateText"), QStringLiteral("就绪"));
        QCOMPARE(host->text("callsignText"), QStringLiteral("CES123"));
        QCOMPARE(host->find("stateDot")->property("color").value<QColor>(), QColor("#10B981"));
        QVERIFY(!enabled("connectButton"));
        QCOMPARE(h->texts, (QStringList{"连接中...", "已连接", "就绪"}));
        QCOMPARE(clients.count(), 1);

        h->server.sendMessage("error", "<i>no such frequency</i>");
        QTRY_COMPARE(host->text("eventText"), QStringLiteral("ERROR: <i>no such frequency</i>"));
        int checked = 0;
        QCOMPARE(host->textsNotPlain(&checked), QStringList());
        QVERIFY(checked > 20);
        QVERIFY(host->view.grabWindow().save(test::appDir() + "/voiceservicepage.png"));
    }

    void radiosShowTheUpdateAndTheSliderSetsTheVolume() {
        model::RadioStackState state;
        state.com1Frequency = 121500;
        state.com1StandbyFrequency = 118025;
        state.com1ReceiveEnabled = true;
        state.com1Volume = 100;
        h->vm.radioStackUpdate(state);
        QTRY_COMPARE(host->text("com1Freq"), QStringLiteral("121.5 MHz / 118.025 MHz"));
        QCOMPARE(host->text("com1Volume"), QStringLiteral("100%"));

        QQuickItem* slider = host->find("com1Slider");
        const double x =
            slider->property("leftPadding").toDouble() + 0.75 * slider->property("availableWidth").toDouble();
        QTest::mouseClick(&host->view, Qt::LeftButton, {},
                          slider->mapToScene(QPointF(x, slider->height() / 2)).toPoint());
        QCOMPARE(h->vm.com1Volume(), 1.5);
        QTRY_COMPARE(host->text("com1Volume"), QStringLiteral("150%"));
    }

    void theDeviceTestsRunFromTheCard() {
        // Without a push-to-talk key the microphone test is never heard: the card says so.
        QCOMPARE(host->text("pttUnbound"),
                 QStringLiteral("未设置 PTT 按键：麦克风测试需要按住 PTT 才能听到声音"));
        h->ptt.setBoundKey(QStringLiteral("kb:163"));
        QVERIFY(!host->find("pttUnbound"));
        click("speakerButton");
        QCOMPARE(h->vm.loopbackTarget(), 1);
        click("micTestButton");
        QVERIFY(h->vm.micTesting());
        QTRY_COMPARE(host->text("micTestButton"), QStringLiteral("停止测试"));
        QVERIFY(!enabled("conflictButton"));
        QVERIFY(host->text("testHint").startsWith(QStringLiteral("正在采集麦克风输入")));
        click("micTestButton");
        QTRY_COMPARE(host->text("micTestButton"), QStringLiteral("麦克风测试"));

        click("conflictButton");
        QTRY_COMPARE(host->text("conflictButton"), QStringLiteral("停止播放"));
        QCOMPARE(host->text("testHint"), QStringLiteral("正在播放冲突音到输出设备..."));
        QVERIFY(!enabled("micTestButton"));
        QTRY_VERIFY(h->audio()->headphoneStream()->isRunning());
        click("conflictButton");
        QVERIFY(!h->vm.conflictTesting() && !h->audio()->headphoneStream()->isRunning());
    }

    // Without its devices a test is not shown running: the hint and the event log say why.
    void aTestWithoutItsDevicesSaysWhyAndStops() {
        QObject::connect(&h->client, &voice::VoiceClient::audioHandlerCreated, [](voice::AudioHandler* a) {
            a->setInputDevice(9999);
            a->setOutputSpeakerDevice(9999);
        });
        click("speakerButton");
        click("micTestButton");
        const QString failure = QStringLiteral("麦克风测试无法启动：麦克风、扬声器无法打开");
        QTRY_COMPARE(host->text("testHint"), failure);
        QCOMPARE(host->text("micTestButton"), QStringLiteral("麦克风测试"));
        QVERIFY(enabled("conflictButton"));
        QCOMPARE(host->find("testHint")->property("color").value<QColor>(), QColor("#F43F5E"));
        QTRY_COMPARE(host->text("eventText"), QStringLiteral("ERROR: ") + failure);
        click("conflictButton"); // its output, the headphones, opens
        QTRY_COMPARE(host->text("conflictButton"), QStringLiteral("停止播放"));
        QCOMPARE(host->text("testHint"), QStringLiteral("正在播放冲突音到输出设备..."));
        QTRY_VERIFY(h->audio()->headphoneStream()->isRunning());
        click("conflictButton");
        QTRY_COMPARE(host->text("testHint"),
                     QStringLiteral("选择输出目标后点击「麦克风测试」，或点击「播放冲突音」验证输出"));
    }
};

QTEST_MAIN(TestVoiceServicePage)
#include "tst_voiceservicepage.moc"
