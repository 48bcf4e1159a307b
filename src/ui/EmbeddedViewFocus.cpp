#include "ui/EmbeddedViewFocus.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace velk::ui {

EmbeddedViewFocus::EmbeddedViewFocus(QWindow* embedded, QWidget* topLevel)
    : QObject(topLevel), m_embedded(embedded), m_topLevel(topLevel) {
    embedded->installEventFilter(this);
}

bool EmbeddedViewFocus::focusTakenByTopLevel() const {
    QWindow* focus = QGuiApplication::focusWindow();
    return m_embedded && m_topLevel && focus && focus == m_topLevel->windowHandle() &&
           m_embedded->isVisible();
}

bool EmbeddedViewFocus::eventFilter(QObject* watched, QEvent* event) {
    // The view keeps its focused item (and an open popup) while the focus
    // comes back; any other focus loss goes through.
    if (watched == m_embedded && event->type() == QEvent::FocusOut && focusTakenByTopLevel()) {
        m_embedded->requestActivate();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace velk::ui
