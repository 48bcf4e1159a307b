#include "manager/ControllerManager.h"
#include "network/ApiService.h"
#include "support/DemoAccount.h"
#include "support/FakeInputSource.h"
#include "support/JackRig.h"
#include "support/QmlWarningGuard.h"
#include "support/QuickItems.h"
#include "support/SessionFixture.h"
#include "support/VoiceTestServer.h"
#include "ui/MainWindow.h"
#include "ui/QmlTypes.h"
#include "ui/viewmodel/DashboardViewModel.h"
#include "ui/viewmodel/MessageChannels.h"
#include "ui/viewmodel/ServerPageViewModel.h"
#include "ui/viewmodel/SettingsViewModel.h"
#include "ui/viewmodel/VoiceServiceViewModel.h"
#include "ui/viewmodel/VoiceSettingsViewModel.h"
#include "voice/AudioHandler.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace velk;
using test::DemoAccount;
using test::WebApiTestServer;
using ui::DashboardViewModel;
using ui::MainWindow;

namespace {

class MessagesStandIn : public QObject {
    Q_OBJECT
    Q_PROPERTY(int unreadCount MEMBER unreadCount NOTIFY changed)

public:
    int unreadCount = 0;

signals:
    void changed();
};

} // namespace

// The dashboard window offscreen, against the web-API, FSD and voice test
// servers, the fake simulator, a fake input source and the JACK rig.
class TstMainWindow : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};
    bool rigUp = false;
    test::FakeInputSource input;
    test::VoiceTestServer voiceServer;
    test::SessionHarness h;
    std::unique_ptr<WebApiTestServer> api;
    std::shared_ptr<manager::ControllerManager> controllers;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<test::QmlWarningGuard> guard;

    QQuickView* view() const { return window->quickView(); }
    DashboardViewModel* overview() const { return window->dashboardViewModel(); }
    QObject* find(const QString& name) const;
    void click(const QString& name) const;
    void screenshot(const QString& name) const;
    void createWindow();
    void chooseMsfs();
    void open(const QString& section) const;
    // Connects the voice page to the voice test server (no welcome, so no audio starts).
    void connectVoice() const;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowOpensOnThePlatformChoice();
    void platformChoiceAndBackDriveTheSession();
    void sidebarLoadsEveryPage();
    void overviewConnectReachesTheFsdServer();
    void sessionEventsReachTheOverview();
    void accountRepliesFillTheOverview();
    void failedLoadsEndWithDashesAndKeepRows();
    void accountLoadsOnTheFirstShowOnly();
    void replyAfterTheWindowIsGoneDoesNothing();
    void simulatorRequests_data();
    void simulatorRequests();
    void messageSoundVolumes_data();
    void messageSoundVolumes();
    void miniWindowPttReleases_data();
    void miniWindowPttReleases();
    void miniWindowHandsBackToTheDashboard_data();
    void miniWindowHandsBackToTheDashboard();
    void pttKeyReachesTheVoiceClient();
    void audioEngineGetsTheChosenDevices_data();
    void audioEngineGetsTheChosenDevices();
    void messagesBadge();
    void pagesEndToEnd_data();
    void pagesEndToEnd();
};

QObject* TstMainWindow::find(const QString& name) const {
    // The dashboard's view (embedded) and the mini window, a window of its own.
    QWindowList windows = QGuiApplication::topLevelWindows();
    windows.prepend(view());
    for (QWindow* w : windows) {
        auto* quick = qobject_cast<QQuickWindow*>(w);
        if (QQuickItem* item = quick ? test::findVisual(quick->contentItem(), name) : nullptr) {
            return item;
        }
    }
    return nullptr;
}

void TstMainWindow::click(const QString& name) const {
    auto* item = qobject_cast<QQuickItem*>(find(name));
    QVERIFY2(item, qPrintable(name));
    const QPoint centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    QTest::mouseClick(item->window(), Qt::LeftButton, {}, centre);
}

void TstMainWindow::screenshot(const QString& name) const {
    QDir().mkpath(test::appDir() + "/screenshots");
    QVERIFY(view()->grabWindow().save(test::appDir() + "/screenshots/" + name + ".png"));
}

void TstMainWindow::initTestCase() {
    // Only the rows with audio need the rig: without jackd the others still run.
    if (JackRig::jackdAvailable()) {
        QString error;
        QVERIFY2(rig.start(&error), qPrintable(error));
        QVERIFY(rig.holdPortAudio() && JackRig::device("loopback") >= 0);
        rigUp = true;
    } else if (JackRig::required()) {
        QFAIL("jackd is missing but VELK_REQUIRE_AUDIO_RIG=1");
    }
    JackRig::writeVoiceConfig();
    QVERIFY(voiceServer.listen());
    ui::registerQmlTypes();
    QVERIFY(h.startServer());
    test::SessionHarness::configure(false);
    api = std::make_unique<WebApiTestServer>();
    DemoAccount::install(*api);
    network::ApiService::instance()->setBaseUrl(api->url());
    bool done = false;
    network::ApiService::instance()->login("pilot01", "secret",
                                           [&done](bool ok, const QString&) { done = ok; });
    QTRY_VERIFY(done);
}

