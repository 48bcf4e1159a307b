#include "Startup.h"

#include "AppConfig.h"
#include "network/ApiService.h"
#include "ui/LoginWindow.h"

#include <QDebug>
#include <QPointer>
#include <QTimer>

namespace velk {

namespace {

QPointer<ui::LoginWindow> g_loginWindow;
QRect g_loginGeometry;
QSize g_loginMinimumSize;

} // namespace

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

void onLoginSuccess() {
    qInfo() << "Signed in as" << network::ApiService::instance()->currentUser().username;
    if (g_loginWindow) {
        g_loginGeometry = g_loginWindow->geometry();
        g_loginMinimumSize = g_loginWindow->minimumSize();
        g_loginWindow->hide();
    }
}

void onLogoutRequested() {
    qInfo() << "Logging out";
    network::ApiService::instance()->clearSession();
    auto* config = AppConfig::instance();
    config->resetValue(ConfigKeys::AuthToken);
    config->resetValue(ConfigKeys::AuthRefreshToken);
    config->resetValue(ConfigKeys::AuthUsername);
    config->resetValue(ConfigKeys::AuthPassword);
    config->setValue(ConfigKeys::AuthRememberPassword, false);
    config->setValue(ConfigKeys::AuthAutoLogin, false);
    QTimer::singleShot(0, [] {
        if (g_loginWindow) {
            g_loginWindow->show();
        }
    });
}

} // namespace velk
