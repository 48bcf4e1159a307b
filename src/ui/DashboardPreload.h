#pragma once

#include <memory>

class QQuickView;

namespace velk::ui {

// The dashboard's QML view, made and its first page compiled while the login
// window waits for the pilot: creating the QML engine and importing Qt Quick
// would otherwise hold back the dashboard's first frame after sign-in.

// Makes the view unless one is ready. GUI thread only.
void prepareDashboardView();
bool hasPreparedDashboardView();
// The prepared view for the main window to fill and show; null if none was made.
std::unique_ptr<QQuickView> takePreparedDashboardView();
// Deletes a view nobody took (before the application ends).
void dropPreparedDashboardView();

} // namespace velk::ui
