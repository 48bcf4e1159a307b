#include "fsd/LineFramer.h"

#include <algorithm>
#include <cstring>

namespace velk::fsd {

void LineFramer::append(QByteArrayView data) {
    if (data.isEmpty()) {
        return;
    }
    if (m_discarding) {
        // Still inside a dropped line: keep only what follows its end.
        const void* end = std::memchr(data.data(), '\n', static_cast<std::size_t>(data.size()));
        if (end == nullptr) {
            return;
        }
        m_discarding = false;
        data = data.sliced(static_cast<const char*>(end) - data.data() + 1);
    }
    m_buffer.append(data);
}

LineFramer::Status LineFramer::next(QByteArrayView& line) {
    for (;;) {
        const char* start = m_buffer.constData() + m_offset;
        const qsizetype available = m_buffer.size() - m_offset;
        // A line arriving in many small reads is searched once, not once per read.
        const qsizetype from = std::max(m_offset, m_scanned);
        const void* end = from < m_buffer.size()
                              ? std::memchr(m_buffer.constData() + from, '\n',
                                            static_cast<std::size_t>(m_buffer.size() - from))
                              : nullptr;
        if (end == nullptr) {
            m_scanned = m_buffer.size();
            if (m_discarding) {
                clear();
                m_discarding = true;
                return Status::NeedMore;
            }
            // One byte more for the "\r" that may come before the line end.
            if (available > kMaxLineLength + 1) {
                clear();
                m_discarding = true;
                return Status::Overlong;
            }
            compact();
            return Status::NeedMore;
        }
        qsizetype length = static_cast<const char*>(end) - start;
        m_offset += length + 1;
        if (m_discarding) {
            // The tail of a line already reported as overlong.
            m_discarding = false;
            continue;
        }
        if (length > 0 && start[length - 1] == '\r') {
            --length;
        }
        if (length > kMaxLineLength) {
            return Status::Overlong;
        }
        line = QByteArrayView(start, length);
        return Status::Line;
    }
}

void LineFramer::clear() {
    m_buffer.clear();
    m_offset = 0;
    m_scanned = 0;
    m_discarding = false;
}

void LineFramer::compact() {
    if (m_offset == 0) {
        return;
    }
    if (m_offset >= m_buffer.size()) {
        m_buffer.clear();
    } else {
        m_buffer.remove(0, m_offset);
    }
    m_scanned = std::max<qsizetype>(0, m_scanned - m_offset);
    m_offset = 0;
}

} // namespace velk::fsd
