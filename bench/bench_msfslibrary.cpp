#include "AppConfig.h"
#include "ConfigKeys.h"
#include "simulator/msfs/MsfsAircraftLibrary.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using velk::simulator::msfs::MsfsAircraftLibrary;
using velk::simulator::msfs::MsfsRuntimeProfile;

namespace {

// 300 packages of 10 liveries (3000 profiles); a CTest smoke run, under the
// sanitizers, only checks that the benchmarks run, on a much smaller library.
const int kPackages = qEnvironmentVariableIsSet("VELK_BENCH_SMOKE") ? 16 : 300;
constexpr int kVariationsPerPackage = 10;
const char* const kTypes[] = {"A20N", "A320", "B738", "B77W", "A359", "C172", "E190", "CRJ9"};
const char* const kAirlines[] = {"DLH", "BAW", "AFR", "UAE", "RYR", "EZY", "KLM", "SAS"};

QString packagesFolder() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("bench-packages"));
}

bool writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A packages folder with a shared base container per type and one aircraft.cfg
// per package, each with several liveries.
bool buildLibrary() {
    const QString packages = packagesFolder();
    QDir(packages).removeRecursively();
    for (int t = 0; t < 8; ++t) {
        const QString base =
            packages +
            QStringLiteral("/Official/OneStore/base-%1/SimObjects/Airplanes/Base/aircraft.cfg").arg(t);
        if (!writeFile(base,
                       QStringLiteral("[GENERAL]\nicao_type_designator = %1\nicao_manufacturer = Maker\n"
                                      "icao_model = Model %1\nicao_engine_count = 2\n")
                           .arg(QLatin1String(kTypes[t]))
                           .toUtf8())) {
            return false;
        }
    }
    for (int p = 0; p < kPackages; ++p) {
        const int t = p % 8;
        QByteArray cfg =
            QStringLiteral("[VARIATION]\nbase_container = \"..\\..\\..\\..\\..\\Official\\OneStore\\base-%1\\"
                           "SimObjects\\Airplanes\\Base\"\n")
                .arg(t)
                .toUtf8();
        for (int v = 0; v < kVariationsPerPackage; ++v) {
            const char* airline = kAirlines[(p + v) % 8];
            cfg += QStringLiteral(
                       "[FLTSIM.%1]\ntitle = \"Package %2 %3 %4 %1\" ; livery\nui_manufacturer = \"Maker\"\n"
                       "ui_type = \"Model %3\"\nui_variation = \"%4 livery %1\"\natc_airline = %4\n"
                       "isAirTraffic = %5\n")
                       .arg(v)
                       .arg(p)
                       .arg(QLatin1String(kTypes[t]), QLatin1String(airline))
                       .arg(v % 3 == 0 ? 1 : 0)
                       .toUtf8();
        }
        const QString path =
            packages + QStringLiteral("/Community/pkg-%1/SimObjects/Airplanes/Aircraft/aircraft.cfg").arg(p);
        if (!writeFile(path, cfg)) {
            return false;
        }
    }
    velk::AppConfig::instance()->setValue(velk::ConfigKeys::MSFSPackagesPath2024, packages);
    return true;
}

bool waitReady() {
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    library->reload();
    for (int i = 0; i < 60000 && !library->isReady(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return library->isReady();
}

bool isCfgName(const QString& name) {
    return name.compare(QLatin1String("aircraft.cfg"), Qt::CaseInsensitive) == 0;
}

void readWhole(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        benchmark::DoNotOptimize(file.readAll());
    }
}

// The floor of the scan: walk the same package tree to find every
// aircraft.cfg and read each whole, no parsing.
void BM_WalkAndReadCfgFiles(benchmark::State& state) {
    qsizetype files = 0;
    for (auto _ : state) {
        files = 0;
        QDirIterator it(packagesFolder(), QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (isCfgName(it.fileName())) {
                readWhole(path);
                ++files;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * files);
    state.counters["files"] = double(files);
}
BENCHMARK(BM_WalkAndReadCfgFiles)->Unit(benchmark::kMillisecond);

// The same files, their paths known beforehand: only the reading.
void BM_ReadCfgFilesWhole(benchmark::State& state) {
    QStringList files;
    QDirIterator it(packagesFolder(), QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isCfgName(it.fileName())) {
            files.append(path);
        }
    }
    for (auto _ : state) {
        for (const QString& path : std::as_const(files)) {
            readWhole(path);
        }
    }
    state.SetItemsProcessed(state.iterations() * files.size());
    state.counters["files"] = double(files.size());
}
BENCHMARK(BM_ReadCfgFilesWhole)->Unit(benchmark::kMillisecond);

void BM_ScanLibrary(benchmark::State& state) {
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    for (auto _ : state) {
        library->scanAll();
    }
    state.SetItemsProcessed(state.iterations() * kPackages);
    state.counters["files"] = kPackages + 8;
}
BENCHMARK(BM_ScanLibrary)->Unit(benchmark::kMillisecond);

// Every call a new key: the full scoring pass over all profiles.
void BM_MatchUncached(benchmark::State& state) {
    if (!waitReady()) {
        state.SkipWithError("scan did not finish");
        return;
    }
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    std::int64_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            library->match(MsfsRuntimeProfile::Msfs2024, QLatin1String(kTypes[i % 8]),
                           QStringLiteral("%1 %2").arg(QLatin1String(kAirlines[i % 8])).arg(i), QString()));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["profiles"] = library->profileCount(MsfsRuntimeProfile::Msfs2024);
}
BENCHMARK(BM_MatchUncached)->Unit(benchmark::kMicrosecond);

void BM_MatchCached(benchmark::State& state) {
    if (!waitReady()) {
        state.SkipWithError("scan did not finish");
        return;
    }
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    for (int k = 0; k < 64; ++k) { // fill the cache first
        library->match(MsfsRuntimeProfile::Msfs2024, QLatin1String(kTypes[k % 8]),
                       QLatin1String(kAirlines[k / 8]), QString());
    }
    std::int64_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(library->match(MsfsRuntimeProfile::Msfs2024, QLatin1String(kTypes[i % 8]),
                                                QLatin1String(kAirlines[(i / 8) % 8]), QString()));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MatchCached);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(velk::bench::quietHandler);
    qunsetenv("APPDATA");
    qunsetenv("LOCALAPPDATA");
    if (!buildLibrary()) {
        fprintf(stderr, "could not build the benchmark library\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("goal: scan / walk-and-read <= 1.5\n");
    reporter.printRatio("BM_ScanLibrary", "BM_WalkAndReadCfgFiles");
    reporter.printRatio("BM_ScanLibrary", "BM_ReadCfgFilesWhole");
    benchmark::Shutdown();
    return 0;
}
