#include "ui/DashboardPreload.h"

#include <QDebug>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickView>

namespace velk::ui {

namespace {

std::unique_ptr<QQuickView> g_prepared;

} // namespace

void prepareDashboardView() {
    if (g_prepared) {
        return;
    }
    auto view = std::make_unique<QQuickView>();
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setColor(Qt::transparent);
    // Compiled only, nothing created: the engine keeps the compiled files for
    // the view's own load. The components stay with the view so that they do.
    for (const char* file : {"qrc:/src/ui/view/Dashboard.qml", "qrc:/src/ui/view/ModeSelection.qml"}) {
        auto* component = new QQmlComponent(view->engine(), QUrl(QString::fromLatin1(file)), view.get());
        if (component->isError()) {
            qWarning().noquote() << "Dashboard: preparing" << file << "failed:" << component->errorString();
        }
    }
    g_prepared = std::move(view);
}

bool hasPreparedDashboardView() {
    return g_prepared != nullptr;
}

std::unique_ptr<QQuickView> takePreparedDashboardView() {
    return std::move(g_prepared);
}

void dropPreparedDashboardView() {
    g_prepared.reset();
}

} // namespace velk::ui
