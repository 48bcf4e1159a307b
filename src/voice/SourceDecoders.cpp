#include "voice/SourceDecoders.h"

#include <algorithm>
#include <cmath>

namespace velk::voice {

struct SourceDecoders::Talker {
    int source = 0;
    QByteArray sender;
    OpusDecoder decoder;
    std::vector<float> pending; // decoded samples short of a whole chunk
    std::chrono::nanoseconds lastUsed{0};
    quint64 lastUse = 0;
};

SourceDecoders::SourceDecoders() = default;
SourceDecoders::~SourceDecoders() = default;

void SourceDecoders::configure(int channels) {
    clear();
    m_channels = channels == 2 ? 2 : 1;
}

void SourceDecoders::clear() {
    m_talkers.clear();
}

void SourceDecoders::removeSource(int source) {
    std::erase_if(m_talkers, [source](const auto& t) { return t->source == source; });
}

SourceDecoders::Talker& SourceDecoders::talkerFor(int source, const QByteArray& sender,
                                                  std::chrono::nanoseconds now) {
    ++m_useCounter;
    for (auto& t : m_talkers) {
        if (t->source == source && t->sender == sender) {
            if (now - t->lastUsed >= kIdleReset) {
                t->pending.clear();
            }
            t->lastUsed = now;
            t->lastUse = m_useCounter;
            return *t;
        }
    }
    std::unique_ptr<Talker> fresh;
    if (static_cast<int>(m_talkers.size()) >= kMaxTalkers) {
        auto oldest = std::min_element(m_talkers.begin(), m_talkers.end(),
                                       [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
        fresh = std::move(*oldest);
        m_talkers.erase(oldest);
    } else {
        fresh = std::make_unique<Talker>();
    }
    fresh->source = source;
    fresh->sender = sender;
    fresh->decoder.init(m_channels);
    fresh->pending.clear();
    fresh->pending.reserve(static_cast<size_t>(2 * chunkSamples()));
    fresh->lastUsed = now;
    fresh->lastUse = m_useCounter;
    m_talkers.push_back(std::move(fresh));
    return *m_talkers.back();
}

bool SourceDecoders::decode(int source, const QByteArray& sender, const uint8_t* data, int size, float volume,
                            std::chrono::nanoseconds now, VolumeInfo& level, const ChunkSink& sink) {
    Talker& t = talkerFor(source, sender, now);
    const size_t start = t.pending.size();
    t.pending.resize(start + static_cast<size_t>(chunkSamples()));
    const int count = t.decoder.decodeInto(data, size, t.pending.data() + start);
    t.pending.resize(start + static_cast<size_t>(std::max(count, 0)));
    if (count <= 0) {
        return false;
    }
    // The level is of the packet as decoded, before the radio's volume.
    double sum = 0.0;
    for (size_t i = start; i < t.pending.size(); ++i) {
        const float s = t.pending[i];
        sum += static_cast<double>(s) * s;
        t.pending[i] = std::clamp(s * volume, -1.0f, 1.0f);
    }
    level = VolumeInfo::fromRms(std::sqrt(sum / count));
    const size_t chunk = static_cast<size_t>(chunkSamples());
    const size_t whole = t.pending.size() / chunk * chunk;
    if (whole > 0) {
        sink(t.pending.data(), whole / chunk);
        t.pending.erase(t.pending.begin(), t.pending.begin() + static_cast<std::ptrdiff_t>(whole));
    }
    return true;
}

} // namespace velk::voice
