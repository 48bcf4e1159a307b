#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace velk::logging {

// Opens the run's log file under `logsDirectory`, named by the UTC start time
// ("yyyy-MM-dd_hh-mm-ss.log"), installs the Qt message handler and keeps only
// the newest `keepFiles` run logs. Returns the file's path, empty when the
// file could not be opened (lines then still reach stderr).
QString install(const QString& logsDirectory, const QDateTime& startUtc = QDateTime::currentDateTimeUtc(),
                int keepFiles = 10);
// Restores Qt's default handler and closes the file.
void uninstall();

// "%1 | %2 | %3:%4 - %5": local time, level, source file name, line, message.
QString formatLine(QtMsgType type, const QMessageLogContext& context, const QString& message,
                   const QDateTime& localTime = QDateTime::currentDateTime());

// Deletes all but the newest `keep` files matching `pattern` in `directory`
// (newest by name, which sorts by time for timestamped names).
void pruneOldFiles(const QString& directory, const QString& pattern, int keep);

} // namespace velk::logging
