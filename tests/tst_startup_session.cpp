#include "AppConfig.h"
#include "QuitOnSignal.h"
#include "Startup.h"
#include "manager/ControllerManager.h"
#include "manager/NetworkManager.h"
#include "simulator/msfs/MsfsAdapter.h"
#include "simulator/xplane/XPlaneAdapter.h"
#include "support/FakeSimulator.h"
#include "support/FsdTestServer.h"
#include "support/QmlWarningGuard.h"
#include "ui/DashboardPreload.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"
#include "ui/viewmodel/DashboardViewModel.h"

#include <QApplication>
#include <QPointer>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <unistd.h>

using namespace velk;

// The start-up handlers that carry a sign-in into a session and back out.
class TestStartupSession : public QObject {
    Q_OBJECT

    test::FsdTestServer m_fsd;

private slots:
    void initTestCase() {
        // The FSD server address is read once, on first use.
        QVERIFY(m_fsd.listen());
        qputenv("VELK_FSD_SERVER", QStringLiteral("127.0.0.1:%1").arg(m_fsd.port()).toUtf8());
    }

    // A failed check must not leave a session's windows for the program's exit.
    void cleanup() {
        tearDownSession();
        setLoginWindow(nullptr);
    }

    void platformChoiceWithoutASessionDoesNothing() {
        QVERIFY(!networkManager());
        activateXPlaneBackend();
        activateMsfsBackend();
        QVERIFY(!networkManager());
    }

    void signInCreatesTheSessionAndXPlaneChoiceBindsABackEnd() {
        ui::LoginWindow window;
        setLoginWindow(&window);
        window.show();
        onLoginSuccess();
        QVERIFY(!window.isVisible());
        auto first = networkManager();
        QVERIFY(first);
        QVERIFY(controllerManager());
        QVERIFY(!first->simulator());

        // The main window follows where the login window was, and its platform choice binds a back end.
        QVERIFY(mainWindow() && mainWindow()->isVisible());
        QCOMPARE(mainWindow()->pos(), window.pos());
        emit mainWindow()->xplaneSelected();
        QVERIFY(dynamic_cast<simulator::xplane::XPlaneAdapter*>(first->simulator().get()));
        emit mainWindow()->msfsSelected();
        QVERIFY(dynamic_cast<simulator::msfs::MsfsAdapter*>(first->simulator().get()));

        // A later sign-in starts from fresh objects.
        std::weak_ptr<manager::NetworkManager> old = first;
        first.reset();
        onLoginSuccess();
        QVERIFY(networkManager());
        QVERIFY(networkManager() != old.lock());
        QVERIFY(old.expired());
        tearDownSession();
        setLoginWindow(nullptr);
    }

    // The dashboard takes the login window's place, its frame kept inside the
    // work area of the screen it is on (two screens, the primary one right of
    // a short one, 600 high; the offscreen platform draws a 2 px frame). On
    // the short screen it is as tall as the screen, not its usual 700.
    void dashboardTakesTheLoginWindowsPlaceInsideItsScreen_data() {
        QTest::addColumn<QRect>("login");
        QTest::addColumn<QRect>("frame");
        QTest::newRow("fits where it is") << QRect(1400, 100, 900, 600) << QRect(1398, 98, 1004, 704);
        QTest::newRow("reaches past the primary screen's corner")
            << QRect(2600, 700, 900, 600) << QRect(2196, 376, 1004, 704);
        QTest::newRow("on the short screen") << QRect(200, 500, 900, 600) << QRect(198, 0, 1004, 600);
        QTest::newRow("larger than its screen") << QRect(10, 10, 1400, 1100) << QRect(0, 0, 1280, 600);
        QTest::newRow("half off the short screen's left edge")
            << QRect(-700, 100, 900, 600) << QRect(0, 0, 1004, 600);
    }

    void dashboardTakesTheLoginWindowsPlaceInsideItsScreen() {
        QFETCH(QRect, login);
        QFETCH(QRect, frame);
        QCOMPARE(QGuiApplication::screens().size(), 2);
        ui::LoginWindow window;
        setLoginWindow(&window);
        window.setGeometry(login);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        onLoginSuccess();
        QCOMPARE(mainWindow()->frameGeometry(), frame);
        // The platform choice's title stays clear of the account card.
        QQuickItem* root = mainWindow()->quickView()->rootObject();
        QQuickItem* title = nullptr;
        QTRY_VERIFY((title = root->findChild<QQuickItem*>(QStringLiteral("modeTitle"))));
        const QQuickItem* card = root->findChild<QQuickItem*>(QStringLiteral("modeUserCard"));
        QTRY_COMPARE(root->height(), qreal(mainWindow()->quickView()->height()));
        QVERIFY(title->mapToScene({0, 0}).y() >= card->mapToScene({0, card->height()}).y());
    }

