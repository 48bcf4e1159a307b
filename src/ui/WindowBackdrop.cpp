#include "ui/WindowBackdrop.h"

#include <QWidget>

namespace velk::ui {

// There is no system backdrop, frame extension or accent blur to request on
// this platform: the window's own translucency is all that can be switched,
// and the tint of a theme has nothing to act on.

void enableWindowBackdrop(QWidget* widget, bool /*dark*/) {
    if (!widget) {
        return;
    }
    widget->setAttribute(Qt::WA_TranslucentBackground, true);
}

void applyWindowBackdropForTheme(QWidget* /*widget*/, bool /*dark*/) {}

void disableWindowBackdrop(QWidget* widget) {
    if (!widget) {
        return;
    }
    widget->setAttribute(Qt::WA_TranslucentBackground, false);
}

} // namespace velk::ui
