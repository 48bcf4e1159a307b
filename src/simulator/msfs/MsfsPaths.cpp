#include "simulator/msfs/MsfsPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velk::simulator::msfs {

QString normalizePath(const QString& text) {
    if (text.trimmed().isEmpty()) {
        return {};
    }
    const QFileInfo info(text);
    QString path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    if (path.isEmpty()) {
        path = info.absoluteFilePath();
    }
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

QString stripComment(QStringView line) {
    bool inQuotes = false;
    qsizetype end = 0;
    for (; end < line.size(); ++end) {
        const QChar c = line[end];
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
        } else if (c == QLatin1Char(';') && !inQuotes) {
            break;
        }
    }
    return line.left(end).trimmed().toString();
}

QStringView unquoteView(QStringView text) {
    QStringView t = trimmedView(text);
    if (t.size() >= 2 && t.front() == u'"' && t.back() == u'"') {
        t = t.sliced(1, t.size() - 2);
    }
    return trimmedView(t);
}

QString unquote(const QString& text) {
    return unquoteView(text).toString();
}

QString readInstalledPackagesPath(const QString& userCfgPath) {
    const QString path = normalizePath(userCfgPath);
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    static const QString keyword = QStringLiteral("InstalledPackagesPath");
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty()) {
            continue;
        }
        line = stripComment(line);
        if (line.isEmpty() || !line.startsWith(keyword, Qt::CaseInsensitive)) {
            continue;
        }
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString value = space < 0 ? QString() : unquote(line.mid(space + 1).trimmed());
        if (!value.isEmpty()) {
            return normalizePath(value);
        }
    }
    return {};
}

QStringList userCfgCandidates(int simulator) {
    if (simulator == 1) {
        return {QStringLiteral("Microsoft Flight Simulator/UserCfg.opt"),
                QStringLiteral("Packages/Microsoft.FlightSimulator_8wekyb3d8bbwe/LocalCache/UserCfg.opt"),
                QStringLiteral("Microsoft Flight Simulator 2020/UserCfg.opt")};
    }
    return {QStringLiteral("Microsoft Flight Simulator 2024/UserCfg.opt"),
            QStringLiteral("Packages/Microsoft.Limitless_8wekyb3d8bbwe/LocalCache/UserCfg.opt"),
            QStringLiteral("Packages/Microsoft.FlightSimulator2024_8wekyb3d8bbwe/LocalCache/UserCfg.opt"),
            QStringLiteral("Packages/Microsoft.FlightSimulator_8wekyb3d8bbwe/LocalCache/UserCfg.opt")};
}

QString discoverPackagesPath(int simulator) {
    const QString local = QString::fromLocal8Bit(qgetenv("LOCALAPPDATA"));
    const QString roaming = QString::fromLocal8Bit(qgetenv("APPDATA"));
    for (const QString& candidate : userCfgCandidates(simulator)) {
        const QString& base = candidate.startsWith(QLatin1String("Packages/")) ? local : roaming;
        if (base.trimmed().isEmpty()) {
            continue;
        }
        const QString packages = readInstalledPackagesPath(QDir(base).filePath(candidate));
        if (!packages.isEmpty() && QFileInfo(packages).isDir()) {
            return packages;
        }
    }
    return {};
}

} // namespace velk::simulator::msfs
