#pragma once

namespace velk::ui {

// Registers the QML module "com.morvane.backend" 1.0: its uncreatable
// view-model types and the singleton ScreenArea. Call once before any QML
// engine exists; later calls do nothing.
void registerQmlTypes();

} // namespace velk::ui
