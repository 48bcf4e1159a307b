#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

namespace velk {

class AppConfig;

namespace ui {
class LoginWindow;
class MainWindow;
} // namespace ui
namespace manager {
class NetworkManager;
class ControllerManager;
} // namespace manager

// The run's one login window, set by main before the event loop starts.
void setLoginWindow(ui::LoginWindow* window);
ui::LoginWindow* loginWindow();

// What the pilot must know at start about settings and logs that cannot be
// kept (config.ini set aside, a folder that cannot be written); empty when
// all is well. `logOpened`: the run log could be made.
QString startNotice(const AppConfig& config, bool logOpened);
// Shows the login window with `notice` over it once it is up, when there is one.
void showLoginWindowWith(const QString& notice);

// Shows the login window and, once it is up, prepares the dashboard's view
// for the sign-in to come.
void showLoginWindow();
constexpr int DashboardPrepareDelayMs = 500;

// Where the login window was when the pilot signed in, for the window that follows it.
QRect lastLoginGeometry();
QSize lastLoginMinimumSize();

// Handler of LoginWindow::loginSuccess (connected directly): hides the login
// window, ends any previous session, creates the session manager, the
// aircraft, user-aircraft and controller managers and the main window, in that
// order, and shows the main window where the login window was, moved inside
// the work area of its screen where it would reach past it.
void onLoginSuccess();
// Handlers of the platform choice: hand a new MSFS or X-Plane back end to the
// session manager; nothing without a signed-in session.
void activateMsfsBackend();
void activateXPlaneBackend();
// The signed-in session's managers; empty when signed out.
std::shared_ptr<manager::NetworkManager> networkManager();
std::shared_ptr<manager::ControllerManager> controllerManager();
// The signed-in session's main window; null when signed out.
ui::MainWindow* mainWindow();
// Deletes the main window, then leaves the network and drops the session's objects.
void tearDownSession();
// Handler of the main window's logout request: ends the session, forgets the
// stored credentials and shows the login window again on the next turn of the
// event loop.
void onLogoutRequested();

} // namespace velk
