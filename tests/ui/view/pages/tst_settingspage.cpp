// The settings page loaded standalone over the program's own config.ini, its
// view models owned as the main window owns them: navigation, fields that
// keep what is typed, save results on the status line, the MSFS rescan
// reaching the simulator page's view model, and the voice section on a
// headless JACK server with push-to-talk from a fake input source.
#include "AppConfig.h"
#include "manager/NetworkManager.h"
#include "simulator/msfs/MsfsAdapter.h"
#include "support/JackRig.h"
#include "support/QmlWarningGuard.h"
#include "support/QuickPageHost.h"
#include "support/SettingsOwners.h"
#include "ui/QmlTypes.h"
#include "ui/viewmodel/SimulatorPageViewModel.h"
#include "voice/AudioDevices.h"

#include <QColor>
#include <QQuickItem>
#include <QTest>

using namespace velk;
using test::QuickPageHost;
using Vm = ui::viewmodel::SettingsViewModel;
using VoiceVm = ui::viewmodel::VoiceSettingsViewModel;

namespace {
const QUrl kPage(QStringLiteral("qrc:/src/ui/view/pages/SettingsPage.qml"));
} // namespace

class TestSettingsPage : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};
    AppConfig* config = AppConfig::instance();
    std::unique_ptr<test::QmlWarningGuard> warnings;
    std::unique_ptr<test::SettingsOwners> owners;
    Vm* vm = nullptr;
    std::unique_ptr<QuickPageHost> host;

    void open(int section) {
        host->click(host->find(QStringLiteral("navEntry%1").arg(section)));
        QTRY_COMPARE(host->view.rootObject()->property("currentNavIndex").toInt(), section);
    }

    // Activates an entry of a combo box as a pick from its list does.
    void pick(const char* box, const QString& entry) {
        QQuickItem* item = host->find(box);
        const int index = item->property("model").toStringList().indexOf(entry);
        QVERIFY2(index >= 0, qPrintable(entry));
        QMetaObject::invokeMethod(item, "activated", Q_ARG(int, index));
        QTRY_COMPARE(item->property("displayText").toString(), entry);
    }

    QColor color(const char* name) const { return host->find(name)->property("color").value<QColor>(); }

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        ui::registerQmlTypes();
    }

    void init() {
        warnings = std::make_unique<test::QmlWarningGuard>();
        config->setValues(ConfigKeys::XPlaneUDPPort, 49000, ConfigKeys::XPlaneCSL, QStringList{},
                          ConfigKeys::ProfileRealname, QStringLiteral("Wang Wu"), ConfigKeys::VoiceDriver, 13,
                          ConfigKeys::VoicePttKey, QString(), ConfigKeys::VoiceMicGain, 0.0);
        owners = std::make_unique<test::SettingsOwners>();
        vm = &owners->settings;
        host = std::make_unique<QuickPageHost>(kPage, QList<QPair<QString, QObject*>>{}, QSize(1100, 900));
        QVERIFY(host->ready());
        host->view.rootObject()->setProperty("settingsBackend", QVariant::fromValue<QObject*>(vm));
        host->view.rootObject()->setProperty("voiceSettingsBackend",
                                             QVariant::fromValue<QObject*>(&owners->voice));
    }

    void cleanup() {
        host.reset();
        owners.reset();
        const QStringList seen = warnings->warnings();
        warnings.reset();
        QCOMPARE(seen, QStringList());
    }

    void withoutABackEndEveryControlIsInert() {
        QuickPageHost bare(kPage, {});
        QVERIFY(bare.ready());
        QVERIFY(!bare.find("usernameField")->isEnabled() && !bare.find("saveButton")->isEnabled());
        bare.click(bare.find("navEntry3"));
        QTRY_VERIFY(bare.find("driverBox"));
        QVERIFY(!bare.find("driverBox")->isEnabled());
    }

    void typedBlanksStayAndTheSaveReachesConfigIni() {
        QCOMPARE(host->text("realnameField"), QStringLiteral("Wang Wu"));
        host->type(host->find("realnameField"), QStringLiteral("Zhang San "));
        QCOMPARE(host->text("realnameField"), QStringLiteral("Zhang San "));
        QCOMPARE(vm->realname(), QStringLiteral("Zhang San"));

        open(1);
        QVERIFY(!host->find("usernameField"));
        QCOMPARE(host->find("xplanePortBox")->property("displayText").toString(), QStringLiteral("49000"));
        host->type(host->find("xplaneCslArea"), QStringLiteral("A;B, C"));
        QCOMPARE(vm->xplaneCslPathsText(), QStringLiteral("A;B, C"));

        host->click(host->find("saveButton"));
        QTRY_COMPARE(host->text("saveStatus"), QStringLiteral("已保存到 config.ini"));
        QCOMPARE(color("saveStatus"), QColor("#0EA5E9"));
        QCOMPARE(config->value(ConfigKeys::XPlaneCSL), (QStringList{"A", "B, C"}));
        QCOMPARE(config->value(ConfigKeys::ProfileRealname), QStringLiteral("Zhang San"));

        vm->setXplaneUdpPort(0);
        host->click(host->find("saveButton"));
        QTRY_COMPARE(host->text("saveStatus"),
                     QStringLiteral("保存失败：X-Plane UDP 端口无效（应为 1 至 65535）"));
        QCOMPARE(color("saveStatus"), QColor("#F43F5E"));

        // A reload brings the stored text back into the fields.
        config->setValue(ConfigKeys::ProfileRealname, QStringLiteral("Li Si"));
        host->click(host->find("reloadButton"));
        QTRY_COMPARE(host->text("xplaneCslArea"), QStringLiteral("A\nB, C"));
        open(0);
        QCOMPARE(host->text("realnameField"), QStringLiteral("Li Si"));

        vm->setUsername(QStringLiteral("<b>1234</b>"));
        int checked = 0;
        QCOMPARE(host->textsNotPlain(&checked), QStringList());
        QVERIFY(checked > 8);
    }

    void rescanReachesTheMsfsBackEndAndTheSimulatorPage() {
        simulator::msfs::MsfsAdapter::Options options;
        options.startTimers = false;
        auto adapter = std::make_shared<simulator::msfs::MsfsAdapter>(options);
        manager::NetworkManager nm;
        ui::SimulatorPageViewModel simulatorPage;
        connect(&nm, &manager::NetworkManager::simulatorTrafficMappingStatusUpdated, &simulatorPage,
                &ui::SimulatorPageViewModel::onTrafficMappingStatusUpdated);
        nm.setSimulator(adapter);
        const int token = config->value(ConfigKeys::MSFSLibraryReloadToken);

        open(2);
        host->click(host->find("libraryReloadButton2024"));
        QCOMPARE(config->value(ConfigKeys::MSFSLibraryReloadToken), token + 1);
        QCOMPARE(simulatorPage.trafficMappingStatusText(), QStringLiteral("MSFS 机库扫描中..."));
        QTRY_VERIFY((adapter->pollLibrary(), simulatorPage.trafficMappingStatusText().startsWith(
                                                 QStringLiteral("MSFS 机库已扫描："))));
        QTRY_COMPARE(host->text("saveStatus"), QStringLiteral("已触发 MSFS 机模库重载"));

        open(4);
        const auto lines = host->findAll("buildInfoLine");
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0)->property("text").toString(), QStringLiteral("版本： ") + vm->appVersion());
        QCOMPARE(lines.at(4)->property("text").toString(),
                 QStringLiteral("MSFS 重载令牌： %1").arg(token + 1));
    }

    void voiceChoicesOnTheRigAreSavedByName() {
        QVERIFY(!owners->devices.isLoaded());
        open(3);
        QTRY_VERIFY(owners->devices.isLoaded());
        QCOMPARE(host->find("driverBox")->property("model").toStringList(), owners->devices.driverNames());
        // The stored WASAPI is missing here: PortAudio's default driver shows.
        QCOMPARE(host->find("driverBox")->property("displayText").toString(),
                 QStringLiteral("JACK Audio Connection Kit"));
        // A driver without devices (OSS without /dev/dsp) says so in each device list.
        QString deviceless;
        for (const auto& api : voice::getHostApiNames()) {
            if (deviceless.isEmpty() && voice::getVoiceInputDevices(api.index).isEmpty() &&
                voice::getVoiceOutputDevices(api.index).isEmpty()) {
                deviceless = QString::fromUtf8(api.name);
            }
        }
        QVERIFY2(!deviceless.isEmpty(), qPrintable(owners->devices.driverNames().join(',')));
        pick("driverBox", deviceless);
        for (const char* box : {"inputBox", "headphoneBox", "speakerBox"}) {
            QCOMPARE(host->find(box)->property("model").toStringList(), QStringList{VoiceVm::kNoDevice});
            QCOMPARE(host->find(box)->property("displayText").toString(), VoiceVm::kNoDevice);
        }
        pick("driverBox", QStringLiteral("JACK Audio Connection Kit"));
        QCOMPARE(host->find("inputBox")->property("displayText").toString(), QStringLiteral("Default"));
        pick("inputBox", QStringLiteral("loopback"));
        pick("headphoneBox", QStringLiteral("system"));

        host->find("micGainSlider")->forceActiveFocus();
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(&host->view, Qt::Key_Right);
        }
        QTRY_COMPARE(owners->voice.micGain(), 1.5);
        QCOMPARE(host->text("micGainText"), QStringLiteral("1.5 dB"));

        QCOMPARE(host->text("pttKeyText"), QStringLiteral("未设置"));
        host->click(host->find("pttListenButton"));
        QTRY_COMPARE(host->text("pttListenButton"), QStringLiteral("等待按键..."));
        QCOMPARE(color("pttKeyText"), QColor("#EF4444"));
        owners->input.key(0x41, true);
        owners->input.key(0x41, false);
        QTRY_COMPARE(host->text("pttListenButton"), QStringLiteral("设置"));
        QCOMPARE(host->text("pttKeyText"),
                 input::PttService::displayName(input::PttKey(QStringLiteral("kb:65"))));

        host->click(host->find("saveButton"));
        QTRY_COMPARE(vm->saveStatus(), QStringLiteral("已保存到 config.ini"));
        QCOMPARE(
            QVariantList({config->value(ConfigKeys::VoiceDriver), config->value(ConfigKeys::VoiceInputDevice),
                          config->value(ConfigKeys::VoiceOutputHeadphoneDevice),
                          config->value(ConfigKeys::VoiceOutputSpeakerDevice),
                          config->value(ConfigKeys::VoiceMicGain), config->value(ConfigKeys::VoicePttKey)}),
            QVariantList({12, "loopback", "system", "Default", 1.5, "kb:65"}));
        int checked = 0;
        QCOMPARE(host->textsNotPlain(&checked), QStringList());
        QVERIFY(checked > 10);
    }
};

QTEST_MAIN(TestSettingsPage)
#include "tst_settingspage.moc"