void TstMainWindow::init() {
    guard = std::make_unique<test::QmlWarningGuard>();
    h.create();
    h.nm->voiceClient()->transport()->setServer(voiceServer.server());
    h.bindValidSimulator();
    controllers = std::make_shared<manager::ControllerManager>(h.nm);
    api->clearRequests();
}

void TstMainWindow::cleanup() {
    window.reset();
    controllers.reset();
    h.destroy();
    const QStringList warnings = guard->warnings();
    guard.reset();
    QCOMPARE(warnings, QStringList());
}

void TstMainWindow::createWindow() {
    window = std::make_unique<MainWindow>(h.nm, controllers);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(view()));
}

void TstMainWindow::chooseMsfs() {
    QSignalSpy msfs(window.get(), &MainWindow::msfsSelected);
    click("modeCardMsfs");
    QCOMPARE(msfs.count(), 1);
    QTRY_VERIFY(find("mainDashboard"));
}

void TstMainWindow::open(const QString& section) const {
    click("menu_" + section);
    QTRY_VERIFY2(find("page_" + section), qPrintable(section));
}

void TstMainWindow::connectVoice() const {
    click("connectButton");
    QTRY_VERIFY(window->voiceServiceViewModel()->connected());
}

void TstMainWindow::windowOpensOnThePlatformChoice() {
    createWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("VELK Client - 控制面板"));
    QCOMPARE(window->minimumSize(), QSize(1000, 700));
    QVERIFY(find("modeSelection"));
    QCOMPARE(find("modeTitle")->property("text").toString(), QStringLiteral("请选择飞行模拟平台"));
    QTRY_COMPARE(find("modeUsername")->property("text").toString(), QStringLiteral("pilot01"));
    QCOMPARE(test::textsNotPlain(view()->contentItem()), QStringList());
    screenshot("platform-choice");
    // Lower case is not a platform.
    overview()->setCurrentMode("msfs");
    QVERIFY(find("modeSelection"));
    QVERIFY(!find("mainDashboard"));
}

void TstMainWindow::platformChoiceAndBackDriveTheSession() {
    createWindow();
    QVERIFY(h.loginObserver());
    // What the overview shows first; the back end may already have answered.
    QStringList shown;
    const QMetaObject::Connection watch = connect(overview(), &DashboardViewModel::simulatorStateChanged,
                                                  this, [&] { shown << overview()->simulatorStatusText(); });
    chooseMsfs();
    QCOMPARE(window->currentMode(), QStringLiteral("MSFS"));
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.first(), QStringLiteral("连接中..."));
    disconnect(watch);
    // A platform choice first ends the FSD session.
    QVERIFY(h.server.waitForLineStartingWith("#DAABC_OBS"));
    QTRY_VERIFY(find("page_dashboard"));
    screenshot("dashboard-overview");

    QVERIFY(h.loginObserver());
    click("backButton");
    QTRY_VERIFY(find("modeSelection"));
    QCOMPARE(overview()->currentMode(), QStringLiteral("NONE"));
    QVERIFY(h.server.waitForLineStartingWith("#DAABC_OBS"));
    QVERIFY(h.nm->simulator()); // the back end stays

    // Choosing again opens on the overview; each choice is announced and
    // leaves voice alone. Voice without FSD ends on the way back too.
    chooseMsfs();
    QVERIFY(find("page_dashboard"));
    voice::VoiceClient* voice = h.nm->voiceClient();
    voice->connectToServer(QStringLiteral("token"));
    QTRY_VERIFY(window->voiceServiceViewModel()->connected());
    QSignalSpy msfs(window.get(), &MainWindow::msfsSelected);
    window->onModeSelected("MSFS");
    QCOMPARE(msfs.count(), 1);
    QVERIFY(window->voiceServiceViewModel()->connected());
    click("backButton");
    QTRY_VERIFY(find("modeSelection"));
    QCOMPARE(voice->connectionState(), voice::ConnectionState::Disconnected);
    QVERIFY(!window->voiceServiceViewModel()->connected());
    chooseMsfs();
    voice->connectToServer(QStringLiteral("token"));
    QTRY_VERIFY(window->voiceServiceViewModel()->connected());
}

