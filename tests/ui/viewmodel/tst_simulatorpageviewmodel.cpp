// The simulator page view model fed through the session manager from a fake
// back end, as the main window wires it.
#include "support/SimulatorPageRig.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using velk::test::SimulatorPageRig;
using Vm = velk::ui::SimulatorPageViewModel;

namespace {

QVariantMap contact(const QString& label) {
    return {{QStringLiteral("label"), label}, {QStringLiteral("latitude"), 31.2}};
}

} // namespace

class TestSimulatorPageViewModel : public QObject {
    Q_OBJECT

    std::unique_ptr<SimulatorPageRig> rig;

private slots:
    void init() { rig = std::make_unique<SimulatorPageRig>(); }
    void cleanup() { rig.reset(); }

    void freshInstanceShowsPlaceholders() {
        const QMetaObject* meta = rig->vm->metaObject();
        QCOMPARE(meta->propertyCount() - meta->propertyOffset(), 59);
        QCOMPARE(meta->property(meta->propertyOffset()).name(), "currentMode");
        QCOMPARE(meta->property(meta->propertyCount() - 1).name(), "engineStates");
        const QList<std::pair<const char*, QVariant>> expected = {{"currentMode", "NONE"},
                                                                  {"simulatorDisplayName", "未选择"},
                                                                  {"msfsMode", false},
                                                                  {"xplaneMode", false},
                                                                  {"simulatorStatusText", "未连接"},
                                                                  {"pluginStatusText", "未知"},
                                                                  {"xplaneVersionText", "未获取"},
                                                                  {"com1Frequency", "0.000"},
                                                                  {"transponderCode", "0000"},
                                                                  {"flapsLabel", "0%"},
                                                                  {"activeReceiveLabel", "无"},
                                                                  {"motionSummary", "暂无运动数据"},
                                                                  {"engineSummary", "未检测到发动机"}};
        for (const auto& [name, value] : expected) {
            QCOMPARE(rig->vm->property(name), value);
        }
    }

