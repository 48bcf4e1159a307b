#include "ui/viewmodel/DashboardViewModel.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using velk::ui::DashboardViewModel;

// The overview's view model: change rules and log; and the
// overview's greeting by hour.
class TstDashboardViewModel : public QObject {
    Q_OBJECT

private slots:
    void settersEmitOnlyOnChange();
    void nanFlightDataAlwaysCountsAsAChange();
    void serverLogStampsLinesAndKeepsTheNewest();
    void listsCompareRecentFlightsButAlwaysEmitLeaderboards();
    void greetingFollowsTheHour_data();
    void greetingFollowsTheHour();
};

void TstDashboardViewModel::settersEmitOnlyOnChange() {
    DashboardViewModel vm;
    QSignalSpy user(&vm, &DashboardViewModel::userInfoChanged);
    QSignalSpy mode(&vm, &DashboardViewModel::currentModeChanged);
    QSignalSpy sim(&vm, &DashboardViewModel::simulatorStateChanged);
    QSignalSpy server(&vm, &DashboardViewModel::serverStateChanged);

    const QStringList info{"pilot", "pilot", "1", "1234567", "1小时 00分", "0小时 0分", ""};
    for (int i = 0; i < 2; ++i) {
        vm.setUserInfo(info[0], info[1], info[2], info[3], info[4], info[5], info[6]);
    }
    QCOMPARE(user.count(), 1);
    vm.setUserInfo(info[0], info[1], info[2], info[3], info[4], info[5], "http://a/b.png");
    QCOMPARE(user.count(), 2);
    QCOMPARE(vm.avatarUrl(), QStringLiteral("http://a/b.png"));

    vm.setCurrentMode("NONE");
    QCOMPARE(mode.count(), 0);
    vm.setCurrentMode("msfs");
    QCOMPARE(mode.count(), 1);

    vm.setSimulatorState(false, "未连接");
    QCOMPARE(sim.count(), 0);
    vm.setSimulatorState(true, "未连接");
    QCOMPARE(sim.count(), 1);
    vm.setServerState(false, "未连接");
    QCOMPARE(server.count(), 0);
    vm.setServerState(false, "连接中...");
    QCOMPARE(server.count(), 1);
}

void TstDashboardViewModel::nanFlightDataAlwaysCountsAsAChange() {
    DashboardViewModel vm;
    QSignalSpy spy(&vm, &DashboardViewModel::flightDataChanged);
    vm.setFlightData(0, 0, 0, 0, 0);
    QCOMPARE(spy.count(), 0);
    vm.setFlightData(31.1, 121.8, 100, 90, 250);
    vm.setFlightData(31.1, 121.8, 100, 90, 250);
    QCOMPARE(spy.count(), 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    vm.setFlightData(nan, 121.8, 100, 90, 250);
    vm.setFlightData(nan, 121.8, 100, 90, 250);
    QCOMPARE(spy.count(), 3);
    QVERIFY(std::isnan(vm.latitude()));
}

void TstDashboardViewModel::serverLogStampsLinesAndKeepsTheNewest() {
    DashboardViewModel vm;
    QDateTime now(QDate(2024, 5, 1), QTime(9, 5, 7, 100));
    vm.setClock([&now] { return now; });
    QSignalSpy spy(&vm, &DashboardViewModel::serverLogChanged);
    vm.appendServerLog("FSD 已连接：ABC123");
    now = now.addMSecs(800);
    vm.appendServerLog("正在断开 FSD 连接...");
    QCOMPARE(spy.count(), 2);
    QCOMPARE(vm.serverLog(),
             QStringLiteral("[09:05:07] FSD 已连接：ABC123\n[09:05:07] 正在断开 FSD 连接...\n"));

    for (int i = 0; i < DashboardViewModel::MaxServerLogLines + 10; ++i) {
        vm.appendServerLog(QStringLiteral("line %1").arg(i));
    }
    const QStringList lines = vm.serverLog().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), DashboardViewModel::MaxServerLogLines);
    QCOMPARE(lines.first(), QStringLiteral("[09:05:07] line 10"));
    QCOMPARE(lines.last(),
             QStringLiteral("[09:05:07] line %1").arg(DashboardViewModel::MaxServerLogLines + 9));
}

void TstDashboardViewModel::listsCompareRecentFlightsButAlwaysEmitLeaderboards() {
    DashboardViewModel vm;
    QSignalSpy flights(&vm, &DashboardViewModel::recentFlightsChanged);
    QSignalSpy boards(&vm, &DashboardViewModel::leaderboardChanged);
    const QVariantList rows{
        QVariantMap{{"callsign", "CES123"}, {"detail", "05-01 09:00"}, {"duration", "1小时 00分"}}};
    vm.setRecentFlights({});
    QCOMPARE(flights.count(), 0);
    vm.setRecentFlights(rows);
    vm.setRecentFlights(QVariantList(rows));
    QCOMPARE(flights.count(), 1);
    const QVariantList board{QVariantMap{{"name", "CID: 1"}, {"hours", 2}}};
    vm.setLeaderboards(board, {});
    vm.setLeaderboards(board, {});
    QCOMPARE(boards.count(), 2);
    QCOMPARE(vm.pilotLeaderboard(), board);
}

void TstDashboardViewModel::greetingFollowsTheHour_data() {
    QTest::addColumn<int>("hour");
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<QString>("subLine");
    QTest::newRow("00:30") << 0 << "半夜好，"
                           << "深夜红眼航班辛苦，落地记得多睡会儿。";
    QTest::newRow("02:00") << 2 << "凌晨好，"
                           << "凌晨还在线？看来你是真爱飞行！";
    QTest::newRow("07:00") << 7 << "早上好，"
                           << "清晨迎着曙光起飞，一天都会很顺～";
    QTest::newRow("10:59") << 10 << "上午好，"
                           << "准备好飞行计划，我们即刻起飞。";
    QTest::newRow("13:59") << 13 << "中午好，"
                           << "午间吃饱喝足，推油门更有底气！";
    QTest::newRow("14:00") << 14 << "下午好，"
                           << "午后精力正好，做个漂亮的落地。";
    QTest::newRow("21:00") << 21 << "晚上好，"
                           << "夜航注意灯光和仪表，还有别打瞌睡。";
    QTest::newRow("23:30") << 23 << "深夜好，"
                           << "夜深了，早点休息，别让执勤期超了哦。";
}

void TstDashboardViewModel::greetingFollowsTheHour() {
    QFETCH(int, hour);
    QFETCH(QString, greeting);
    QFETCH(QString, subLine);
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(QByteArray("import QtQml\nimport \"Greeting.js\" as G\n"
                                 "QtObject { property int hour; readonly property string greeting: "
                                 "G.greeting(hour); readonly property string subLine: G.subLine(hour) }"),
                      QUrl(QStringLiteral("qrc:/src/ui/view/GreetingProbe.qml")));
    std::unique_ptr<QObject> probe(component.createWithInitialProperties({{"hour", hour}}));
    QVERIFY2(probe, qPrintable(component.errorString()));
    QCOMPARE(probe->property("greeting").toString(), greeting);
    QCOMPARE(probe->property("subLine").toString(), subLine);
}

QTEST_MAIN(TstDashboardViewModel)
#include "tst_dashboard_viewmodel.moc"
