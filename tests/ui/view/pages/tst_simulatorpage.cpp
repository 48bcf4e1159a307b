// The simulator page loaded standalone, fed from a fake simulator through the
// session manager and the view model.
#include "support/QmlWarningGuard.h"
#include "support/QuickPageHost.h"
#include "support/SimulatorPageRig.h"

#include <QColor>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>

using velk::test::QuickPageHost;

namespace {

const QUrl kPage(QStringLiteral("qrc:/src/ui/view/pages/SimulatorPage.qml"));

} // namespace

class TestSimulatorPage : public QObject {
    Q_OBJECT

    std::unique_ptr<velk::test::QmlWarningGuard> warnings;
    std::unique_ptr<velk::test::SimulatorPageRig> rig;
    std::unique_ptr<QuickPageHost> host;

    // Every text on the page is plain text, so network and simulator texts
    // can never fetch or render markup.
    void verifyAllTextIsPlain() {
        int checked = 0;
        QCOMPARE(host->textsNotPlain(&checked), QStringList());
        QVERIFY(checked > 20);
    }

    void connectMsfs() {
        rig->vm->applyMode(QStringLiteral("MSFS"));
        rig->makeDataValid();
        QTRY_VERIFY(host->find("msfsSection"));
    }

private slots:
    void init() {
        warnings = std::make_unique<velk::test::QmlWarningGuard>();
        rig = std::make_unique<velk::test::SimulatorPageRig>();
        host = std::make_unique<QuickPageHost>(
            kPage, QList<QPair<QString, QObject*>>{{"simulatorBackend", rig->vm.get()}});
        QVERIFY(host->ready());
    }

    void cleanup() {
        host.reset();
        rig.reset();
        const QStringList seen = warnings->warnings();
        warnings.reset();
        QCOMPARE(seen, QStringList());
    }

    void withoutABackEndThePageShowsItsFallbacks() {
        QuickPageHost bare(kPage, {});
        QVERIFY(bare.ready());
        QCOMPARE(bare.text("simulatorName"), QStringLiteral("Microsoft Flight Simulator"));
        QCOMPARE(bare.text("simulatorStatus"), QStringLiteral("未连接"));
        bare.click(bare.find("reconnectButton"));
    }

