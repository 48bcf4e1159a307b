#pragma once

class QWidget;

namespace velk::ui {

// The native translucent backdrop of a top-level window. Where the platform
// has no compositor backdrop to ask for (Linux), only the window's
// translucency is switched. A null widget does nothing.

// The full backdrop, tinted for a dark or light theme.
void enableWindowBackdrop(QWidget* widget, bool dark);
// Only the theme-dependent part; translucency is left alone.
void applyWindowBackdropForTheme(QWidget* widget, bool dark);
// Takes the backdrop away again.
void disableWindowBackdrop(QWidget* widget);

} // namespace velk::ui
