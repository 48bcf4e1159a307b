#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace velk::voice {

// Splits the control connection's byte stream into lines at "\n". Lines are
// handed out as views into one reused buffer. A pending line is bounded:
// once more than kMaxPendingLine bytes wait without "\n", they are dropped
// together with the rest of that line, up to and including its "\n".
class ControlLineReader {
public:
    static constexpr std::size_t kMaxPendingLine = 65536;
    static constexpr std::size_t kReadSize = 4096;

    ControlLineReader();

    // Room for the next read of up to kReadSize bytes.
    std::span<char> writable();

    // Takes `count` bytes written into writable() and calls onLine(view) for
    // every completed line, in order; the view is valid during the call only.
    // onOverflow(droppedBytes) is called when a pending line is given up.
    template <typename OnLine, typename OnOverflow>
    void commit(std::size_t count, OnLine&& onLine, OnOverflow&& onOverflow);

    std::size_t pending() const { return m_end - m_start; }

private:
    std::vector<char> m_buffer;
    std::size_t m_start = 0; // first byte not yet handed out
    std::size_t m_end = 0;   // end of received bytes
    bool m_discarding = false;
};

template <typename OnLine, typename OnOverflow>
void ControlLineReader::commit(std::size_t count, OnLine&& onLine, OnOverflow&& onOverflow) {
    const std::size_t scanFrom = m_end;
    m_end += count;
    const char* base = m_buffer.data();
    std::size_t pos = scanFrom;
    while (pos < m_end) {
        const void* hit = std::memchr(base + pos, '\n', m_end - pos);
        if (!hit) {
            break;
        }
        const std::size_t newline = static_cast<const char*>(hit) - base;
        if (m_discarding) {
            m_discarding = false; // the tail of an overlong line ends here
        } else {
            onLine(std::string_view(base + m_start, newline - m_start));
        }
        m_start = newline + 1;
        pos = m_start;
    }
    if (m_discarding) {
        m_start = m_end = 0;
    } else if (pending() > kMaxPendingLine) {
        onOverflow(pending());
        m_start = m_end = 0;
        m_discarding = true;
    } else if (m_start == m_end) {
        m_start = m_end = 0;
    }
}

} // namespace velk::voice