void TstMainWindow::sidebarLoadsEveryPage() {
    createWindow();
    chooseMsfs();
    for (const QString key : {"simulator", "server", "voice", "messages", "settings", "dashboard"}) {
        open(key);
        QCOMPARE(find("mainDashboard")->property("currentSection").toString(), key);
        QVERIFY(find("menu_" + key)->property("selected").toBool());
        QCOMPARE(test::textsNotPlain(view()->contentItem()), QStringList());
        screenshot("section-" + key);
        if (key == "voice") {
            QCOMPARE(find("page_voice")->property("voiceServiceBackend").value<QObject*>(),
                     window->voiceServiceViewModel());
            QVERIFY(find("connectButton"));
        } else if (key == "settings") {
            QCOMPARE(find("page_settings")->property("settingsBackend").value<QObject*>(),
                     window->settingsViewModel());
            QCOMPARE(find("page_settings")->property("voiceSettingsBackend").value<QObject*>(),
                     window->voiceSettingsViewModel());
            QVERIFY(find("saveButton")->property("enabled").toBool());
        }
    }
}

void TstMainWindow::overviewConnectReachesTheFsdServer() {
    createWindow();
    QVERIFY(QMetaObject::invokeMethod(overview(), "requestServerConnect", Q_ARG(QString, "ABC123"),
                                      Q_ARG(QString, "A320"), Q_ARG(QString, "AB-CD"), Q_ARG(bool, false)));
    QCOMPARE(overview()->serverStatusText(), QStringLiteral("连接中..."));
    QVERIFY(overview()->serverLog().contains(
        QStringLiteral("正在连接 FSD 127.0.0.1:%1，呼号=ABC123，机型=A320，观察员模式=否\n")
            .arg(h.server.port())));
    QVERIFY(h.server.waitForLineStartingWith("#APABC123:SERVER:"));
    h.server.sendLine("$CRSERVER:ABC123:IP:10.0.0.1");
    QTRY_COMPARE(overview()->serverStatusText(), QStringLiteral("已连接"));
    QVERIFY(overview()->serverConnected());
    QVERIFY(overview()->serverLog().contains(QStringLiteral("FSD 已连接：ABC123\n")));
    QCOMPARE(window->mediaPlayer()->source(), QUrl(MainWindow::ConnectSound));
    // A second connect is refused and leaves the open session as shown.
    overview()->requestServerConnect("ABC123", "A320", "", false);
    QCOMPARE(overview()->serverStatusText(), QStringLiteral("已连接"));
    QVERIFY(window->serverViewModel()->formLocked());

    overview()->requestServerDisconnect();
    QVERIFY(overview()->serverLog().contains(QStringLiteral("正在断开 FSD 连接...\n")));
    QTRY_COMPARE(overview()->serverStatusText(), QStringLiteral("已断开"));
    QCOMPARE(window->mediaPlayer()->source(), QUrl(MainWindow::DisconnectSound));

    // A refused connect (already observer-less pilot without a callsign) leaves "未连接".
    overview()->requestServerConnect("", "A320", "", false);
    QCOMPARE(overview()->serverStatusText(), QStringLiteral("未连接"));
    // Nothing to end: no "断开中..." that no event would clear.
    overview()->requestServerDisconnect();
    QCOMPARE(overview()->serverStatusText(), QStringLiteral("未连接"));
}

void TstMainWindow::sessionEventsReachTheOverview() {
    createWindow();
    emit h.nm->networkDisconnected(true);
    QCOMPARE(overview()->serverStatusText(), QStringLiteral("已断开（强制）"));
    QVERIFY(overview()->serverLog().endsWith(QStringLiteral("FSD 已断开：已断开（强制）\n")));

    emit h.nm->simulatorConnectionFailed("SimConnect 未找到");
    QCOMPARE(overview()->simulatorStatusText(), QStringLiteral("SimConnect 未找到"));
    // Data keeps a failure message in place but still moves the aircraft.
    model::UserAircraftData data;
    for (double latitude : {31.5, 31.6, 31.7}) {
        data.latitude = latitude;
        h.sim->setUserAircraftData(data);
    }
    QTRY_COMPARE(overview()->latitude(), 31.7);
    QCOMPARE(overview()->simulatorStatusText(), QStringLiteral("SimConnect 未找到"));

    emit h.nm->simulatorConnectionStateChanged(false);
    QCOMPARE(overview()->simulatorStatusText(), QStringLiteral("未连接"));
    data.latitude = 32.0;
    h.sim->setUserAircraftData(data);
    QTRY_COMPARE(overview()->simulatorStatusText(), QStringLiteral("已连接"));
    QVERIFY(overview()->simulatorConnected());

    emit h.nm->notificationPosted("Connected to network.", common::MessageType::Info);
    QVERIFY(overview()->serverLog().endsWith(QStringLiteral("Connected to network.\n")));

    // A lost voice connection is told outside the voice page too.
    h.nm->voiceClient()->connectToServer("jwt.token");
    QTRY_VERIFY(window->voiceServiceViewModel()->connected());
    voiceServer.control().closeClient();
    const QString lost = QStringLiteral("语音已断开：Voice server closed the connection\n");
    QTRY_VERIFY(window->serverViewModel()->serverLog().endsWith(lost));
    QVERIFY(overview()->serverLog().endsWith(lost));
    // Where the server said why, its reason is told.
    h.nm->voiceClient()->connectToServer("jwt.token");
    QTRY_VERIFY(window->voiceServiceViewModel()->connected());
    QTest::ignoreMessage(QtWarningMsg, "VoiceClient: server error: Authentication failed");
    voiceServer.sendMessage("error", "Authentication failed");
    voiceServer.control().closeClient();
    const QString refused = QStringLiteral("语音已断开：Authentication failed\n");
    QTRY_VERIFY(window->serverViewModel()->serverLog().endsWith(refused));
    QVERIFY(overview()->serverLog().endsWith(refused));
    QCOMPARE(overview()->serverLog().count(QStringLiteral("语音已断开")), 2);
}