    void modeSelectsFamilyAndVariant_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("msfs");
        QTest::addColumn<bool>("xplane");
        QTest::newRow("x-plane with blanks") << " xplane "
                                             << "XPLANE"
                                             << "X-Plane" << false << true;
        QTest::newRow("lower-case msfs") << "msfs"
                                         << "MSFS"
                                         << "Microsoft Flight Simulator" << true << false;
        QTest::newRow("empty") << ""
                               << "NONE"
                               << "未选择" << false << false;
        QTest::newRow("voice ATC") << "ATC"
                                   << "ATC"
                                   << "语音管制" << false << false;
        QTest::newRow("unknown") << "P3D"
                                 << "P3D"
                                 << "未选择" << false << false;
    }

    void modeSelectsFamilyAndVariant() {
        QFETCH(QString, mode);
        QFETCH(QString, family);
        QSignalSpy state(rig->vm.get(), &Vm::stateChanged);
        rig->vm->applyMode(mode);
        rig->vm->applyMode(mode);
        QCOMPARE(state.size(), family == "NONE" ? 0 : 1);
        QCOMPARE(rig->vm->simulatorFamily(), family);
        QTEST(rig->vm->simulatorDisplayName(), "name");
        QTEST(rig->vm->msfsMode(), "msfs");
        QTEST(rig->vm->xplaneMode(), "xplane");
        QCOMPARE(rig->vm->currentMode(), QStringLiteral("NONE"));
    }

    void eachChangeIsAnnouncedOnceAndByItsOwnSignal() {
        QSignalSpy data(rig->vm.get(), &Vm::dataChanged);
        QSignalSpy state(rig->vm.get(), &Vm::stateChanged);
        velk::model::RadioStackState radios;
        radios.com1Frequency = 122800;
        rig->sim->setRadioStackState(radios);
        QCOMPARE(data.size(), 1);
        QCOMPARE(rig->vm->com1Frequency(), QStringLiteral("122.800"));
        rig->nm->publishSimulatorData();
        QCOMPARE(data.size(), 1);
        QCOMPARE(state.size(), 0);

        rig->makeDataValid();
        QVERIFY(rig->vm->simulatorConnected());
        QCOMPARE(state.size(), 1);
    }

    void derivedTexts_data() {
        QTest::addColumn<double>("flaps");
        QTest::addColumn<double>("speedbrake");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<int>("engines");
        QTest::addColumn<int>("radioFlags"); // rx1 rx2 tx1 tx2 as bits 0-3
        QTest::addColumn<int>("squawk");
        QTest::addColumn<QStringList>("texts"); // flaps, speed brake, rx, tx, squawk, engines
        QTest::addColumn<double>("storedFlaps");
        QTest::newRow("ratios clamped high")
            << 1.25 << 0.5 << false << 0 << 0 << 0
            << QStringList{"100%", "50%", "无", "无", "0000", "未检测到发动机"} << 1.0;
        QTest::newRow("ratios clamped low, NaN read as 0")
            << -0.2 << std::numeric_limits<double>::quiet_NaN() << false << 2 << 0 << 42
            << QStringList{"0%", "0%", "无", "无", "0042", "2 台发动机 | 2 台运行中"} << 0.0;
        QTest::newRow("armed speed brake, COM2 receiving")
            << 0.3 << 0.4 << true << 6 << 0b0010 << 1200
            << QStringList{"30%", "预位", "COM2 121.500", "无", "1200", "6 台发动机 | 4 台运行中 | 1 台反推"}
            << 0.3;
        QTest::newRow("both radios") << 0.0 << 0.0 << false << 1 << 0b1111 << 7000
                                     << QStringList{"0%",
                                                    "0%",
                                                    "COM1 118.100 / COM2 121.500",
                                                    "COM1 118.100 / COM2 121.500",
                                                    "7000",
                                                    "1 台发动机 | 1 台运行中"}
                                     << 0.0;
    }

    void derivedTexts() {
        QFETCH(double, flaps);
        QFETCH(double, speedbrake);
        QFETCH(bool, armed);
        QFETCH(int, engines);
        QFETCH(int, radioFlags);
        QFETCH(int, squawk);
        velk::model::UserAircraftConfigData config;
        config.flapsRatio = flaps;
        config.speedbrakeRatio = speedbrake;
        config.speedbrakeArmed = armed;
        config.engineCount = engines;
        config.engine1Running = config.engine2Running = config.engine3Running = config.engine4Running = true;
        config.engine2Reversing = engines > 2;
        rig->sim->setUserAircraftConfigData(config);
        velk::model::RadioStackState radios;
        radios.com1Frequency = 118100;
        radios.com2Frequency = 121500;
        radios.com1ReceiveEnabled = radioFlags & 1;
        radios.com2ReceiveEnabled = radioFlags & 2;
        radios.com1TransmitEnabled = radioFlags & 4;
        radios.com2TransmitEnabled = radioFlags & 8;
        radios.transponderCode = static_cast<quint16>(squawk);
        rig->sim->setRadioStackState(radios);

        const Vm& vm = *rig->vm;
        QTEST(QStringList({vm.flapsLabel(), vm.speedbrakeLabel(), vm.activeReceiveLabel(),
                           vm.activeTransmitLabel(), vm.transponderCode(), vm.engineSummary()}),
              "texts");
        QTEST(vm.flapsRatio(), "storedFlaps");
        QCOMPARE(vm.engineStates().size(), std::min(engines, 4));
        if (engines > 2) {
            const QVariantMap second = vm.engineStates().at(1).toMap();
            QCOMPARE(second.value("label"), QVariant("ENG2"));
            QCOMPARE(second.value("index"), QVariant(2));
            QCOMPARE(second.value("reversing"), QVariant(true));
        }
    }

    void trafficSnapshotReplacesTheListAndTheSummaryUntilTheNextUpdate() {
        QSignalSpy traffic(rig->vm.get(), &Vm::trafficChanged);
        QSignalSpy data(rig->vm.get(), &Vm::dataChanged);
        const QVariantList three = {contact("CES1"), contact("DLH2"), contact("OBJ-7")};
        emit rig->sim->trafficSnapshotChanged(three);
        emit rig->sim->trafficSnapshotChanged(three);
        QCOMPARE(traffic.size(), 1);
        QCOMPARE(data.size(), 1);
        QCOMPARE(rig->vm->trafficContacts(), three);
        QCOMPARE(rig->vm->motionSummary(), QStringLiteral("附近 3 个交通目标"));
        rig->makeDataValid();
        QCOMPARE(rig->vm->motionSummary(), QStringLiteral("地速 12.5 节 | 垂直速度 0.00 m/s | 前轮角 0.0°"));
        emit rig->sim->trafficSnapshotChanged({});
        QCOMPARE(rig->vm->motionSummary(), QStringLiteral("附近暂无交通目标"));
    }

    void statusTextsFollowTheBackEnd() {
        QSignalSpy state(rig->vm.get(), &Vm::stateChanged);
        emit rig->sim->pluginVersionChecked(true);
        emit rig->sim->cslValidationChecked(false);
        emit rig->sim->trafficMappingStatusChanged(QStringLiteral("  X-Plane CSL 有效 "));
        emit rig->sim->xplaneVersionUpdated(120100);
        QCOMPARE(state.size(), 4);
        QCOMPARE(rig->vm->pluginStatusText(), QStringLiteral("有效"));
        QCOMPARE(rig->vm->cslStatusText(), QStringLiteral("无效"));
        QCOMPARE(rig->vm->trafficMappingStatusText(), QStringLiteral("X-Plane CSL 有效"));
        QCOMPARE(rig->vm->xplaneVersionText(), QStringLiteral("X-Plane 120100"));
        emit rig->sim->trafficMappingStatusChanged(QStringLiteral("  "));
        emit rig->sim->xplaneVersionUpdated(0);
        QCOMPARE(rig->vm->trafficMappingStatusText(), QStringLiteral("未知"));
        QCOMPARE(rig->vm->xplaneVersionText(), QStringLiteral("未获取"));
    }

    void comRequestsOnlyInsideTheBand_data() {
        QTest::addColumn<double>("mhz");
        QTest::addColumn<bool>("sent");
        QTest::newRow("121.8") << 121.8 << true;
        QTest::newRow("band start") << 118.0 << true;
        QTest::newRow("band end") << 136.99 << true;
        QTest::newRow("zero") << 0.0 << false;
        QTest::newRow("just below") << 117.995 << false;
        QTest::newRow("137") << 137.0 << false;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false;
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << false;
    }

    void comRequestsOnlyInsideTheBand() {
        QFETCH(double, mhz);
        QFETCH(bool, sent);
        QCOMPARE(rig->vm->requestSetCom1Frequency(mhz), sent);
        QCOMPARE(rig->vm->requestSetCom2Frequency(mhz), sent);
        QCOMPARE(rig->sim->count("setCom1Frequency"), sent ? 1 : 0);
        QCOMPARE(rig->sim->count("setCom2Frequency"), sent ? 1 : 0);
        if (sent) {
            QCOMPARE(rig->sim->callsTo("setCom1Frequency").first().args.first().toFloat(), float(mhz));
        }
    }

    void transponderAndReconnectRequests() {
        QSignalSpy code(rig->vm.get(), &Vm::setTransponderCodeRequested);
        QSignalSpy ident(rig->vm.get(), &Vm::transponderIdentRequested);
        QSignalSpy mode(rig->vm.get(), &Vm::transponderModeToggleRequested);
        rig->vm->requestSetTransponderCode(QStringLiteral("  "));
        rig->vm->requestSetTransponderCode(QStringLiteral(" 7000 "));
        rig->vm->requestTransponderIdent();
        rig->vm->requestTransponderModeToggle();
        rig->vm->requestReconnect();
        QCOMPARE(code.size(), 1);
        QCOMPARE(code.first().first().toString(), QStringLiteral(" 7000 "));
        QCOMPARE(ident.size() + mode.size(), 2);
        QCOMPARE(rig->sim->count("reconnectSimulator"), 1);
    }
};

QTEST_GUILESS_MAIN(TestSimulatorPageViewModel)
#include "tst_simulatorpageviewmodel.moc"
