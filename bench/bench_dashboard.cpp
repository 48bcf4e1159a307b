// Start-up cost of the dashboard: time from sign-in (loginSuccess) to the
// dashboard's first frame, and resident memory with it shown, each beside a
// minimal Qt Quick window (one rectangle) on the same machine.
//
// Cold figures come from fresh child processes (this program run with
// --child=minimal or --child=dashboard); warm figures repeat the step in one
// process.
#include "Startup.h"
#include "model/MetaTypes.h"
#include "ui/MainWindow.h"
#include "ui/QmlTypes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QQmlComponent>
#include <QQuickStyle>
#include <QQuickView>
#include <QQuickWindow>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int FrameTimeoutMs = 30000;

void dropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

bool smokeRun() {
    return qEnvironmentVariableIsSet("VELK_BENCH_SMOKE");
}

// Runs the event loop until `window` has shown a frame; false on time-out.
bool waitForFrame(QQuickWindow* window) {
    QEventLoop loop;
    QObject::connect(window, &QQuickWindow::frameSwapped, &loop, &QEventLoop::quit);
    QTimer::singleShot(FrameTimeoutMs, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0;
}

// The floor: a view of one rectangle, as small as a Qt Quick window gets.
std::unique_ptr<QQuickView> showMinimalWindow() {
    auto view = std::make_unique<QQuickView>();
    QQmlComponent component(view->engine());
    component.setData("import QtQuick\nRectangle { color: \"#eef2f6\" }", QUrl());
    view->setContent(QUrl(), &component, component.create());
    view->resize(1000, 700);
    view->show();
    return view;
}

qint64 residentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// Child process: shows one window from cold and prints "<ms> <rss kB>".
int runChild(const char* kind) {
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QQuickView> minimal;
    QQuickWindow* window = nullptr;
    if (std::strcmp(kind, "dashboard") == 0) {
        velk::onLoginSuccess();
        window = velk::mainWindow()->quickView();
    } else {
        minimal = showMinimalWindow();
        window = minimal.get();
    }
    if (!waitForFrame(window)) {
        return 2;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("%.3f %lld\n", ms, static_cast<long long>(residentKilobytes()));
    std::fflush(stdout);
    velk::tearDownSession();
    return 0;
}

struct ColdFigures {
    double ms = 0;
    double rssMb = 0;
};
ColdFigures g_cold[2]; // minimal, dashboard
double g_warmMs[2] = {0, 0};

void coldStart(benchmark::State& state, int kind) {
    const char* name = kind == 0 ? "minimal" : "dashboard";
    double ms = 0;
    double rss = 0;
    int runs = 0;
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child=%1").arg(name)});
        if (!child.waitForFinished(60000) || child.exitCode() != 0) {
            state.SkipWithError("child process failed");
            return;
        }
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        const double childMs = fields.value(0).toDouble();
        state.SetIterationTime(childMs / 1000.0);
        ms += childMs;
        rss += fields.value(1).toDouble() / 1024.0;
        ++runs;
    }
    g_cold[kind] = {ms / runs, rss / runs};
    state.counters["first_frame_ms"] = ms / runs;
    state.counters["rss_mb"] = rss / runs;
}

void BM_ColdStartMinimalQuickWindow(benchmark::State& state) {
    coldStart(state, 0);
}
void BM_ColdStartDashboardAfterLogin(benchmark::State& state) {
    coldStart(state, 1);
}

// Warm: the same step again in a process that has shown it before.
void BM_WarmMinimalQuickWindow(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto view = showMinimalWindow();
        if (!waitForFrame(view.get())) {
            state.SkipWithError("no frame");
            return;
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        state.SetIterationTime(ms / 1000.0);
        total += ms;
    }
    g_warmMs[0] = total / static_cast<double>(state.iterations());
}

void BM_WarmDashboardAfterLogin(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        velk::onLoginSuccess();
        if (!waitForFrame(velk::mainWindow()->quickView())) {
            state.SkipWithError("no frame");
            return;
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        state.SetIterationTime(ms / 1000.0);
        total += ms;
        velk::tearDownSession();
    }
    g_warmMs[1] = total / static_cast<double>(state.iterations());
}

void registerBenchmarks() {
    const int cold = smokeRun() ? 1 : 5;
    const int warm = smokeRun() ? 1 : 20;
    benchmark::RegisterBenchmark("BM_ColdStartMinimalQuickWindow", BM_ColdStartMinimalQuickWindow)
        ->Iterations(cold)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_ColdStartDashboardAfterLogin", BM_ColdStartDashboardAfterLogin)
        ->Iterations(cold)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_WarmMinimalQuickWindow", BM_WarmMinimalQuickWindow)
        ->Iterations(warm)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_WarmDashboardAfterLogin", BM_WarmDashboardAfterLogin)
        ->Iterations(warm)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

void printRatio(const char* what, double value, double floor) {
    if (floor > 0) {
        std::printf("%s: %.2f x the minimal Qt Quick window (%.1f vs %.1f)\n", what, value / floor, value,
                    floor);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QApplication app(argc, argv);
    qInstallMessageHandler(dropMessages);
    velk::model::registerMetaTypes();
    velk::ui::registerQmlTypes();
    if (argc > 1 && std::strncmp(argv[1], "--child=", 8) == 0) {
        return runChild(argv[1] + 8);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatio("cold first frame after sign-in, ms", g_cold[1].ms, g_cold[0].ms);
    printRatio("resident memory with the dashboard shown, MB", g_cold[1].rssMb, g_cold[0].rssMb);
    printRatio("warm first frame after sign-in, ms", g_warmMs[1], g_warmMs[0]);
    return 0;
}