void TstMainWindow::accountRepliesFillTheOverview() {
    createWindow();
    QTRY_COMPARE(overview()->pilotTime(), QStringLiteral("1小时 01分"));
    QCOMPARE(overview()->atcTime(), QStringLiteral("0小时 00分"));
    QCOMPARE(overview()->cid(), QString::number(DemoAccount::Cid));
    QCOMPARE(overview()->rating(), QStringLiteral("2"));
    QTRY_COMPARE(overview()->recentFlights().size(), MainWindow::RecentFlightCount);
    const QVariantMap first = overview()->recentFlights().first().toMap();
    QCOMPARE(first.value("callsign").toString(), QStringLiteral("CES100"));
    QCOMPARE(first.value("duration").toString(), QStringLiteral("1小时 30分"));
    QCOMPARE(first.value("detail").toString(),
             MainWindow::formatFlightWindow(QDateTime(QDate(2024, 5, 1), QTime(9, 0), Qt::UTC),
                                            QDateTime(QDate(2024, 5, 1), QTime(10, 30), Qt::UTC)));
    QTRY_COMPARE(overview()->pilotLeaderboard().size(), 2);
    const QVariantMap top = overview()->pilotLeaderboard().first().toMap();
    QCOMPARE(top, (QVariantMap{{"name", "CID: 1234"}, {"hours", 1}}));
    QCOMPARE(overview()->atcLeaderboard().first().toMap().value("hours").toInt(), 0);

    chooseMsfs();
    QTRY_COMPARE(find("recentFlightsList")->property("count").toInt(), MainWindow::RecentFlightCount);
    QTRY_COMPARE(find("pilotLeaderboardList")->property("count").toInt(), 2);
    QVERIFY(!find("recentFlightsEmpty")->property("visible").toBool());
    QCOMPARE(find("tilePilotTime")->property("value").toString(), QStringLiteral("1小时 01分"));
    QTRY_VERIFY(find("overviewAvatar")->property("drawn").toBool());
    // Names, callsigns and times come from the network: never read as markup.
    int checked = 0;
    QCOMPARE(test::textsNotPlain(view()->contentItem(), &checked), QStringList());
    QVERIFY(checked > 40);
    screenshot("dashboard-account");

    // Formatting rules the overview relies on.
    QCOMPARE(MainWindow::formatDuration(0), QStringLiteral("0小时 0分"));
    QCOMPARE(MainWindow::formatDuration(59), QStringLiteral("0小时 00分"));
    QCOMPARE(MainWindow::formatDuration(3 * 3600 + 5 * 60), QStringLiteral("3小时 05分"));
    const QDateTime start(QDate(2024, 1, 2), QTime(3, 4));
    QCOMPARE(MainWindow::formatFlightWindow(start, {}), QStringLiteral("01-02 03:04"));
    QCOMPARE(MainWindow::formatFlightWindow({}, start), QStringLiteral("时间未知"));
    QCOMPARE(ui::messages::frequencyTexts({118000, 121500}), (QStringList{"118.000", "121.500"}));
    QCOMPARE(MainWindow::frequenciesOf(QVariant::fromValue(QVariantList{118000, 121500})),
             (QList<uint>{118000, 121500}));
    const QJsonArray huge{QJsonObject{{"cid", "7"}, {"time", 1e300}}};
    QCOMPARE(MainWindow::buildLeaderboardList(huge).first().toMap().value("name").toString(),
             QStringLiteral("CID: 7"));
}

