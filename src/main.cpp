#include "AppConfig.h"
#include "InstanceLock.h"
#include "Logger.h"
#include "QuitOnSignal.h"
#include "Startup.h"
#include "common/AppVersion.h"
#include "model/MetaTypes.h"
#include "ui/DashboardPreload.h"
#include "ui/LoginWindow.h"
#include "ui/QmlTypes.h"
#include "ui/ThemeManager.h"

#include <QApplication>
#include <QMessageBox>
#include <QQuickStyle>

#include <memory>

int main(int argc, char* argv[]) {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velk-client"));
    QApplication::setApplicationVersion(velk::common::appVersionString());
    // A desktop logout or a shutdown ends the run as closing the window does:
    // the session leaves the network and the simulator's traffic goes.
    velk::quitOnTerminationSignals();

    // Before anything is written beside the executable: a second client in
    // the same folder would overwrite the first one's settings and log.
    const velk::InstanceLock instanceLock =
        velk::lockApplicationFolder(QCoreApplication::applicationDirPath());
    if (!instanceLock.refusal.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("VELK Client"), instanceLock.refusal);
        return 1;
    }

    // The logger comes first, so that what the configuration store reports
    // while it starts (a replaced key file, discovered folders) is in the run log.
    const bool logOpened =
        !velk::logging::install(QCoreApplication::applicationDirPath() + QStringLiteral("/logs")).isEmpty();
    const QString startNotice = velk::startNotice(*velk::AppConfig::instance(), logOpened);
    qInfo().noquote() << "Starting velk-client" << velk::common::appVersionString();

    velk::model::registerMetaTypes();
    // Before any QML engine exists.
    velk::ui::registerQmlTypes();

    // Before any window exists, so that every window starts in the light look.
    velk::ui::ThemeManager::instance()->applyTheme(velk::ui::ThemeManager::Light);

    int rc = 0;
    {
        auto loginWindow = std::make_unique<velk::ui::LoginWindow>();
        velk::setLoginWindow(loginWindow.get());
        QObject::connect(loginWindow.get(), &velk::ui::LoginWindow::loginSuccess, loginWindow.get(),
                         &velk::onLoginSuccess, Qt::DirectConnection);
        velk::showLoginWindowWith(startNotice);
        rc = QApplication::exec();
        velk::tearDownSession();
        velk::ui::dropPreparedDashboardView();
        velk::setLoginWindow(nullptr);
    }
    velk::logging::uninstall();
    return rc;
}
