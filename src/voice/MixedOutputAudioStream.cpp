#include "voice/MixedOutputAudioStream.h"

#include "voice/AudioLimits.h"
#include "voice/PortAudioSupport.h"
#include "voice/SoftClip.h"

#include <QDebug>

#include <algorithm>

namespace velk::voice {

namespace {

int renderCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags, void* userData) {
    static_cast<MixedOutputAudioStream*>(userData)->renderOutput(static_cast<float*>(output), frames);
    return paContinue;
}

bool usable(const StreamConfig& c) {
    return c.withinLimits() && c.blockSamples % c.channels == 0;
}

} // namespace

MixedOutputAudioStream::MixedOutputAudioStream(QObject* parent)
    : QObject(parent), m_clock(steadyAudioClock()),
      m_conflictTone(44100, kConflictToneFrequency, kToneAmplitude) {}

MixedOutputAudioStream::~MixedOutputAudioStream() {
    stop();
}

void MixedOutputAudioStream::setClock(AudioClock clock) {
    std::scoped_lock lock(m_mutex, m_decodeMutex);
    m_clock = clock ? std::move(clock) : steadyAudioClock();
}

bool MixedOutputAudioStream::configure(const StreamConfig& config) {
    if (!usable(config)) {
        qWarning() << "MixedOutputAudioStream: unusable stream configuration" << config.sampleRate
                   << config.channels << config.blockSamples;
        return false;
    }
    m_sampleRate = config.sampleRate;
    m_channels = config.channels;
    m_blockSamples = config.blockSamples;
    size_t chunk = 0;
    {
        std::lock_guard lock(m_decodeMutex);
        m_decoders.configure(config.channels);
        chunk = static_cast<size_t>(m_decoders.chunkSamples());
    }
    std::lock_guard lock(m_mutex);
    m_chunkSamples = chunk;
    m_oneShot.reset(config.blockSamples, kMaxOneShotBlocks);
    m_conflictTone.setSampleRate(config.sampleRate);
    m_conflictBlocks = 0;
    for (Source& s : m_sources) {
        s.queue.reset(static_cast<int>(chunk), kMaxSourceChunks);
        s.backlogSince = std::chrono::nanoseconds(-1);
    }
    m_mix.assign(chunk, 0.0f);
    if (!m_resampler.configure(kOpusRate, config.sampleRate, config.channels, kOpusFrameSamples)) {
        return false;
    }
    m_fifo.assign(static_cast<size_t>(config.blockSamples) +
                      m_resampler.maxOutFrames() * static_cast<size_t>(config.channels),
                  0.0f);
    m_fifoFill = 0;
    m_leadIn = true;
    return true;
}

bool MixedOutputAudioStream::start(const StreamConfig& config) {
    return begin(config, true);
}

bool MixedOutputAudioStream::startWithoutDevice(const StreamConfig& config) {
    return begin(config, false);
}

bool MixedOutputAudioStream::begin(const StreamConfig& config, bool openDevice) {
    const PortAudioStreamRequest request{.owner = "MixedOutputAudioStream",
                                         .input = false,
                                         .device = config.device,
                                         .channels = config.channels,
                                         .format = paFloat32,
                                         .sampleRate = double(config.sampleRate),
                                         .framesPerBuffer =
                                             static_cast<unsigned long>(config.framesPerBlock()),
                                         .callback = &renderCallback,
                                         .userData = this};
    return m_device.start(request, openDevice, [&] { return configure(config); });
}

void MixedOutputAudioStream::stop() {
    std::lock_guard lock(portAudioMutex());
    m_device.close();
    {
        std::lock_guard queues(m_mutex);
        m_sources.clear();
        m_oneShot.clear();
        m_conflictBlocks = 0;
        m_fifoFill = 0;
    }
    {
        std::lock_guard decoders(m_decodeMutex);
        m_decoders.clear();
    }
    qDebug() << "MixedOutputAudioStream: stopped";
}

bool MixedOutputAudioStream::restart(const StreamConfig& config) {
    std::lock_guard lock(portAudioMutex());
    stop();
    return start(config);
}

MixedOutputAudioStream::Source* MixedOutputAudioStream::findSource(int id) {
    auto it = std::find_if(m_sources.begin(), m_sources.end(), [id](const Source& s) { return s.id == id; });
    return it == m_sources.end() ? nullptr : &*it;
}

const MixedOutputAudioStream::Source* MixedOutputAudioStream::findSource(int id) const {
    auto it = std::find_if(m_sources.begin(), m_sources.end(), [id](const Source& s) { return s.id == id; });
    return it == m_sources.end() ? nullptr : &*it;
}

void MixedOutputAudioStream::addSource(int id) {
    std::lock_guard lock(m_mutex);
    if (findSource(id)) {
        return;
    }
    Source s;
    s.id = id;
    s.queue.reset(static_cast<int>(m_chunkSamples), kMaxSourceChunks);
    m_sources.push_back(std::move(s));
}

void MixedOutputAudioStream::removeSource(int id) {
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_sources, [id](const Source& s) { return s.id == id; });
    }
    std::lock_guard lock(m_decodeMutex);
    m_decoders.removeSource(id);
}

bool MixedOutputAudioStream::hasSource(int id) const {
    std::lock_guard lock(m_mutex);
    return findSource(id) != nullptr;
}

int MixedOutputAudioStream::queuedChunks(int id) const {
    std::lock_guard lock(m_mutex);
    const Source* s = findSource(id);
    return s ? s->queue.size() : -1;
}

