// Start-up cost of the dashboard: time from sign-in (loginSuccess) to the
// dashboard's first frame, and resident memory with it shown, each beside a
// minimal Qt Quick window (one rectangle) on the same machine.
//
// Cold figures come from fresh child processes (this program run with
// --child=minimal, --child=text, --child=signin or --child=dashboard):
// "signin" shows the login window first and signs in once it has prepared the
// dashboard's view, as in the client; "dashboard" signs in with no window
// before it. Warm figures repeat the step in one process. The second floor, a
// minimal window with one line of text, shows what the font system's start
// alone costs.
#include "AppConfig.h"
#include "BenchSupport.h"
#include "Startup.h"
#include "model/MetaTypes.h"
#include "network/ApiService.h"
#include "ui/DashboardPreload.h"
#include "ui/LoginWindow.h"
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

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int FrameTimeoutMs = 30000;

bool smokeRun() {
    return qEnvironmentVariableIsSet("VELK_BENCH_SMOKE");
}

// Runs the event loop until `window` has shown a frame and returns the
// milliseconds on `timer` when it did (what runs after the frame is not
// counted); -1 on time-out.
double waitForFrame(QQuickWindow* window, const QElapsedTimer& timer) {
    std::atomic<qint64> swappedAt{-1};
    QEventLoop loop;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, &loop,
        [&] {
            swappedAt = timer.nsecsElapsed();
            loop.quit();
        },
        Qt::DirectConnection);
    QTimer::singleShot(FrameTimeoutMs, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0 ? swappedAt / 1e6 : -1.0;
}

// The floor: a view of one rectangle, as small as a Qt Quick window gets
// (with `text`, one line of text on it).
std::unique_ptr<QQuickView> showMinimalWindow(bool text = false) {
    auto view = std::make_unique<QQuickView>();
    QQmlComponent component(view->engine());
    component.setData(
        text ? "import QtQuick\nRectangle { color: \"#eef2f6\"; Text { text: \"请选择飞行模拟平台\" } }"
             : "import QtQuick\nRectangle { color: \"#eef2f6\" }",
        QUrl());
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

// Shows the login window as the client does and returns once it has painted
// and the dashboard's view is prepared, as it is while a pilot types.
std::unique_ptr<velk::ui::LoginWindow> showLoginWindow() {
    auto login = std::make_unique<velk::ui::LoginWindow>();
    velk::setLoginWindow(login.get());
    velk::showLoginWindow();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop] {
        if (velk::ui::hasPreparedDashboardView()) {
            loop.quit();
        }
    });
    poll.start(10);
    QTimer::singleShot(FrameTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return login;
}

// Child process: shows one window from cold and prints "<ms> <rss kB>". The
// configuration store and the web-API client exist before sign-in, as in the
// client; "signin" shows the login window first, as the client does.
int runChild(const char* kind) {
    velk::AppConfig::instance();
    velk::network::ApiService::instance();
    std::unique_ptr<velk::ui::LoginWindow> login;
    if (std::strcmp(kind, "signin") == 0) {
        login = showLoginWindow();
    }
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QQuickView> minimal;
    QQuickWindow* window = nullptr;
    if (login || std::strcmp(kind, "dashboard") == 0) {
        velk::onLoginSuccess();
        window = velk::mainWindow()->quickView();
    } else {
        minimal = showMinimalWindow(std::strcmp(kind, "text") == 0);
        window = minimal.get();
    }
    const double ms = waitForFrame(window, timer);
    if (ms < 0) {
        return 2;
    }
    std::printf("%.3f %lld\n", ms, static_cast<long long>(residentKilobytes()));
    std::fflush(stdout);
    velk::tearDownSession();
    velk::ui::dropPreparedDashboardView();
    velk::setLoginWindow(nullptr);
    return 0;
}

// The median of the runs stands for the benchmark: a loaded machine makes outliers.
double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct ColdFigures {
    double ms = 0;
    double rssMb = 0;
};
enum Kind { Minimal, Text, Dashboard, SignIn };
const char* const KindNames[] = {"minimal", "text", "dashboard", "signin"};
ColdFigures g_cold[4];
double g_warmMs[2] = {0, 0};