void TstMainWindow::failedLoadsEndWithDashesAndKeepRows() {
    api->setReply("GET", "/users/profiles/self", WebApiTestServer::json(500, "{}"));
    api->setReply("GET", "/users/histories/self", WebApiTestServer::json(500, "{}"));
    createWindow();
    QTRY_COMPARE(overview()->pilotTime(), QStringLiteral("--"));
    QCOMPARE(overview()->atcTime(), QStringLiteral("--"));
    QTRY_COMPARE(overview()->recentFlights().size(), 1);
    QCOMPARE(overview()->recentFlights().first().toMap().value("detail").toString(),
             QStringLiteral("飞行记录加载失败"));
    DemoAccount::install(*api);
}

void TstMainWindow::accountLoadsOnTheFirstShowOnly() {
    auto* config = AppConfig::instance();
    window = std::make_unique<MainWindow>(h.nm, controllers);
    // The first show reloads the settings; later shows keep what the pilot typed.
    config->setValue(ConfigKeys::ProfileRealname, QStringLiteral("Li Lei"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(view()));
    ui::viewmodel::SettingsViewModel* settings = window->settingsViewModel();
    QCOMPARE(settings->realname(), QStringLiteral("Li Lei"));
    settings->setRealname(QStringLiteral("Han Meimei"));
    QTRY_COMPARE(overview()->recentFlights().size(), MainWindow::RecentFlightCount);
    window->showMinimized();
    window->showNormal();
    window->hide();
    window->show();
    QTRY_COMPARE(overview()->pilotLeaderboard().size(), 2);
    QCOMPARE(api->requestsTo("/users/profiles/self").size(), 1);
    QCOMPARE(api->requestsTo("/users/histories/self").size(), 1);
    QCOMPARE(api->requestsTo("/server/rating").size(), 1);
    QCOMPARE(settings->realname(), QStringLiteral("Han Meimei"));
    test::SessionHarness::configure(false);
}

void TstMainWindow::replyAfterTheWindowIsGoneDoesNothing() {
    for (const char* path : {"/users/profiles/self", "/users/histories/self", "/server/rating"}) {
        WebApiTestServer::Reply held = WebApiTestServer::json(500, "{}");
        held.hold = true;
        api->queueReply("GET", path, held);
        api->queueReply("GET", path, held);
    }
    createWindow();
    // Requests of our own, answered together with the window's.
    int done = 0;
    auto* service = network::ApiService::instance();
    service->getUserProfile(1, [&done](bool, const model::UserProfile&, const QString&) { ++done; });
    service->getUserHistory([&done](bool, const model::UserHistory&, const QString&) { ++done; });
    service->getLeaderboard([&done](bool, const QJsonObject&, const QString&) { ++done; });
    QTRY_COMPARE(api->heldCount(), 6);
    window.reset();
    api->releaseHeld();
    QTRY_COMPARE(done, 3);
    DemoAccount::install(*api);
}

void TstMainWindow::simulatorRequests_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QVariant>("sent"); // invalid: nothing is sent
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("7700 with blanks")
        << "xpdr" << QVariant(" 7700 ") << "setTransponderCode" << QVariant(7700);
    QTest::newRow("12") << "xpdr" << QVariant("12") << "setTransponderCode" << QVariant(12);
    QTest::newRow("0") << "xpdr" << QVariant("0") << "setTransponderCode" << QVariant(0);
    QTest::newRow("8000") << "xpdr" << QVariant("8000") << "setTransponderCode" << QVariant();
    QTest::newRow("12345") << "xpdr" << QVariant("12345") << "setTransponderCode" << QVariant();
    QTest::newRow("empty") << "xpdr" << QVariant("") << "setTransponderCode" << QVariant();
    QTest::newRow("COM1 121.5") << "com1" << QVariant(121.5) << "setCom1Frequency" << QVariant(121.5f);
    QTest::newRow("COM2 118.0") << "com2" << QVariant(118.0) << "setCom2Frequency" << QVariant(118.0f);
    QTest::newRow("COM1 0") << "com1" << QVariant(0.0) << "setCom1Frequency" << QVariant();
    QTest::newRow("COM1 negative") << "com1" << QVariant(-1.0) << "setCom1Frequency" << QVariant();
    QTest::newRow("COM2 NaN") << "com2" << QVariant(nan) << "setCom2Frequency" << QVariant();
    QTest::newRow("COM2 infinite") << "com2" << QVariant(inf) << "setCom2Frequency" << QVariant();
    QTest::newRow("ident") << "ident" << QVariant() << "transponderIdent" << QVariant(true);
    QTest::newRow("mode toggle") << "mode" << QVariant() << "transponderModeToggle" << QVariant(true);
}