int MixedOutputAudioStream::talkerCount() const {
    std::lock_guard lock(m_decodeMutex);
    return m_decoders.talkerCount();
}

void MixedOutputAudioStream::pushEncodedAudio(int id, const std::vector<uint8_t>& packet, bool conflict,
                                              float volume, const QByteArray& sender) {
    if (!isRunning() || m_blockSamples < 1) {
        return;
    }
    if (conflict) {
        holdConflictTone(volume);
        return;
    }
    volume = clampRadioVolume(volume);
    // The queue lock is taken inside the decoding lock (never the other way
    // round), so the chunks go from the talker's buffer to the queue in one copy.
    VolumeInfo level;
    {
        std::lock_guard lock(m_decodeMutex);
        const bool decoded = m_decoders.decode(
            id, sender, packet.data(), static_cast<int>(packet.size()), volume, m_clock(), level,
            [this, id](const float* samples, size_t chunks) {
                std::lock_guard queues(m_mutex);
                Source* source = findSource(id);
                if (!source || static_cast<size_t>(source->queue.blockSamples()) != m_chunkSamples) {
                    return;
                }
                for (size_t c = 0; c < chunks; ++c) {
                    source->queue.push(samples + c * m_chunkSamples, m_chunkSamples, true);
                }
            });
        if (!decoded) {
            return;
        }
    }
    emit outputVolumeChanged(level);
}

void MixedOutputAudioStream::enqueueOneShot(std::vector<float>&& block) {
    if (!isRunning() || m_blockSamples < 1 || block.empty()) {
        return;
    }
    for (float& v : block) {
        v = std::isnan(v) ? 0.0f : std::clamp(v, -1.0f, 1.0f);
    }
    std::lock_guard lock(m_mutex);
    m_oneShot.push(block.data(), block.size(), false);
}

void MixedOutputAudioStream::holdConflictTone(float volume) {
    if (!isRunning() || m_blockSamples < 1) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_conflictBlocks = kConflictHoldBlocks;
    m_conflictVolume = clampVolume(volume);
}

void MixedOutputAudioStream::mixSources() {
    const std::chrono::nanoseconds now = m_clock();
    std::fill(m_mix.begin(), m_mix.end(), 0.0f);
    bool any = false;
    for (Source& s : m_sources) {
        // A backlog left by a stall would otherwise delay this source for the
        // rest of the transmission: shed one chunk per half second of backlog.
        // The slack is kept: shed, it would leave a hole at the next late packet.
        if (s.queue.size() > kSlackChunks + 1) {
            if (s.backlogSince.count() < 0) {
                s.backlogSince = now;
            } else if (now - s.backlogSince >= kBacklogDrain) {
                s.queue.pop();
                s.backlogSince = now;
            }
        } else {
            s.backlogSince = std::chrono::nanoseconds(-1);
        }
        const float* chunk = s.queue.front();
        if (!chunk) {
            continue;
        }
        for (size_t i = 0; i < m_mix.size(); ++i) {
            m_mix[i] += chunk[i];
        }
        s.queue.pop();
        any = true;
    }
    if (any) {
        softClipBlock(m_mix.data(), m_mix.size());
    }
}

void MixedOutputAudioStream::renderOutput(float* buffer, unsigned long frames) {
    if (!buffer) {
        return;
    }
    const size_t channels = static_cast<size_t>(m_channels.load());
    const size_t n = static_cast<size_t>(frames) * channels;
    std::lock_guard lock(m_mutex);
    if (const float* tone = m_oneShot.front()) {
        const size_t m = std::min(n, static_cast<size_t>(m_oneShot.blockSamples()));
        std::copy_n(tone, m, buffer);
        std::fill(buffer + m, buffer + n, 0.0f);
        m_oneShot.pop();
        return;
    }
    if (m_conflictBlocks > 0) {
        --m_conflictBlocks;
        m_conflictTone.fillBlock(buffer, static_cast<int>(frames), static_cast<int>(channels),
                                 m_conflictVolume);
        return;
    }
    // Mix 48 kHz chunks until the converted audio covers this block; the
    // converter hands out its output unevenly, so a block takes zero to two.
    const size_t want = std::min(n, static_cast<size_t>(m_blockSamples.load()));
    for (int step = 0; step < 4 && m_fifoFill < want && !m_mix.empty(); ++step) {
        mixSources();
        const size_t produced = m_resampler.process(m_mix.data(), m_mix.size() / channels) * channels;
        const size_t room = std::min(produced, m_fifo.size() - m_fifoFill);
        std::copy_n(m_resampler.output(), room, m_fifo.data() + m_fifoFill);
        m_fifoFill += room;
        if (m_leadIn) {
            // Silence makes up the converter's first shortfall; a second chunk
            // taken now would hold every later one back by a block.
            m_leadIn = false;
            m_fifoFill = leadInWithSilence(m_fifo, m_fifoFill, want, int(channels));
        }
    }
    const size_t taken = std::min(n, m_fifoFill);
    std::copy_n(m_fifo.data(), taken, buffer);
    std::fill(buffer + taken, buffer + n, 0.0f);
    std::copy(m_fifo.begin() + static_cast<std::ptrdiff_t>(taken),
              m_fifo.begin() + static_cast<std::ptrdiff_t>(m_fifoFill), m_fifo.begin());
    m_fifoFill -= taken;
}

} // namespace velk::voice
