#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace velk::logging {

// Creates the run's log file under `logsDirectory`, named by the UTC start
// time ("yyyy-MM-dd_hh-mm-ss.log", or "...-2.log", "...-3.log" when the name
// is taken: by a run started in the same second, or by anything else there),
// installs the Qt message handler and keeps only the newest `keepFiles` run
// logs, its own among them whatever its name. The file takes lines until it
// holds `maxBytes`, then one that says it is full. Returns the file's path,
// empty when no file could be made (lines still reach stderr either way).
QString install(const QString& logsDirectory, const QDateTime& startUtc = QDateTime::currentDateTimeUtc(),
                int keepFiles = 10, qint64 maxBytes = 100LL * 1024 * 1024);
// Restores Qt's default handler and closes the file.
void uninstall();

// Whether lines also go to a run log file, not to stderr alone.
bool writesFile();

// "%1 | %2 | %3:%4 - %5": local time, level, source file name, line, message,
// the message on one line with its control characters shown escaped.
QString formatLine(QtMsgType type, const QMessageLogContext& context, const QString& message,
                   const QDateTime& localTime = QDateTime::currentDateTime());

// Deletes all but the newest `keep` run logs in `directory`: regular files
// named exactly as install() names them (newest by the time and number in
// the name, those named later than `runLog` oldest of all). `runLog`, the
// name of this run's own log, is never deleted and counts as one of those
// kept. Nothing else there is touched.
void pruneOldRunLogs(const QString& directory, int keep, const QString& runLog = {});

} // namespace velk::logging
