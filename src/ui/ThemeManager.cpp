#include "ui/ThemeManager.h"

#include "ui/WindowBackdrop.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QWidget>

namespace velk::ui {

ThemeManager* ThemeManager::instance() {
    static ThemeManager manager;
    return &manager;
}

QString ThemeManager::loadStyleSheet(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

void ThemeManager::applyTheme(Theme theme) {
    const bool dark = theme == Dark;
    const QString path = QString::fromLatin1(dark ? DarkStyleSheet : LightStyleSheet);
    const QString sheet = loadStyleSheet(path);
    if (sheet.isEmpty()) {
        qWarning().noquote() << "Failed to load stylesheet from:" << path;
        return;
    }
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        qWarning() << "No widget application to apply the style sheet to";
        return;
    }
    app->setStyleSheet(sheet);
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        applyWindowBackdropForTheme(window, dark);
    }
    emit themeChanged(theme);
}

} // namespace velk::ui
