#include "AppConfig.h"
#include "Logger.h"
#include "common/AppVersion.h"

#include <QApplication>
#include <QDir>
#include <QQuickStyle>

int main(int argc, char* argv[]) {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velk-client"));
    QApplication::setApplicationVersion(velk::common::appVersionString());

    auto* config = velk::AppConfig::instance();
    const QString logsDir = QString::fromStdU16String(config->logsDirectory().u16string());
    velk::logging::install(logsDir);
    qInfo().noquote() << "Starting velk-client" << velk::common::appVersionString();

    const int rc = QApplication::exec();
    velk::logging::uninstall();
    return rc;
}