    void logoutForgetsCredentialsAndShowsTheLoginWindowAgain() {
        auto* config = AppConfig::instance();
        config->setValues(ConfigKeys::AuthUsername, QStringLiteral("pilot"), ConfigKeys::AuthPassword,
                          QStringLiteral("secret"), ConfigKeys::AuthRememberPassword, true,
                          ConfigKeys::AuthAutoLogin, true, ConfigKeys::AuthVatsim, false);
        ui::LoginWindow window;
        setLoginWindow(&window);
        onLoginSuccess();
        QVERIFY(networkManager());
        QVERIFY(networkManager()->connectToNetwork(QStringLiteral("OBS1"), QString(), QString(), true));
        QVERIFY(m_fsd.waitForLineStartingWith(QStringLiteral("#AAOBS1:")));
        QPointer<ui::MainWindow> dashboard = mainWindow();
        emit dashboard->logoutRequested();
        QVERIFY(!dashboard->isVisible());
        // The logoff still names the account before its credentials are forgotten.
        QVERIFY(m_fsd.waitForLineStartingWith(QStringLiteral("#DAOBS1:pilot")));
        QCOMPARE(config->value(ConfigKeys::AuthUsername), QString());
        QCOMPARE(config->value(ConfigKeys::AuthPassword), QString());
        QCOMPARE(config->value(ConfigKeys::AuthRememberPassword), false);
        QCOMPARE(config->value(ConfigKeys::AuthAutoLogin), false);
        QTRY_VERIFY(window.isVisible());
        QVERIFY(!dashboard);
        QVERIFY(!networkManager());

        // While the login window waits, the dashboard's view is made ready; the
        // next sign-in fills and shows that view.
        QTRY_VERIFY(ui::hasPreparedDashboardView());
        test::QmlWarningGuard warnings;
        onLoginSuccess();
        QVERIFY(!ui::hasPreparedDashboardView());
        QQuickItem* root = mainWindow()->quickView()->rootObject();
        QVERIFY(root && root->findChild<QQuickItem*>(QStringLiteral("modeCardXplane")));
        QVERIFY2(warnings.warnings().isEmpty(), qPrintable(warnings.warnings().join('\n')));
        tearDownSession();
        setLoginWindow(nullptr);
    }

    // The voice mini window is a window of its own: closing the dashboard
    // beside it still ends the run and leaves the network.
    void closingTheDashboardWithTheVoiceMiniWindowOpenQuits() {
        AppConfig::instance()->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot"));
        ui::LoginWindow window;
        setLoginWindow(&window);
        onLoginSuccess();
        mainWindow()->dashboardViewModel()->setCurrentMode(QStringLiteral("XPLANE"));
        QQuickItem* dashboard = nullptr;
        QTRY_VERIFY((dashboard = mainWindow()->quickView()->rootObject()->findChild<QQuickItem*>(
                         QStringLiteral("mainDashboard"))));
        dashboard->setProperty("voiceMiniMode", true);
        QQuickWindow* mini = nullptr;
        QTRY_VERIFY((mini = mainWindow()->quickView()->rootObject()->findChild<QQuickWindow*>(
                         QStringLiteral("voiceMiniWindow"))));
        QVERIFY(QTest::qWaitForWindowExposed(mini));
        QVERIFY(networkManager()->connectToNetwork(QStringLiteral("OBS2"), QString(), QString(), true));
        QVERIFY(m_fsd.waitForLineStartingWith(QStringLiteral("#AAOBS2:")));

        // As main runs it: the event loop, then the session's end.
        QTimer::singleShot(0, mainWindow(), &QWidget::close);
        QTimer stuck; // the run would go on without a window
        stuck.callOnTimeout(qApp, [] { QCoreApplication::exit(1); });
        stuck.start(20000);
        QCOMPARE(QApplication::exec(), 0);
        tearDownSession();
        QVERIFY(m_fsd.waitForLineStartingWith(QStringLiteral("#DAOBS2:pilot")));
    }

    // A desktop logout, a shutdown or `kill` ends the run as closing the
    // window does: the windows close, the event loop ends, and the session
    // leaves the network and clears the simulator's traffic. The SIGHUP a
    // logout sends with it, or a closed terminal's second one, does not cut
    // that end short; a second Ctrl+C still does.
    void terminationSignalQuitsAsClosingTheWindowDoes() {
        AppConfig::instance()->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot"));
        ui::LoginWindow window;
        setLoginWindow(&window);
        onLoginSuccess();
        auto sim = std::make_shared<test::FakeSimulator>();
        networkManager()->setSimulator(sim);
        for (int i = 1; i <= 3; ++i) {
            model::UserAircraftData data;
            data.latitude = 31.14342;
            data.longitude = 121.8052 + i * 1e-5;
            sim->setUserAircraftData(data);
        }
        QVERIFY(networkManager()->connectToNetwork(QStringLiteral("CES2352"), QStringLiteral("A320"),
                                                   QString(), false));
        QVERIFY(m_fsd.waitForLineStartingWith(QStringLiteral("#APCES2352:")));

        // Ctrl+C's action before the client took it: a recorder in place of the end of the process.
        static volatile std::sig_atomic_t interrupted = 0;
        struct sigaction recorder {};
        recorder.sa_handler = [](int) { interrupted = 1; };
        struct sigaction testlib {};
        QCOMPARE(::sigaction(SIGINT, &recorder, &testlib), 0);
        quitOnTerminationSignals();
        QCOMPARE(::kill(::getpid(), SIGTERM), 0);
        QTimer stuck;
        stuck.callOnTimeout(qApp, [] { QCoreApplication::exit(1); });
        stuck.start(30000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!mainWindow()->isVisible());
        QCOMPARE(::kill(::getpid(), SIGHUP), 0);
        QCOMPARE(::kill(::getpid(), SIGTERM), 0);
        QCOMPARE(::kill(::getpid(), SIGINT), 0);
        QCOMPARE(int(interrupted), 1);
        ::sigaction(SIGINT, &testlib, nullptr);
        sim->clearCalls();
        tearDownSession();
        QVERIFY(m_fsd.waitForLineStartingWith(QStringLiteral("#DPCES2352:pilot")));
        QCOMPARE(sim->count(QStringLiteral("removeAllRemoteAircraft")), 1);
    }
};

QTEST_MAIN(TestStartupSession)
#include "tst_startup_session.moc"
