#include "common/FileAside.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace velk::common {

QString moveAside(const QString& path, const QString& tag) {
    const QString base = path + QLatin1Char('.') + tag + QLatin1Char('-') +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n < 100; ++n) {
        const QString name = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        const QFileInfo info(name);
        // A dangling link counts as taken: renaming over it would lose it.
        if (!info.exists() && !info.isSymLink()) {
            return QDir().rename(path, name) ? name : QString();
        }
    }
    return {};
}

} // namespace velk::common
