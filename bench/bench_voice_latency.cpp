// Mouth to ear through the whole voice road on the JACK rig: a harness plays
// a 20 ms 1 kHz burst every 500 ms into the engine's microphone (the rig's
// loopback), the client sends it through Opus and UDP to a voice test server
// on loopback that relays it back, and the client decodes and plays it into
// the loopback again, where the harness hears it. Beside it its floor, the
// engine's microphone test (capture, encode, decode, play; no network), and
// the client's CPU per second of two-way voice beside idle streams.
#include "BenchSupport.h"
#include "support/TestSupport.h"
#include "support/VoiceSessionRig.h"
#include "voice/PortAudioSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace velk;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr float kThreshold = 0.1f;
const bool kSmoke = qEnvironmentVariableIsSet("VELK_BENCH_SMOKE");
const int kBursts = kSmoke ? 3 : 60;
const int kCpuWindowMs = kSmoke ? 500 : 5000;

// A duplex stream of its own on the loopback device: it writes the burst and
// finds, in what the loopback captures, first its own burst (burst in) and
// then the client's playback of it (burst out), counted in frames.
class BurstHarness {
public:
    enum State { Idle, Armed, WaitIn, InBurst, WaitOut, Done };

    ~BurstHarness() { close(); }

    bool open(int device) {
        std::lock_guard lock(voice::portAudioMutex());
        m_initialised = Pa_Initialize() == paNoError;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        if (!m_initialised || !info) {
            return false;
        }
        PaStreamParameters in{device, kChannels, paFloat32, info->defaultLowInputLatency, nullptr};
        PaStreamParameters out{device, kChannels, paFloat32, info->defaultLowOutputLatency, nullptr};
        return Pa_OpenStream(&m_stream, &in, &out, kRate, kRate / 50, paClipOff, &BurstHarness::callback,
                             this) == paNoError &&
               Pa_StartStream(m_stream) == paNoError;
    }
    void close() {
        std::lock_guard lock(voice::portAudioMutex());
        if (m_stream) {
            Pa_CloseStream(m_stream);
            m_stream = nullptr;
        }
        if (m_initialised) {
            Pa_Terminate();
            m_initialised = false;
        }
    }

    void arm() { m_state = Armed; }
    void reset() { m_state = Idle; }
    bool done() const { return m_state == Done; }
    double latencySeconds() const { return double(m_out - m_in) / kRate; }
    // A steady tone instead of bursts: the pilot talking.
    void setTalking(bool on) { m_talking = on; }

private:
    static int callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        static_cast<BurstHarness*>(self)->process(static_cast<const float*>(input),
                                                  static_cast<float*>(output), long(frames));
        return paContinue;
    }

    void process(const float* in, float* out, long frames) {
        const bool burst = m_state == Armed;
        for (long i = 0; i < frames; ++i) {
            const bool sound = burst || m_talking;
            const float s =
                sound ? 0.5f * std::sin(2.0f * float(M_PI) * 1000.0f * float(m_phase++) / kRate) : 0;
            std::fill(out + i * kChannels, out + (i + 1) * kChannels, s);
            detect(std::fabs(in[i * kChannels]) > kThreshold, m_frame + i);
        }
        if (burst) {
            m_state = WaitIn;
        }
        m_frame += frames;
    }

    void detect(bool loud, long frame) {
        switch (m_state.load()) {
        case WaitIn:
            if (loud) {
                m_in = m_lastLoud = frame;
                m_state = InBurst;
            }
            break;
        case InBurst:
            if (loud) {
                m_lastLoud = frame;
            } else if (frame - m_lastLoud > kRate / 200) { // 5 ms of quiet ends it
                m_state = WaitOut;
            }
            break;
        case WaitOut:
            if (loud) {
                m_out = frame;
                m_state = Done;
            }
            break;
        default:
            break;
        }
    }

    PaStream* m_stream = nullptr;
    bool m_initialised = false;
    std::atomic<int> m_state{Idle};
    std::atomic<bool> m_talking{false};
    long m_frame = 0;
    long m_phase = 0;
    long m_lastLoud = 0;
    std::atomic<long> m_in{0};
    std::atomic<long> m_out{0};
};

// A client Ready on a relaying voice test server, COM1 transmitting and
// receiving, its microphone and headphones on the loopback; tones and
// conflicts go to the speaker (the rig's silent system device).
struct Session {
    test::VoiceTestServer server;
    voice::VoiceClient client;

    bool connect() {
        if (!server.listen()) {
            return false;
        }
        test::useRigDevices(client, {"loopback", "loopback", "system"});
        server.relayVoiceAs("RELAY");
        client.transport()->setServer(server.server());
        client.setCid(1234567);
        client.connectToServer(QStringLiteral("bench"));
        const auto connected = [&] { return client.connectionState() == voice::ConnectionState::Connected; };
        if (!test::waitUntil(connected, 10000) || !server.waitForUdpPeer()) {
            return false;
        }
        server.sendWelcome("CES123");
        if (!test::waitUntil([&] { return client.isReady(); }, 10000)) {
            return false;
        }
        client.updateRadioStack({0, 118500, true, true, 1.0f, false});
        client.audioHandler()->setPttPlayDevice(1);
        client.audioHandler()->setConflictPlayDevice(1);
        return true;
    }
};

struct Latencies {
    double p50 = 0;
    double p95 = 0;
};
std::map<std::string, Latencies> g_latencies;

