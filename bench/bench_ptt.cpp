// Cost per input event of push-to-talk: an X keysym mapped to its virtual key
// and handled by the push-to-talk handler (the bound key among others), beside
// its floor, the same events handed to a sink that only counts.
#include "input/InputHooks.h"
#include "input/PttHandler.h"
#include "input/X11KeyMap.h"

#include <QCoreApplication>

#include "RatioReporter.h"
#include <X11/keysym.h>

#include <benchmark/benchmark.h>

#include <vector>

using namespace velk::input;

namespace {

// Hands the handler's sinks to the benchmark.
class CapturingHooks final : public InputHooks {
public:
    static inline KeySink s_key;
    bool installKeyboard(KeySink sink, QString*) override {
        s_key = std::move(sink);
        return true;
    }
    bool installMouse(MouseSink, QString*) override { return true; }
    void uninstallKeyboard() override { s_key = nullptr; }
    void uninstallMouse() override {}
    void setLostHandler(LostHandler) override {}
};

// A typing pilot: letters, digits, modifiers, navigation and the bound right Ctrl.
const std::vector<unsigned long>& keysyms() {
    static const std::vector<unsigned long> list = [] {
        std::vector<unsigned long> v;
        for (unsigned long k = XK_a; k <= XK_z; ++k) {
            v.push_back(k);
        }
        for (unsigned long k = XK_0; k <= XK_9; ++k) {
            v.push_back(k);
        }
        for (unsigned long k : {XK_Shift_L, XK_Control_R, XK_Alt_L, XK_Left, XK_KP_End, XK_F5, XK_space,
                                XK_comma, XK_Return, XK_Control_R, XK_Escape, XK_Menu}) {
            v.push_back(k);
        }
        return v;
    }();
    return list;
}

void BM_KeysymsThroughHandler(benchmark::State& state) {
    setInputHooksFactory([] { return std::make_unique<CapturingHooks>(); });
    PttHandler handler;
    handler.setBinding({PttBinding::Kind::Keyboard, 0xA3, -1});
    qint64 changes = 0;
    QObject::connect(&handler, &PttHandler::activeChanged, [&changes](bool) { ++changes; });
    const auto& list = keysyms();
    for (auto _ : state) {
        for (const unsigned long keysym : list) {
            const int vk = virtualKeyFromKeysym(keysym);
            CapturingHooks::s_key(KeyEvent{vk, true, false});
            CapturingHooks::s_key(KeyEvent{vk, false, false});
        }
    }
    benchmark::DoNotOptimize(changes);
    state.SetItemsProcessed(state.iterations() * static_cast<qint64>(list.size()) * 2);
    setInputHooksFactory({});
}
BENCHMARK(BM_KeysymsThroughHandler);

void BM_Floor_SameEventsToACountingSink(benchmark::State& state) {
    std::vector<int> virtualKeys;
    for (const unsigned long keysym : keysyms()) {
        virtualKeys.push_back(virtualKeyFromKeysym(keysym));
    }
    qint64 sum = 0;
    InputHooks::KeySink sink = [&sum](const KeyEvent& e) { sum += e.virtualKey; };
    for (auto _ : state) {
        for (const int vk : virtualKeys) {
            sink(KeyEvent{vk, true, false});
            sink(KeyEvent{vk, false, false});
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * static_cast<qint64>(virtualKeys.size()) * 2);
}
BENCHMARK(BM_Floor_SameEventsToACountingSink);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("BM_KeysymsThroughHandler", "BM_Floor_SameEventsToACountingSink");
    benchmark::Shutdown();
    return 0;
}
