#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velk::voice {

// A bounded FIFO of equal-sized float blocks in one buffer allocated up front,
// so that taking a block on an audio thread frees nothing.
class BlockRing {
public:
    // Allocates room for capacity blocks of blockSamples samples; empties the ring.
    void reset(int blockSamples, int capacity) {
        m_block = std::max(blockSamples, 0);
        m_capacity = std::max(capacity, 1);
        m_storage.assign(static_cast<size_t>(m_block) * static_cast<size_t>(m_capacity), 0.0f);
        clear();
    }
    void clear() {
        m_head = 0;
        m_size = 0;
    }

    // Appends count samples as one block, cut or padded with zeros to the block
    // size. A full ring drops its oldest block when dropOldest is set, otherwise
    // the new one; false when a block was dropped.
    bool push(const float* data, size_t count, bool dropOldest) {
        if (m_block == 0) {
            return false;
        }
        bool dropped = false;
        if (m_size == m_capacity) {
            if (!dropOldest) {
                return false;
            }
            pop();
            dropped = true;
        }
        float* slot = blockAt((m_head + m_size) % m_capacity);
        const size_t n = std::min(count, static_cast<size_t>(m_block));
        std::copy_n(data, n, slot);
        std::fill(slot + n, slot + m_block, 0.0f);
        ++m_size;
        return !dropped;
    }
    const float* front() const { return m_size > 0 ? blockAt(m_head) : nullptr; }
    void pop() {
        if (m_size > 0) {
            m_head = (m_head + 1) % m_capacity;
            --m_size;
        }
    }

    int blockSamples() const { return m_block; }
    int capacity() const { return m_capacity; }
    int size() const { return m_size; }
    bool empty() const { return m_size == 0; }

private:
    float* blockAt(int index) {
        return m_storage.data() + static_cast<size_t>(index) * static_cast<size_t>(m_block);
    }
    const float* blockAt(int index) const {
        return m_storage.data() + static_cast<size_t>(index) * static_cast<size_t>(m_block);
    }

    std::vector<float> m_storage;
    int m_block = 0;
    int m_capacity = 1;
    int m_head = 0;
    int m_size = 0;
};

} // namespace velk::voice