void TstMainWindow::simulatorRequests() {
    QFETCH(QString, request);
    QFETCH(QVariant, value);
    QFETCH(QString, call);
    QFETCH(QVariant, sent);
    window = std::make_unique<MainWindow>(h.nm, controllers);
    h.sim->clearCalls();
    if (request == "xpdr") {
        window->setTransponderCode(value.toString());
    } else if (request == "com1") {
        window->onCom1FrequencyRequested(value.toDouble());
    } else if (request == "com2") {
        window->onCom2FrequencyRequested(value.toDouble());
    } else if (request == "ident") {
        window->onTransponderIdentRequested();
    } else {
        window->onTransponderModeToggleRequested();
    }
    const auto calls = h.sim->callsTo(call);
    if (!sent.isValid()) {
        QCOMPARE(calls.size(), 0);
        return;
    }
    QCOMPARE(calls.size(), 1);
    if (sent.typeId() != QMetaType::Bool) {
        QCOMPARE(calls.first().args.value(0), sent);
    }
}

void TstMainWindow::messageSoundVolumes_data() {
    QTest::addColumn<int>("priority");
    QTest::addColumn<float>("volume");
    QTest::newRow("1") << 1 << 0.55f;
    QTest::newRow("2") << 2 << 0.75f;
    QTest::newRow("3") << 3 << 0.75f;
}

void TstMainWindow::messageSoundVolumes() {
    QFETCH(int, priority);
    QFETCH(float, volume);
    window = std::make_unique<MainWindow>(h.nm, controllers);
    window->onMessageSoundRequested("private", priority);
    QCOMPARE(window->audioOutput()->volume(), volume);
    QCOMPARE(window->mediaPlayer()->source(), QUrl(MainWindow::MessageSound));
    QCOMPARE(window->mediaPlayer()->position(), 0);
}

void TstMainWindow::miniWindowPttReleases_data() {
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("end");
    QTest::newRow("not connected: nothing") << false << "release";
    QTest::newRow("press and release") << true << "release";
    QTest::newRow("disabled while held") << true << "disconnect";
    QTest::newRow("destroyed while held") << true << "close";
    QTest::newRow("dashboard left while held") << true << "back";
    QTest::newRow("main window deleted while held") << true << "window";
}

// The mini window's button keys the voice client through the voice service
// view model, and whatever ends the hold releases it.
void TstMainWindow::miniWindowPttReleases() {
    QFETCH(bool, connected);
    QFETCH(QString, end);
    if (connected && !rigUp) {
        QSKIP("the voice page connects only with audio devices: jackd is not installed");
    }
    voice::VoiceClient* client = h.nm->voiceClient();
    createWindow();
    // The main window on another screen than the primary one (the test runs on two).
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) {
            window->move(screen->availableGeometry().topLeft() + QPoint(20, 20));
            QTRY_COMPARE(window->screen(), screen);
        }
    }
    chooseMsfs();
    open("voice");
    if (connected) {
        connectVoice();
    }
    // Where it shows first: without a window manager it is seen there before any move.
    struct ShowWatch : QObject {
        QRect shownAt;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Show && watched->objectName() == "voiceMiniWindow" &&
                shownAt.isNull()) {
                shownAt = static_cast<QWindow*>(watched)->geometry();
            }
            return false;
        }
    } watch;
    qApp->installEventFilter(&watch);
    click("minimizeButton");
    QTRY_VERIFY(find("miniPttButton"));
    qApp->removeEventFilter(&watch);
    QVERIFY(find("mainDashboard")->property("voiceMiniMode").toBool());
    auto* button = qobject_cast<QQuickItem*>(find("miniPttButton"));
    QQuickWindow* mini = button->window();
    QVERIFY(QTest::qWaitForWindowExposed(mini));
    // In the work area of the main window's screen, 16 from its right and bottom edges.
    QCOMPARE(mini->geometry().bottomRight(),
             window->screen()->availableGeometry().bottomRight() - QPoint(16, 16));
    QCOMPARE(watch.shownAt, mini->geometry());
    QCOMPARE(button->property("text").toString(), QStringLiteral("PTT 按下"));
    const QPoint centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint();
    QTest::mousePress(mini, Qt::LeftButton, {}, centre);
    QCOMPARE(client->pttActive(), connected);
    QCOMPARE(window->voiceServiceViewModel()->pttActive(), connected);
    if (connected) {
        QTRY_COMPARE(button->property("text").toString(), QStringLiteral("发送中..."));
        QVERIFY(find("miniTxBadge")->property("active").toBool());
        QVERIFY(mini->grabWindow().save(test::appDir() + "/screenshots/voice-mini-window.png"));
    }
    if (end == "release") {
        QTest::mouseRelease(mini, Qt::LeftButton, {}, centre);
    } else if (end == "disconnect") {
        client->disconnectFromServer();
    } else if (end == "close") {
        find("mainDashboard")->setProperty("voiceMiniMode", false);
        QTRY_VERIFY(!find("miniPttButton"));
    } else if (end == "back") {
        overview()->requestModeChange("NONE");
        QTRY_VERIFY(find("modeSelection"));
    } else {
        // The QML goes before the view models and services it calls.
        window.reset();
        QVERIFY(!client->pttActive());
        return;
    }
    QTRY_VERIFY(!client->pttActive());
    if (end == "release" && connected) {
        // The expand button goes back to the voice section.
        click("miniExpandButton");
        QTRY_VERIFY(find("page_voice"));
        QVERIFY(!find("mainDashboard")->property("voiceMiniMode").toBool());
    }
}