void coldStart(benchmark::State& state, Kind kind) {
    const char* name = KindNames[kind];
    std::vector<double> ms;
    std::vector<double> rss;
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
        ms.push_back(childMs);
        rss.push_back(fields.value(1).toDouble() / 1024.0);
    }
    g_cold[kind] = {median(ms), median(rss)};
    state.counters["first_frame_ms"] = g_cold[kind].ms;
    state.counters["rss_mb"] = g_cold[kind].rssMb;
}

void BM_ColdStartMinimalQuickWindow(benchmark::State& state) {
    coldStart(state, Minimal);
}
void BM_ColdStartMinimalQuickWindowWithText(benchmark::State& state) {
    coldStart(state, Text);
}
void BM_ColdStartDashboardNoLoginWindow(benchmark::State& state) {
    coldStart(state, Dashboard);
}
void BM_ColdStartDashboardAfterLoginWindow(benchmark::State& state) {
    coldStart(state, SignIn);
}

// Warm: the same step again in a process that has shown it before.
void BM_WarmMinimalQuickWindow(benchmark::State& state) {
    std::vector<double> runs;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto view = showMinimalWindow();
        const double ms = waitForFrame(view.get(), timer);
        if (ms < 0) {
            state.SkipWithError("no frame");
            return;
        }
        state.SetIterationTime(ms / 1000.0);
        runs.push_back(ms);
    }
    g_warmMs[0] = median(runs);
}

void BM_WarmDashboardAfterLogin(benchmark::State& state) {
    std::vector<double> runs;
    for (auto _ : state) {
        // As after a logout: the login window prepared the view while it was up.
        velk::ui::prepareDashboardView();
        QElapsedTimer timer;
        timer.start();
        velk::onLoginSuccess();
        const double ms = waitForFrame(velk::mainWindow()->quickView(), timer);
        if (ms < 0) {
            state.SkipWithError("no frame");
            return;
        }
        state.SetIterationTime(ms / 1000.0);
        runs.push_back(ms);
        velk::tearDownSession();
    }
    g_warmMs[1] = median(runs);
}

void registerBenchmarks() {
    const int cold = smokeRun() ? 1 : 5;
    const int warm = smokeRun() ? 1 : 20;
    benchmark::RegisterBenchmark("BM_ColdStartMinimalQuickWindow", BM_ColdStartMinimalQuickWindow)
        ->Iterations(cold)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_ColdStartMinimalQuickWindowWithText",
                                 BM_ColdStartMinimalQuickWindowWithText)
        ->Iterations(cold)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_ColdStartDashboardNoLoginWindow", BM_ColdStartDashboardNoLoginWindow)
        ->Iterations(cold)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_ColdStartDashboardAfterLoginWindow", BM_ColdStartDashboardAfterLoginWindow)
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

void printRatio(const char* what, double value, double floor, const char* floorName) {
    if (floor > 0) {
        std::printf("%s: %.2f x %s (%.1f vs %.1f)\n", what, value / floor, floorName, value, floor);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QApplication app(argc, argv);
    qInstallMessageHandler(velk::bench::quietHandler);
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
    const char* floor = "the minimal Qt Quick window";
    const char* textFloor = "the minimal window with a line of text";
    printRatio("cold first frame after sign-in, ms", g_cold[SignIn].ms, g_cold[Minimal].ms, floor);
    printRatio("cold first frame after sign-in, ms", g_cold[SignIn].ms, g_cold[Text].ms, textFloor);
    printRatio("cold first frame, no login window before it, ms", g_cold[Dashboard].ms, g_cold[Minimal].ms,
               floor);
    printRatio("resident memory with the dashboard shown, MB", g_cold[SignIn].rssMb, g_cold[Minimal].rssMb,
               floor);
    printRatio("resident memory with the dashboard shown, MB", g_cold[SignIn].rssMb, g_cold[Text].rssMb,
               textFloor);
    printRatio("warm first frame after sign-in, ms", g_warmMs[1], g_warmMs[0], floor);
    return 0;
}
