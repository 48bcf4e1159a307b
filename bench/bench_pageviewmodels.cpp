// Cost of the simulator and server page view models on their hot paths, each
// beside its floor: a data update against formatting its texts alone, a
// type-code suggestion refresh against the database calls alone, and a log
// line at the cap against appending the same line to a string.
#include "network/SwiftAircraftIcaoService.h"
#include "ui/viewmodel/MessageChannels.h"
#include "ui/viewmodel/ServerPageViewModel.h"
#include "ui/viewmodel/SimulatorPageViewModel.h"

#include "BenchSupport.h"
#include "IcaoDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QTime>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <string>

using velk::network::SwiftAircraftIcaoService;
using velk::ui::ServerPageViewModel;
using velk::ui::SimulatorPageViewModel;

namespace {

const int kDesignators = qEnvironmentVariableIsSet("VELK_BENCH_SMOKE") ? 200 : 3000;

// The process-wide type database lives beside the executable; fill it with
// designators A000.. and B000.., three records each.
bool buildDatabase() {
    const QString dir = QCoreApplication::applicationDirPath();
    QDir(dir + QStringLiteral("/cache")).removeRecursively();
    const bool ok = velk::bench::fillIcaoDatabase(dir, kDesignators * 3, [](int id) {
        const int n = (id - 1) % kDesignators;
        return velk::bench::IcaoRow{
            QStringLiteral("%1%2").arg(QChar(u'A' + n % 2)).arg(n / 2, 3, 10, QChar(u'0')),
            QStringLiteral("Maker %1").arg(n % 50), QStringLiteral("Model %1").arg(id - 1), id - 1};
    });
    return ok && SwiftAircraftIcaoService::instance()->isReady();
}

// One update as the session manager sends it while flying: position and
// speeds move every time, the rest stays.
void feed(SimulatorPageViewModel& vm, double t) {
    vm.updateFromSimulatorData(true, 31.1 + t * 1e-6, 121.8 + t * 1e-6, 1200 + t * 0.01, 800, 3900, 2.5,
                               271.3, -1.2, 0.001, 0.002, 2.5, 0.0, 0.1, 0.0, 250.0 + t * 1e-3, 0.0, false,
                               false, 0.25, 0.0, false, 2, true, true, false, false, false, false, false,
                               false, true, true, false, true, true, true, true, false, true, false, 122800,
                               121500, 80, 60, 4521, true, false, false);
}

void BM_SimulatorDataUpdate(benchmark::State& state) {
    SimulatorPageViewModel vm;
    double t = 0;
    for (auto _ : state) {
        feed(vm, t += 1.0);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimulatorDataUpdate);

// Floor: the texts the update derives, formatted alone.
void BM_SimulatorDataUpdateFloor(benchmark::State& state) {
    double t = 0;
    for (auto _ : state) {
        t += 1.0;
        benchmark::DoNotOptimize(velk::ui::messages::frequencyText(122800));
        benchmark::DoNotOptimize(velk::ui::messages::frequencyText(121500));
        benchmark::DoNotOptimize(SimulatorPageViewModel::transponderText(4521));
        benchmark::DoNotOptimize(SimulatorPageViewModel::ratioLabel(0.25));
        benchmark::DoNotOptimize(SimulatorPageViewModel::ratioLabel(0.0));
        benchmark::DoNotOptimize(QString::number(250.0 + t * 1e-3, 'f', 1));
        benchmark::DoNotOptimize(QString::number(2.5, 'f', 2));
        benchmark::DoNotOptimize(QString::number(0.0, 'f', 1));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimulatorDataUpdateFloor);

void BM_SimulatorDataUnchanged(benchmark::State& state) {
    SimulatorPageViewModel vm;
    feed(vm, 1.0);
    for (auto _ : state) {
        feed(vm, 1.0);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimulatorDataUnchanged);

// One refresh per keystroke while typing two types.
const QStringList kQueries = {QStringLiteral("a"),    QStringLiteral("a0"),  QStringLiteral("a01"),
                              QStringLiteral("a012"), QStringLiteral("b"),   QStringLiteral("b1"),
                              QStringLiteral("b12"),  QStringLiteral("b123")};

void BM_TypeCodeSuggestions(benchmark::State& state) {
    ServerPageViewModel vm;
    qsizetype i = 0;
    for (auto _ : state) {
        vm.refreshTypeCodeSuggestions(kQueries[i]);
        i = (i + 1) % kQueries.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TypeCodeSuggestions);

// Floor: the database calls alone.
void BM_TypeCodeSuggestionsFloor(benchmark::State& state) {
    auto* database = SwiftAircraftIcaoService::instance();
    qsizetype i = 0;
    for (auto _ : state) {
        for (const QString& designator : database->searchDesignators(kQueries[i], 8)) {
            benchmark::DoNotOptimize(database->recordsForDesignator(designator));
        }
        i = (i + 1) % kQueries.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TypeCodeSuggestionsFloor);

const QString kLogLine = QStringLiteral("FSD 已连接：CES2352 via fsd.example.net:6809, observer=false");

void BM_ServerLogAtCap(benchmark::State& state) {
    ServerPageViewModel vm;
    for (int i = 0; i < ServerPageViewModel::MaxLogLines; ++i) {
        vm.appendLog(kLogLine);
    }
    for (auto _ : state) {
        vm.appendLog(kLogLine);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServerLogAtCap);

// Floor: the same time-stamped line built and appended to a string of the
// same size, then cut again.
void BM_ServerLogAtCapFloor(benchmark::State& state) {
    const QString first = QStringLiteral("[12:00:00] %1\n").arg(kLogLine);
    QString log = first.repeated(ServerPageViewModel::MaxLogLines);
    for (auto _ : state) {
        const QString line = QStringLiteral("[%1] %2\n")
                                 .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")), kLogLine);
        log.append(line);
        log.remove(0, line.size());
        benchmark::DoNotOptimize(log.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServerLogAtCapFloor);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(velk::bench::quietHandler);
    if (!buildDatabase()) {
        fprintf(stderr, "could not build the benchmark database\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"BM_SimulatorDataUpdate", "BM_TypeCodeSuggestions", "BM_ServerLogAtCap"}) {
        reporter.printRatio(name, std::string(name) + "Floor");
    }
    benchmark::Shutdown();
    return 0;
}
