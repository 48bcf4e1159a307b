#include "ui/BackgroundPreparation.h"

#include <QFontDatabase>
#include <QtConcurrent/QtConcurrentRun>

namespace velk::ui {

QFuture<void> startFontSystemInBackground() {
    // QFontDatabase is thread-safe; once read, later calls return at once.
    return QtConcurrent::run([] { QFontDatabase::families(); });
}

QFuture<QImage> decodeImageInBackground(const QString& path) {
    return QtConcurrent::run([path] { return QImage(path); });
}

} // namespace velk::ui