void TstMainWindow::miniWindowHandsBackToTheDashboard_data() {
    QTest::addColumn<bool>("expand");
    QTest::newRow("expand button") << true;
    QTest::newRow("closed by the window manager") << false;
}

// Back on the voice section of a dashboard shown again, even from minimised;
// 缩小 opens the mini window again.
void TstMainWindow::miniWindowHandsBackToTheDashboard() {
    QFETCH(bool, expand);
    createWindow();
    chooseMsfs();
    open("voice");
    click("minimizeButton");
    QTRY_VERIFY(find("miniExpandButton"));
    QQuickWindow* mini = qobject_cast<QQuickItem*>(find("miniExpandButton"))->window();
    QVERIFY(QTest::qWaitForWindowExposed(mini));
    open("dashboard");
    window->showMinimized();
    if (expand) {
        click("miniExpandButton");
    } else {
        QVERIFY(mini->close());
    }
    QVERIFY(!(window->windowState() & Qt::WindowMinimized));
    QTRY_VERIFY(find("page_voice"));
    QTRY_VERIFY(!find("miniExpandButton"));
    click("minimizeButton");
    QTRY_VERIFY(find("miniExpandButton"));
}

// The bound key ("Voice/PttKey", right Ctrl by default) keys the voice client;
// a window deleted while it is held leaves the client silent.
void TstMainWindow::pttKeyReachesTheVoiceClient() {
    AppConfig::instance()->setValue(ConfigKeys::VoicePttKey, QStringLiteral("kb:163"));
    voice::VoiceClient* client = h.nm->voiceClient();
    createWindow();
    input.key(0xA3, true);
    QVERIFY(client->pttActive());
    QVERIFY(window->voiceServiceViewModel()->pttActive());
    input.key(0xA3, false);
    QVERIFY(!client->pttActive());
    input.key(0xA3, true);
    window.reset();
    QVERIFY(!client->pttActive());
}

void TstMainWindow::audioEngineGetsTheChosenDevices_data() {
    QTest::addColumn<bool>("loadedFirst");
    QTest::newRow("engine before the device list") << false;
    QTest::newRow("device list before the engine") << true;
}

// A new audio engine gets the stored devices and voice settings, and every
// later choice on the settings page.
void TstMainWindow::audioEngineGetsTheChosenDevices() {
    QFETCH(bool, loadedFirst);
    if (!rigUp) {
        QSKIP("jackd is not installed");
    }
    AppConfig::instance()->setValue(ConfigKeys::VoicePttVolume, 0.4);
    window = std::make_unique<MainWindow>(h.nm, controllers);
    ui::viewmodel::VoiceSettingsViewModel* settings = window->voiceSettingsViewModel();
    if (loadedFirst) {
        settings->ensureDeviceListLoaded();
    }
    voice::AudioHandler* audio = h.nm->voiceClient()->ensureAudioHandler();
    QCOMPARE(audio->inputConfig().device, std::optional<qint32>(JackRig::device("loopback")));
    QCOMPARE(audio->headphoneConfig().device, std::optional<qint32>(JackRig::device("system")));
    QCOMPARE(audio->speakerConfig().device, std::optional<qint32>(JackRig::device("system")));
    QCOMPARE(audio->pttVolume(), 0.4f);
    settings->setInput(settings->inputDeviceNames().indexOf("system"));
    QCOMPARE(audio->inputConfig().device, std::optional<qint32>(JackRig::device("system")));
    AppConfig::instance()->setValue(ConfigKeys::VoicePttVolume, ConfigKeys::VoicePttVolume.defaultValue);
}

