#pragma once

#include <QString>
#include <QStringList>

// Text and path helpers for MSFS installation files, shared by the
// configuration store's first-start discovery and the model library.
namespace velk::simulator::msfs {

// QStringView::trimmed() inline: the cfg parse trims several times a line.
inline QStringView trimmedView(QStringView text) {
    const QChar* begin = text.begin();
    const QChar* end = text.end();
    while (begin != end && begin->isSpace()) {
        ++begin;
    }
    while (end != begin && (end - 1)->isSpace()) {
        --end;
    }
    return QStringView(begin, end);
}

// Normalised absolute path ("/" separators, "." and ".." resolved, links
// resolved when the path exists); empty for a blank text.
QString normalizePath(const QString& text);
// The part of a configuration line before its ";" comment (";" inside double
// quotes is kept), trimmed.
QString stripComment(QStringView line);
// Trimmed, one pair of enclosing double quotes removed, trimmed again.
QString unquote(const QString& text);
// The same, as a view into the text.
QStringView unquoteView(QStringView text);

// The first non-empty "InstalledPackagesPath" value of a UserCfg.opt file,
// normalised; empty when the file is missing, unreadable or has none.
QString readInstalledPackagesPath(const QString& userCfgPath);

// UserCfg.opt locations of one simulator generation (1 MSFS 2020, else 2024),
// relative, in search order.
QStringList userCfgCandidates(int simulator);

// The packages folder named by the first UserCfg.opt found for the generation:
// "Packages/..." candidates under %LOCALAPPDATA%, the others under %APPDATA%.
QString discoverPackagesPath(int simulator);

} // namespace velk::simulator::msfs