// Bursts through whatever the audio handler plays its capture back on. The
// capture gate is opened directly, not by push-to-talk: while push-to-talk is
// held every received packet is a conflict. It closes on the first quiet
// block after the burst, before the burst's playback reaches the microphone.
void runBursts(benchmark::State& state, voice::AudioHandler* audio, const std::string& name) {
    BurstHarness harness;
    if (!harness.open(JackRig::device("loopback"))) {
        state.SkipWithError("harness stream did not open");
        return;
    }
    bool heardBurst = false;
    QObject context;
    QObject::connect(audio, &voice::AudioHandler::inputVolumeChanged, &context, [&](voice::VolumeInfo level) {
        if (level.percent > 50) {
            heardBurst = true;
        } else if (heardBurst) {
            audio->setPttActive(false);
            heardBurst = false;
        }
    });
    std::vector<double> latencies;
    int lost = 0;
    for (auto _ : state) {
        QElapsedTimer since;
        since.start();
        audio->setPttActive(true);
        harness.arm();
        if (test::waitUntil([&] { return harness.done(); }, 400)) {
            latencies.push_back(harness.latencySeconds());
            state.SetIterationTime(latencies.back());
        } else {
            ++lost;
            state.SetIterationTime(0.4);
        }
        audio->setPttActive(false);
        test::waitUntil([&] { return since.elapsed() >= 500; }, 600);
        harness.reset();
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies.empty() ? 0.0 : latencies[size_t(q * double(latencies.size() - 1) + 0.5)] * 1000;
    };
    g_latencies[name] = {at(0.5), at(0.95)};
    state.counters["p50_ms"] = at(0.5);
    state.counters["p95_ms"] = at(0.95);
    state.counters["lost"] = lost;
}

void BM_MouthToEarVoiceRoad(benchmark::State& state) {
    Session session;
    if (!session.connect()) {
        state.SkipWithError("client did not become ready");
        return;
    }
    runBursts(state, session.client.audioHandler(), "road");
}

// The floor: the engine's own loopback, as the voice page's microphone test runs it.
void BM_MouthToEarMicTest(benchmark::State& state) {
    voice::VoiceClient client;
    test::useRigDevices(client, {"loopback", "loopback", "system"});
    voice::AudioHandler* audio = client.ensureAudioHandler();
    audio->startMicTest(0);
    if (!test::waitUntil([&] { return audio->testStreamsRunning(); }, 10000)) {
        state.SkipWithError("microphone test did not start");
        return;
    }
    runBursts(state, audio, "floor");
    audio->stopMicTest();
}

double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// CPU of this process (client, test server and harness; jackd is apart) per
// second: the pilot talking while the relay talks back, beside idle streams.
void BM_TwoWayVoiceCpu(benchmark::State& state) {
    Session session;
    BurstHarness mouth;
    if (!session.connect() || !mouth.open(JackRig::device("loopback"))) {
        state.SkipWithError("client or harness did not start");
        return;
    }
    const auto perSecond = [](const std::function<void()>& setUp) {
        setUp();
        QElapsedTimer wall;
        wall.start();
        const double cpu = processCpuMs();
        test::waitUntil([&] { return wall.elapsed() >= kCpuWindowMs; }, kCpuWindowMs + 1000);
        return (processCpuMs() - cpu) / (double(wall.elapsed()) / 1000);
    };
    voice::AudioHandler* audio = session.client.audioHandler();
    for (auto _ : state) {
        state.counters["idle_ms_per_s"] = perSecond([] {});
        state.counters["cpu_ms_per_s"] = perSecond([&] {
            mouth.setTalking(true);
            audio->setPttActive(true);
        });
        audio->setPttActive(false);
        mouth.setTalking(false);
    }
    const auto frames = [&](const QByteArray& callsign) {
        int n = 0;
        for (const QByteArray& d : session.server.datagrams()) {
            n += test::VoiceTestServer::parse(d).value_or(test::VoiceTestServer::Datagram{}).callsign ==
                 callsign;
        }
        return n;
    };
    state.counters["frames_sent"] = frames("CES123");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(bench::quietHandler);
    JackRig rig(kRate, kChannels);
    QString error = QStringLiteral("jackd is not installed");
    if (!JackRig::jackdAvailable() || !rig.start(&error) || !rig.holdPortAudio() ||
        JackRig::device("loopback") < 0) {
        std::printf("bench_voice_latency: no audio rig (%s)%s\n", qPrintable(error),
                    JackRig::required() ? "" : "; skipped");
        return JackRig::required() ? 1 : 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    for (const auto& [name, run] : {std::pair{"BM_MouthToEarVoiceRoad", &BM_MouthToEarVoiceRoad},
                                    std::pair{"BM_MouthToEarMicTest", &BM_MouthToEarMicTest}}) {
        benchmark::RegisterBenchmark(name, run)->Iterations(kBursts)->UseManualTime()->Unit(
            benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_TwoWayVoiceCpu", &BM_TwoWayVoiceCpu)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Latencies road = g_latencies["road"];
    const Latencies floor = g_latencies["floor"];
    if (floor.p50 > 0 && floor.p95 > 0) {
        std::printf("mouth to ear (goal: p95 <= 60 ms): p50 %.1f ms, p95 %.1f ms; microphone test floor "
                    "p50 %.1f ms, p95 %.1f ms; ratio p50 %.2f, p95 %.2f\n",
                    road.p50, road.p95, floor.p50, floor.p95, road.p50 / floor.p50, road.p95 / floor.p95);
    }
    return 0;
}
