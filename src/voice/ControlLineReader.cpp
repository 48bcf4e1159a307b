#include "voice/ControlLineReader.h"

#include <cstring>

namespace velk::voice {

ControlLineReader::ControlLineReader() : m_buffer(8192) {}

std::span<char> ControlLineReader::writable() {
    if (m_buffer.size() - m_end < kReadSize) {
        // Move the unconsumed bytes to the front first; grow only if that is
        // not enough.
        if (m_start > 0) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_start, pending());
            m_end -= m_start;
            m_start = 0;
        }
        if (m_buffer.size() - m_end < kReadSize) {
            m_buffer.resize(m_end + kReadSize);
        }
    }
    return {m_buffer.data() + m_end, kReadSize};
}

} // namespace velk::voice