    void withoutConnectionOnlyTheSummaryShows_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("colour");
        QTest::newRow("not connected") << "未连接"
                                       << "#F43F5E";
        QTest::newRow("connecting") << "连接中..."
                                    << "#F59E0B";
        QTest::newRow("failure") << "SimConnect 打开失败"
                                 << "#F43F5E";
    }

    void withoutConnectionOnlyTheSummaryShows() {
        QFETCH(QString, status);
        QFETCH(QString, colour);
        rig->vm->setSimulatorConnected(false, status);
        QTRY_COMPARE(host->text("simulatorStatus"), status);
        QCOMPARE(host->find("simulatorStatus")->property("color").value<QColor>(), QColor(colour));
        QCOMPARE(host->text("reconnectButton"), QStringLiteral("连接"));
        QVERIFY(!host->find("headerStatusCard"));
        QVERIFY(!host->find("msfsSection") && !host->find("xplaneSection"));
        host->click(host->find("reconnectButton"));
        QCOMPARE(rig->sim->count("reconnectSimulator"), 1);
    }

    void msfsVariantShowsTheFakeSimulatorsAircraft() {
        connectMsfs();
        velk::model::RadioStackState radios;
        radios.com1Frequency = 122800;
        radios.transponderCode = 4521;
        rig->sim->setRadioStackState(radios);
        velk::model::UserAircraftConfigData config;
        config.flapsRatio = 0.5;
        config.engineCount = 2;
        config.engine1Running = config.engine1Reversing = true;
        rig->sim->setUserAircraftConfigData(config);

        QTRY_COMPARE(host->find("com1Frequency")->property("value").toString(), QStringLiteral("122.800"));
        QCOMPARE(host->find("transponder")->property("value").toString(), QStringLiteral("4521"));
        QCOMPARE(host->find("flaps")->property("value").toString(), QStringLiteral("50%"));
        QCOMPARE(host->find("pressureAltitude")->property("value").toString(), QStringLiteral("0.0 ft"));
        QCOMPARE(host->text("modePillText"), QStringLiteral("MSFS"));
        QCOMPARE(host->text("reconnectButton"), QStringLiteral("重连"));
        QCOMPARE(host->findAll("headerRow").size(), 6);
        QCOMPARE(host->findAll("engineRow").size(), 2);
        QCOMPARE(host->findAll("engineReverse").size(), 1);
        QCOMPARE(host->text("engineRunning"), QStringLiteral("运行中"));
        verifyAllTextIsPlain();
    }

    void trafficRowsFallBackWhereTheBackEndLeavesGaps() {
        connectMsfs();
        const QString markup = QStringLiteral("<img src=\"http://127.0.0.1:9/x.png\"><b>CES1</b>");
        emit rig->sim->trafficSnapshotChanged(
            {QVariantMap{
                 {"label", markup}, {"latitude", 31.14342}, {"longitude", 121.8052}, {"altitudeFeet", 0.0}},
             QVariantMap{{"objectId", 7}}});
        QTRY_COMPARE(host->findAll("trafficRow").size(), 2);
        const auto labels = host->findAll("trafficLabel");
        const auto positions = host->findAll("trafficPosition");
        QCOMPARE(labels.at(0)->property("text").toString(), markup);
        QCOMPARE(labels.at(1)->property("text").toString(), QStringLiteral("目标"));
        QCOMPARE(positions.at(0)->property("text").toString(), QStringLiteral("31.143, 121.805"));
        QCOMPARE(positions.at(1)->property("text").toString(), QStringLiteral("--"));
        for (QQuickItem* altitude : host->findAll("trafficAltitude")) {
            QCOMPARE(altitude->property("text").toString(), QStringLiteral("--"));
        }
        verifyAllTextIsPlain();
    }

    void comEntriesReachTheSimulatorOnlyInsideTheBand_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("sent");
        QTest::newRow("121.8") << "121.8" << true;
        QTest::newRow("text") << "abc" << false;
        QTest::newRow("zero") << "0" << false;
        QTest::newRow("negative") << "-5" << false;
        QTest::newRow("infinity") << "Infinity" << false;
        QTest::newRow("1e9") << "1e9" << false;
        QTest::newRow("five") << "5" << false;
    }

    void comEntriesReachTheSimulatorOnlyInsideTheBand() {
        QFETCH(QString, entry);
        QFETCH(bool, sent);
        connectMsfs();
        host->type(host->find("com1Field"), entry);
        host->click(host->find("com1WriteButton"));
        QCOMPARE(rig->sim->count("setCom1Frequency"), sent ? 1 : 0);
        if (sent) {
            QCOMPARE(rig->sim->callsTo("setCom1Frequency").first().args.first().toFloat(), 121.8f);
        }
        QCOMPARE(host->find("com1Hint") != nullptr, !sent);
        QCOMPARE(host->text("com1Field"), entry);
    }

    void xplaneVariantAndNoSimulatorChosen_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("pill");
        QTest::newRow("x-plane") << "XPLANE"
                                 << "X-Plane";
        QTest::newRow("none") << "NONE"
                              << "NONE";
    }

    void xplaneVariantAndNoSimulatorChosen() {
        QFETCH(QString, mode);
        QFETCH(QString, pill);
        rig->vm->applyMode(mode);
        emit rig->sim->pluginVersionChecked(true);
        velk::model::UserAircraftConfigData config;
        config.engineCount = 1;
        config.engine1Running = config.engine1Reversing = true;
        rig->sim->setUserAircraftConfigData(config);
        rig->makeDataValid();
        QTRY_VERIFY(host->find("xplaneSection"));
        QCOMPARE(host->text("modePillText"), pill);
        QCOMPARE(host->findAll("headerRow").size(), 7);
        QCOMPARE(host->findAll("headerRow").first()->property("value").toString(), QStringLiteral("有效"));
        QCOMPARE(host->findAll("engineRow").size(), 1);
        QVERIFY(!host->find("engineReverse"));
        host->type(host->find("com2Field"), QStringLiteral("124.55"));
        QTest::keyClick(&host->view, Qt::Key_Return);
        QCOMPARE(rig->sim->count("setCom2Frequency"), 1);
        verifyAllTextIsPlain();
    }
};

QTEST_MAIN(TestSimulatorPage)
#include "tst_simulatorpage.moc"
