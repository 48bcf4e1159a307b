#include "voice/SourceDecoders.h"

#include <algorithm>
#include <cmath>

namespace velk::voice {

struct SourceDecoders::Talker {
    int source = 0;
    QByteArray sender;
    OpusDecoder decoder;
    StreamResampler resampler;
    std::vector<float> pending; // device-rate samples short of a whole block
    std::chrono::nanoseconds lastUsed{0};
    quint64 lastUse = 0;
};

SourceDecoders::SourceDecoders() = default;
SourceDecoders::~SourceDecoders() = default;

void SourceDecoders::configure(int sampleRate, int channels, int blockSamples) {
    clear();
    m_sampleRate = sampleRate;
    m_channels = channels == 2 ? 2 : 1;
    m_blockSamples = blockSamples;
    m_decoded.assign(static_cast<size_t>(m_channels * kOpusFrameSamples), 0.0f);
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
                t->resampler.reset();
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
    fresh->resampler.configure(kOpusRate, m_sampleRate, m_channels, kOpusFrameSamples);
    fresh->pending.clear();
    fresh->pending.reserve(static_cast<size_t>(m_blockSamples) +
                           fresh->resampler.maxOutFrames() * static_cast<size_t>(m_channels));
    fresh->lastUsed = now;
    fresh->lastUse = m_useCounter;
    m_talkers.push_back(std::move(fresh));
    return *m_talkers.back();
}

bool SourceDecoders::decode(int source, const QByteArray& sender, const uint8_t* data, int size, float volume,
                            std::chrono::nanoseconds now, VolumeInfo& level, std::vector<float>& blocks) {
    if (m_blockSamples < 1 || m_decoded.empty()) {
        return false;
    }
    Talker& t = talkerFor(source, sender, now);
    const int count = t.decoder.decodeInto(data, size, m_decoded.data());
    if (count <= 0) {
        return false;
    }
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        const double s = m_decoded[static_cast<size_t>(i)];
        sum += s * s;
    }
    level = VolumeInfo::fromRms(std::sqrt(sum / count));

    const size_t frames = t.resampler.process(m_decoded.data(), static_cast<size_t>(count / m_channels));
    const float* out = t.resampler.output();
    const size_t produced = frames * static_cast<size_t>(m_channels);
    const size_t start = t.pending.size();
    t.pending.resize(start + produced);
    for (size_t i = 0; i < produced; ++i) {
        t.pending[start + i] = std::clamp(out[i] * volume, -1.0f, 1.0f);
    }
    const size_t block = static_cast<size_t>(m_blockSamples);
    const size_t whole = t.pending.size() / block * block;
    if (whole > 0) {
        blocks.insert(blocks.end(), t.pending.begin(),
                      t.pending.begin() + static_cast<std::ptrdiff_t>(whole));
        t.pending.erase(t.pending.begin(), t.pending.begin() + static_cast<std::ptrdiff_t>(whole));
    }
    return true;
}

} // namespace velk::voice
