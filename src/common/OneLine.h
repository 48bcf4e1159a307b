#pragma once

#include <QString>

namespace velk::common {

// Text from a peer made safe for one line of a log or a list: line breaks
// become spaces, so that no line goes without its time stamp, and other
// control characters (ESC, NUL, ...), unpaired surrogates and the bidi
// embeddings, overrides and isolates are shown escaped ("\x1B", "\uD800",
// "\u202E"), never dropped. Anything else is kept as it is.
QString oneLine(const QString& text);

} // namespace velk::common
