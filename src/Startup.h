#pragma once

#include <QRect>
#include <QSize>

namespace velk {

namespace ui {
class LoginWindow;
}

// The run's one login window, set by main before the event loop starts.
void setLoginWindow(ui::LoginWindow* window);
ui::LoginWindow* loginWindow();

// Where the login window was when the pilot signed in, for the window that follows it.
QRect lastLoginGeometry();
QSize lastLoginMinimumSize();

// Handler of LoginWindow::loginSuccess (connected directly): hides the login window.
void onLoginSuccess();
// Handler of the main window's logout request: ends the session, forgets the
// stored credentials and shows the login window again on the next turn of the
// event loop.
void onLogoutRequested();

} // namespace velk
