#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace velk {

// A line of config.ini that a save would not give back as the pilot wrote it.
struct ConfigLineProblem {
    int line = 0; // 1-based
    QString text; // the line as shown to the pilot: shortened, control characters escaped
    QString why;  // in Chinese
};

// The first line of an INI text that QSettings would drop, join to the next
// line or read otherwise than it stands: a line that is neither a comment, a
// "[section]" nor a "key=value", a key without a name, a backslash that ends
// a line, a quote left open, text that is not UTF-8; in a value, a control
// character or an escape other than the client's own ("\\", "\""). Comments
// hold no settings and pass. What is left (keys QSettings would write in
// another form) only a save and a read of it can tell.
std::optional<ConfigLineProblem> findUnkeptLine(const QByteArray& text);

// `text` without a leading UTF-8 byte order mark, which QSettings would take
// for text of the first line (Notepad writes one).
QByteArray withoutBom(const QByteArray& text);

// The lines of an INI text as an editor numbers them, byte order mark
// aside: a line feed, a carriage return or both together end one. QSettings
// ends a line at either, too.
QList<QByteArray> textLines(const QByteArray& text);

// `text`, which findUnkeptLine passes, with the name of each key followed by
// kLineNumberMark and the number of its line: read by QSettings, each key
// tells the line it came from.
QByteArray withLineNumbers(const QByteArray& text);
inline constexpr char kLineNumberMark = '\x01';

// "第 N 行“text”why", for a log line or a notice.
QString describe(const ConfigLineProblem& problem);

// Line `line` (1-based) of `text` as findUnkeptLine shows it.
QString shownLine(const QByteArray& text, int line);

} // namespace velk