void TstMainWindow::messagesBadge() {
    MessagesStandIn messages;
    createWindow();
    view()->rootContext()->setContextProperty("messagesBackend", &messages);
    chooseMsfs();
    QObject* entry = find("menu_messages");
    QVERIFY(entry);
    QCOMPARE(entry->property("badgeCount").toInt(), 0);
    messages.unreadCount = 100;
    emit messages.changed();
    QTRY_COMPARE(entry->property("badgeCount").toInt(), 100);
    QObject* badgeText = nullptr;
    for (QObject* o : entry->findChildren<QObject*>("badgeText")) {
        badgeText = o;
    }
    QVERIFY(badgeText);
    QCOMPARE(badgeText->property("text").toString(), QStringLiteral("99+"));
    view()->rootContext()->setContextProperty("messagesBackend", static_cast<QObject*>(nullptr));
}

// Each row is a script run on the main dashboard, through the real window,
// session manager, FSD test server and fake simulator. Steps, fields split by '|':
// login; deliver|line; radios|com1 kHz|squawk; open|section; click|name;
// type|name|text (then Return); expect|name|property|value; contains|name|property|text;
// serverSees|prefix; serverSends|line; simCall|operation|first argument.
void TstMainWindow::pagesEndToEnd_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("messages: a private text raises the badge and shows")
        << QStringList{"login",
                       "deliver|#TMDLH123:ABC123:hello",
                       "expect|menu_messages|badgeCount|1",
                       "open|messages",
                       "click|session_DLH123",
                       "expect|messageText|text|hello",
                       "expect|menu_messages|badgeCount|0"};
    QTest::newRow("simulator: the fake simulator's radios show")
        << QStringList{"radios|122800|4521", "open|simulator", "expect|simulatorStatus|text|已连接",
                       "expect|com1Frequency|value|122.800", "expect|transponder|value|4521"};
    QTest::newRow("simulator: a COM1 entry reaches the simulator") << QStringList{
        "radios|122800|4521", "open|simulator", "type|com1Field|121.8", "simCall|setCom1Frequency|121.8"};
    QTest::newRow("server: a connect from the page reaches the FSD server")
        << QStringList{"open|server",
                       "type|callsignField|abc123",
                       "type|typeCodeField|A320",
                       "click|connectButton",
                       "serverSees|#APABC123:SERVER:",
                       "serverSends|$CRSERVER:ABC123:IP:10.0.0.1",
                       "expect|connectButton|text|断开服务器",
                       "contains|serverLog|text|FSD 已连接：ABC123"};
}

void TstMainWindow::pagesEndToEnd() {
    QFETCH(QStringList, steps);
    createWindow();
    chooseMsfs();
    QString section;
    for (const QString& step : steps) {
        const QStringList f = step.split('|');
        const QString& verb = f.first();
        if (verb == "login") {
            QVERIFY(h.loginPilot());
        } else if (verb == "deliver") {
            QVERIFY(h.deliver(f[1]));
        } else if (verb == "radios") {
            model::RadioStackState radios;
            radios.com1Frequency = f[1].toUInt();
            radios.transponderCode = f[2].toUInt();
            h.sim->setRadioStackState(radios);
        } else if (verb == "open") {
            section = f[1];
            click("menu_" + section);
            QTRY_VERIFY(find("page_" + section));
        } else if (verb == "click") {
            QTRY_VERIFY2(find(f[1]), qPrintable(step));
            click(f[1]);
        } else if (verb == "type") {
            QQuickItem* field = nullptr;
            QTRY_VERIFY2((field = qobject_cast<QQuickItem*>(find(f[1]))), qPrintable(step));
            test::typeInto(view(), field, f[2]);
            QTest::keyClick(view(), Qt::Key_Return);
        } else if (verb == "expect" || verb == "contains") {
            QTRY_VERIFY2(find(f[1]), qPrintable(step));
            const auto shown = [&] { return find(f[1])->property(qPrintable(f[2])).toString(); };
            if (verb == "expect") {
                QTRY_COMPARE(shown(), f[3]);
            } else {
                QTRY_VERIFY2(shown().contains(f[3]), qPrintable(shown()));
            }
        } else if (verb == "serverSees") {
            QVERIFY(h.server.waitForLineStartingWith(f[1]));
        } else if (verb == "serverSends") {
            h.server.sendLine(f[1]);
        } else if (verb == "simCall") {
            QTRY_COMPARE(h.sim->count(f[1]), 1);
            QCOMPARE(h.sim->callsTo(f[1]).first().args.value(0), QVariant(f[2].toFloat()));
        } else {
            QFAIL(qPrintable("unknown step " + step));
        }
    }
    // Text from the network and the simulator is never read as markup.
    QCOMPARE(test::textsNotPlain(view()->contentItem()), QStringList());
    screenshot("page-" + section);
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
