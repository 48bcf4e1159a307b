#pragma once

#include <QString>

class QDir;
class QFile;
class QRegularExpression;

namespace velk::common {

// Creates a log as a new file in `dir` under the first free name of
// "<base>.log", "<base>-2.log", "<base>-3.log", ..., and opens it for writing.
// An existing log is never overwritten, nor anything else at a name (a link,
// a FIFO, a folder) written through or waited on: the next name is taken.
// False when the folder takes no new file; `file` then says why.
bool createNewLogFile(QFile& file, const QDir& dir, const QString& base);

// The names createNewLogFile() gives for a base matched by `basePattern`, and
// no others; "base" captures the base and "n" the number after it, if any.
QRegularExpression newLogFileNames(const QString& basePattern);

} // namespace velk::common
