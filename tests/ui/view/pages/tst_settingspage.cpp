// The settings page loaded standalone over the program's own config.ini:
// navigation, fields that keep what is typed, save results on the status
// line, and the MSFS rescan reaching the simulator page's view model.
#include "AppConfig.h"
#include "manager/NetworkManager.h"
#include "simulator/msfs/MsfsAdapter.h"
#include "support/QmlWarningGuard.h"
#include "support/QuickPageHost.h"
#include "ui/viewmodel/SettingsViewModel.h"
#include "ui/viewmodel/SimulatorPageViewModel.h"

#include <QColor>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSettings>
#include <QTest>

using namespace velk;
using test::QuickPageHost;
using Vm = ui::viewmodel::SettingsViewModel;

namespace {
const QUrl kPage(QStringLiteral("qrc:/src/ui/view/pages/SettingsPage.qml"));
} // namespace

class TestSettingsPage : public QObject {
    Q_OBJECT

    AppConfig* config = AppConfig::instance();
    std::unique_ptr<test::QmlWarningGuard> warnings;
    std::unique_ptr<Vm> vm;
    std::unique_ptr<QuickPageHost> host;

    void open(int section) {
        host->click(host->find(QStringLiteral("navEntry%1").arg(section)));
        QTRY_COMPARE(host->view.rootObject()->property("currentNavIndex").toInt(), section);
    }

private slots:
    void initTestCase() {
        qmlRegisterUncreatableType<Vm>("com.morvane.backend", 1, 0, "SettingsBackend",
                                       QStringLiteral("view model"));
    }

    void init() {
        warnings = std::make_unique<test::QmlWarningGuard>();
        config->setValues(ConfigKeys::XPlaneUDPPort, 49000, ConfigKeys::XPlaneCSL, QStringList{},
                          ConfigKeys::ProfileRealname, QStringLiteral("Wang Wu"));
        vm = std::make_unique<Vm>(nullptr);
        host = std::make_unique<QuickPageHost>(
            kPage, QList<QPair<QString, QObject*>>{{"settingsBackend", vm.get()}}, QSize(1100, 760));
        QVERIFY(host->ready());
        host->view.rootObject()->setProperty("settingsBackend", QVariant::fromValue<QObject*>(vm.get()));
    }

    void cleanup() {
        host.reset();
        vm.reset();
        const QStringList seen = warnings->warnings();
        warnings.reset();
        QCOMPARE(seen, QStringList());
    }

    void withoutABackEndEveryControlIsInert() {
        QuickPageHost bare(kPage, {});
        QVERIFY(bare.ready());
        QVERIFY(!bare.find("usernameField")->isEnabled() && !bare.find("saveButton")->isEnabled());
        bare.click(bare.find("navEntry4"));
        QTRY_VERIFY(bare.find("navEntry4"));
        QCOMPARE(bare.findAll("buildInfoLine").size(), 0);
    }

    void typedBlanksStayAndTheSaveReachesConfigIni() {
        QCOMPARE(host->text("realnameField"), QStringLiteral("Wang Wu"));
        host->type(host->find("realnameField"), QStringLiteral("Zhang San "));
        QCOMPARE(host->text("realnameField"), QStringLiteral("Zhang San "));
        QCOMPARE(vm->realname(), QStringLiteral("Zhang San"));

        open(1);
        QVERIFY(!host->find("usernameField"));
        QCOMPARE(host->text("xplanePortBox"), QString()); // a spin box has a value, not a text
        QCOMPARE(host->find("xplanePortBox")->property("displayText").toString(), QStringLiteral("49000"));
        host->type(host->find("xplaneCslArea"), QStringLiteral("A;B, C"));
        QCOMPARE(vm->xplaneCslPathsText(), QStringLiteral("A;B, C"));

        host->click(host->find("saveButton"));
        QTRY_COMPARE(host->text("saveStatus"), QStringLiteral("已保存到 config.ini"));
        QCOMPARE(host->find("saveStatus")->property("color").value<QColor>(), QColor("#0EA5E9"));
        QCOMPARE(config->value(ConfigKeys::XPlaneCSL), (QStringList{"A", "B, C"}));
        QCOMPARE(config->value(ConfigKeys::ProfileRealname), QStringLiteral("Zhang San"));

        vm->setXplaneUdpPort(0);
        host->click(host->find("saveButton"));
        QTRY_COMPARE(host->text("saveStatus"),
                     QStringLiteral("保存失败：X-Plane UDP 端口无效（应为 1 至 65535）"));
        QCOMPARE(host->find("saveStatus")->property("color").value<QColor>(), QColor("#F43F5E"));

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
};

QTEST_MAIN(TestSettingsPage)
#include "tst_settingspage.moc"
