#pragma once

#include <QObject>
#include <QString>

namespace velk::ui {

// Applies the application-wide dark or light style sheet and adapts the
// backdrop of every open top-level window to it. Holds no state.
class ThemeManager : public QObject {
    Q_OBJECT

public:
    // A fixed underlying type: values other than 0 and 1 are legal and select Light.
    enum Theme : int { Dark = 0, Light = 1 };
    Q_ENUM(Theme)

    static constexpr const char* DarkStyleSheet = ":/resources/theme/dark.qss";
    static constexpr const char* LightStyleSheet = ":/resources/theme/light.qss";

    static ThemeManager* instance();

    // Every value other than Dark selects the light sheet. A sheet that cannot
    // be read leaves the application as it was and emits nothing.
    void applyTheme(Theme theme);

    // The whole text of the file; empty when it cannot be opened.
    static QString loadStyleSheet(const QString& path);

signals:
    void themeChanged(velk::ui::ThemeManager::Theme newTheme);

private:
    ThemeManager() = default;
};

} // namespace velk::ui
