#pragma once

#include <QObject>
#include <QRect>

class QQuickItem;

namespace velk::ui {

// Where the dashboard may open windows of its own. QML knows a screen's
// geometry but not its work area, nor the screen of a window embedded in a
// widget, so it asks here.
class ScreenArea : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The work area (the screen less its task bars and panels) of the screen
    // that shows `item`'s window; the primary screen's when there is none.
    Q_INVOKABLE QRect availableGeometry(QQuickItem* item) const;
};

} // namespace velk::ui
