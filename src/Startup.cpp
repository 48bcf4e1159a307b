#include "Startup.h"

#include "AppConfig.h"
#include "manager/AircraftManager.h"
#include "manager/ControllerManager.h"
#include "manager/NetworkManager.h"
#include "manager/UserAircraftManager.h"
#include "network/ApiService.h"
#include "simulator/msfs/MsfsAdapter.h"
#include "simulator/xplane/XPlaneAdapter.h"
#include "ui/DashboardPreload.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"
#include "ui/SignInNotices.h"
#include "voice/VoiceClient.h"

#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace velk {

namespace {

QPointer<ui::LoginWindow> g_loginWindow;
QRect g_loginGeometry;
QSize g_loginMinimumSize;

// The signed-in session's objects, held for its length.
struct Session {
    std::shared_ptr<manager::NetworkManager> network;
    std::shared_ptr<manager::AircraftManager> aircraft;
    std::shared_ptr<manager::UserAircraftManager> userAircraft;
    std::shared_ptr<manager::ControllerManager> controllers;
    std::unique_ptr<ui::MainWindow> window;
};
Session g_session;

// The dashboard is larger than the login window whose place it takes: moved
// in where it would reach past the work area of its screen (a panel, a small
// laptop screen), and shrunk to that area where it is larger, down to its
// minimum. A screen shorter than that minimum (a laptop at 150 %) lowers its
// height to the area's, not below `floor`: the pages scroll. `frame` is the
// window manager's frame around it; `loginScreen` is the screen for a
// dashboard whose centre is on none (a login window dragged half off).
void keepInsideScreen(QWidget* window, QScreen* loginScreen, const QMargins& frame, const QSize& floor) {
    QRect placed = window->geometry();
    QScreen* screen = QGuiApplication::screenAt(placed.center());
    if (!screen) {
        screen = loginScreen ? loginScreen : window->screen();
    }
    if (!screen) {
        return;
    }
    const QRect area = screen->availableGeometry().marginsRemoved(frame);
    window->setMinimumHeight(std::max(std::min(window->minimumHeight(), area.height()), floor.height()));
    placed.setSize(placed.size().boundedTo(area.size()).expandedTo(window->minimumSize()));
    // Right and bottom first: a window larger than the area keeps its title bar and left edge on it.
    if (placed.right() > area.right()) {
        placed.moveRight(area.right());
    }
    if (placed.bottom() > area.bottom()) {
        placed.moveBottom(area.bottom());
    }
    if (placed.left() < area.left()) {
        placed.moveLeft(area.left());
    }
    if (placed.top() < area.top()) {
        placed.moveTop(area.top());
    }
    if (placed != window->geometry()) {
        window->setGeometry(placed);
    }
}

} // namespace

std::shared_ptr<manager::NetworkManager> networkManager() {
    return g_session.network;
}

std::shared_ptr<manager::ControllerManager> controllerManager() {
    return g_session.controllers;
}

ui::MainWindow* mainWindow() {
    return g_session.window.get();
}

void tearDownSession() {
    // The window first: its view models and pages point into the session's objects.
    g_session.window.reset();
    if (g_session.network) {
        g_session.network->disconnectFromNetwork();
    }
    // The table managers watch the session manager: drop them first.
    g_session.controllers.reset();
    g_session.userAircraft.reset();
    g_session.aircraft.reset();
    g_session.network.reset();
}

void setLoginWindow(ui::LoginWindow* window) {
    g_loginWindow = window;
}

ui::LoginWindow* loginWindow() {
    return g_loginWindow;
}

QRect lastLoginGeometry() {
    return g_loginGeometry;
}

QSize lastLoginMinimumSize() {
    return g_loginMinimumSize;
}

QString startNotice(const AppConfig& config, bool logOpened) {
    QString notice;
    const QString file = QDir::toNativeSeparators(config.filePath());
    const QString unwritten = config.writeProblem();
    if (config.isSetAside()) {
        notice = QStringLiteral("无法读取 %1（%2），本次运行使用默认设置，不会保存。%3")
                     .arg(file, config.readProblem(),
                          config.isSetAsideForALine() ? QStringLiteral("请修改或删除这一行后重新启动客户端。")
                                                      : QStringLiteral("请检查这个文件后重新启动客户端。"));
    } else if (!unwritten.isEmpty()) {
        notice = QStringLiteral("无法写入 %1（%2），本次运行的设置更改不会保存。").arg(file, unwritten);
    }
    if (!logOpened) {
        notice +=
            QStringLiteral("无法在 %1 中写日志，本次运行没有日志。")
                .arg(QDir::toNativeSeparators(QString::fromStdU16String(config.logsDirectory().u16string())));
    }
    if (!unwritten.isEmpty() && !logOpened) {
        notice += QStringLiteral("请把客户端放到可以写入的文件夹中再启动。");
    }
    return notice;
}

