#include "common/NewLogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace velk::common {

namespace {

constexpr int kMaxNameTries = 1000;

} // namespace

bool createNewLogFile(QFile& file, const QDir& dir, const QString& base) {
    for (int n = 1; n <= kMaxNameTries; ++n) {
        const QString name =
            n == 1 ? base + QStringLiteral(".log") : QStringLiteral("%1-%2.log").arg(base).arg(n);
        file.setFileName(dir.filePath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            return true;
        }
        const QFileInfo taken(file.fileName());
        if (!taken.exists() && !taken.isSymLink()) {
            return false; // not a name clash: the folder cannot take the file
        }
    }
    return false;
}

QRegularExpression newLogFileNames(const QString& basePattern) {
    return QRegularExpression(
        QStringLiteral(R"(^(?<base>%1)(?:-(?<n>[2-9]|[1-9]\d+))?\.log$)").arg(basePattern));
}

} // namespace velk::common
