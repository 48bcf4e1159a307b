#pragma once

#include <QString>

namespace velk::common {

// Text from a peer made safe for one line of a log or a list: line breaks
// become spaces, so that no line goes without its time stamp, and other
// control characters (ESC, NUL, ...), unpaired surrogates and the bidi
// embeddings, overrides and isolates are shown escaped ("\x1B", "\uD800",
// "\u202E"), never dropped. Anything else is kept as it is.
QString oneLine(const QString& text);

// `text` cut at `length` characters with a mark ("…") when longer, never
// within a surrogate pair.
QString excerpt(const QString& text, qsizetype length);

// oneLine() for a line of a view, cut at 500 characters: a view lays its
// lines out again on each change, and a server's long unbroken run (a bad
// line of 64 KB) costs it seconds.
QString shownLine(const QString& text);

} // namespace velk::common