void showLoginWindowWith(const QString& notice) {
    showLoginWindow();
    if (notice.isEmpty() || !g_loginWindow) {
        return;
    }
    qWarning().noquote() << "Told at start:" << notice;
    // After the show, so that the box has a window to sit on.
    QTimer::singleShot(0, g_loginWindow, [notice] {
        if (g_loginWindow) {
            g_loginWindow->showMessage(QStringLiteral("提示"), notice);
        }
    });
}

void showLoginWindow() {
    if (!g_loginWindow) {
        return;
    }
    g_loginWindow->show();
    // Once the login window has faded in, while the pilot types: not during its
    // animation, and not at all once signed in.
    QTimer::singleShot(DashboardPrepareDelayMs, g_loginWindow, [] {
        if (!g_session.window) {
            ui::prepareDashboardView();
        }
    });
}

void onLoginSuccess() {
    qInfo() << "Signed in as" << network::ApiService::instance()->currentUser().username;
    QMargins frame;
    QScreen* loginScreen = nullptr;
    if (g_loginWindow) {
        loginScreen = g_loginWindow->screen();
        g_loginGeometry = g_loginWindow->geometry();
        g_loginMinimumSize = g_loginWindow->minimumSize();
        const QRect outer = g_loginWindow->frameGeometry();
        frame = QMargins(g_loginGeometry.left() - outer.left(), g_loginGeometry.top() - outer.top(),
                         outer.right() - g_loginGeometry.right(), outer.bottom() - g_loginGeometry.bottom());
        g_loginWindow->hide();
    }
    tearDownSession();
    g_session.network = std::make_shared<manager::NetworkManager>();
    g_session.aircraft = std::make_shared<manager::AircraftManager>(g_session.network);
    g_session.userAircraft = std::make_shared<manager::UserAircraftManager>(g_session.network);
    g_session.controllers = std::make_shared<manager::ControllerManager>(g_session.network);

    g_session.window = std::make_unique<ui::MainWindow>(g_session.network, g_session.controllers);
    ui::MainWindow* window = g_session.window.get();
    QObject::connect(window, &ui::MainWindow::msfsSelected, window, &activateMsfsBackend);
    QObject::connect(window, &ui::MainWindow::xplaneSelected, window, &activateXPlaneBackend);
    QObject::connect(window, &ui::MainWindow::logoutRequested, window, &onLogoutRequested);
    if (g_loginGeometry.isValid()) {
        window->setGeometry(g_loginGeometry);
    }
    // The dashboard's own minimum stays the floor, but for the height a short
    // screen leaves: the login window's is narrower than its pages fit in.
    window->setMinimumSize(window->minimumSize().expandedTo(g_loginMinimumSize));
    keepInsideScreen(window, loginScreen, frame, g_loginMinimumSize);
    window->show();

    const int cid = network::ApiService::instance()->currentUser().cid;
    g_session.network->voiceClient()->setCid(static_cast<quint32>(qMax(0, cid)));
}

void activateMsfsBackend() {
    if (!g_session.network) {
        return;
    }
    qInfo() << "Activating MSFS backend";
    g_session.network->setSimulator(std::make_shared<simulator::msfs::MsfsAdapter>());
}

void activateXPlaneBackend() {
    if (!g_session.network) {
        return;
    }
    qInfo() << "Activating X-Plane backend";
    g_session.network->setSimulator(std::make_shared<simulator::xplane::XPlaneAdapter>());
}

void onLogoutRequested() {
    qInfo() << "Logging out";
    // Leave the network first: the logoff packet carries the account's id,
    // which is about to be forgotten.
    if (g_session.network) {
        g_session.network->disconnectFromNetwork();
    }
    network::ApiService::instance()->clearSession();
    using namespace ConfigKeys;
    const bool forgotten = AppConfig::instance()->write(
        {configWrite(AuthToken, QString()), configWrite(AuthRefreshToken, QString()),
         configWrite(AuthUsername, QString()), configWrite(AuthPassword, QString()),
         configWrite(AuthRememberPassword, false), configWrite(AuthAutoLogin, false)});
    if (g_session.window) {
        g_session.window->hide();
    }
    // What config.ini still holds that the next start would fill in or sign in with.
    const QString notice = forgotten ? QString() : ui::logoutNotice(*AppConfig::instance());
    // The window is deleted on the next turn: this runs inside its own signal.
    QTimer::singleShot(0, [notice] {
        tearDownSession();
        showLoginWindow();
        if (!notice.isEmpty() && g_loginWindow) {
            g_loginWindow->showMessage(QStringLiteral("提示"), notice);
        }
    });
}

} // namespace velk
