#pragma once

#include <QFuture>
#include <QImage>
#include <QString>

namespace velk::ui {

// One-off work a window's first frame waits for, started on a worker thread
// so that it overlaps the window's own construction and QML loading.

// Reads the font configuration, which the first text laid out in the process
// would otherwise do on the UI thread. Fonts themselves stay per thread.
QFuture<void> startFontSystemInBackground();

// Decodes a picture (a resource path or a file); a null image if unreadable.
QFuture<QImage> decodeImageInBackground(const QString& path);

} // namespace velk::ui
