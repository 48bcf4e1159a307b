#include "ui/ScreenArea.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>

namespace velk::ui {

QRect ScreenArea::availableGeometry(QQuickItem* item) const {
    // An embedded window answers with the screen of the top-level window that holds it.
    QScreen* screen = item && item->window() ? item->window()->screen() : nullptr;
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace velk::ui
