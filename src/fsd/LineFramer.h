#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace velk::fsd {

// Cuts a received byte stream into lines ending in "\n" with an optional "\r"
// before it. A partial line waits for more bytes. A line longer than
// kMaxLineLength is dropped (reported once) and the rest of it, up to its line
// end, is discarded, so a peer that never ends a line cannot grow the buffer
// without bound.
class LineFramer {
public:
    static constexpr qsizetype kMaxLineLength = 64 * 1024;

    enum class Status {
        Line,     // `line` holds the next line, without its line end
        NeedMore, // no complete line is buffered
        Overlong, // a line over the limit was dropped
    };

    void append(QByteArrayView data);
    // The view stays valid until the next call of append, next or clear.
    Status next(QByteArrayView& line);
    void clear();
    // Bytes buffered and not yet returned.
    qsizetype pendingSize() const { return m_buffer.size() - m_offset; }

private:
    void compact();

    QByteArray m_buffer;
    qsizetype m_offset = 0;
    // Bytes before this index (from m_offset on) hold no line end.
    qsizetype m_scanned = 0;
    bool m_discarding = false;
};

} // namespace velk::fsd
