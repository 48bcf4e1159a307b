#pragma once

#include <QObject>
#include <QPointer>

class QWindow;
class QWidget;

namespace velk::ui {

// Keeps the keyboard on a window embedded in a widget window
// (QWidget::createWindowContainer). Some X11 window managers (openbox) give the
// focus to the top-level window on every click, just before the click reaches
// the embedded window: the embedded window would lose its focus, closing an
// open popup (the click then lands on whatever lies under it), and the keyboard
// would stay with the top-level window. The embedded window is all the
// top-level window shows, so such a move is undone at once.
class EmbeddedViewFocus : public QObject {
    Q_OBJECT

public:
    // Watches while both live; `embedded` must be the only content of `topLevel`.
    EmbeddedViewFocus(QWindow* embedded, QWidget* topLevel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True when the focus has just moved from the embedded window to its own top-level window.
    bool focusTakenByTopLevel() const;

    QPointer<QWindow> m_embedded;
    QPointer<QWidget> m_topLevel;
};

} // namespace velk::ui
