#include "network/SwiftAircraftIcaoService.h"

#include "BenchSupport.h"
#include "IcaoDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QSet>

#include <benchmark/benchmark.h>

#include <random>

using velk::network::SwiftAircraftIcaoService;

namespace {

constexpr int kDesignators = 3000;
constexpr int kRecords = 10000;

QString g_dataDir;
QStringList g_designators;

// Designators shaped like real ones: a letter, then letters and digits,
// mostly four characters long.
QStringList makeDesignators() {
    std::mt19937 rng(8643);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const QString alnum = letters + QStringLiteral("0123456789");
    QSet<QString> seen;
    QStringList out;
    while (out.size() < kDesignators) {
        const int roll = static_cast<int>(rng() % 10);
        const int length = roll < 7 ? 4 : (roll < 9 ? 3 : 2);
        QString d(letters[static_cast<int>(rng() % letters.size())]);
        while (d.size() < length) {
            d.append(alnum[static_cast<int>(rng() % alnum.size())]);
        }
        if (!seen.contains(d)) {
            seen.insert(d);
            out.append(d);
        }
    }
    return out;
}

bool buildDatabase() {
    g_dataDir = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("bench-data"));
    QDir(g_dataDir).removeRecursively();
    g_designators = makeDesignators();
    return velk::bench::fillIcaoDatabase(g_dataDir, kRecords, [](int id) {
        return velk::bench::IcaoRow{g_designators[id % kDesignators],
                                    QStringLiteral("Manufacturer %1").arg(id % 400),
                                    QStringLiteral("Model %1").arg(id), id};
    });
}

void BM_StartupLoad(benchmark::State& state) {
    for (auto _ : state) {
        SwiftAircraftIcaoService service(g_dataDir);
        if (!service.isReady()) {
            state.SkipWithError("database not ready");
            break;
        }
        benchmark::DoNotOptimize(service.isReady());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_StartupLoad)->Unit(benchmark::kMillisecond);

void BM_NormalizeDesignator(benchmark::State& state) {
    SwiftAircraftIcaoService service(g_dataDir);
    const QString a = g_designators[10];
    const QString b = g_designators[20];
    const QString c = g_designators[30];
    // What flight plans and pilots actually send: equipment codes, variants,
    // lower case, blanks, unknown types.
    const QStringList texts = {
        QStringLiteral("H/%1/L").arg(a), a + QStringLiteral("-800"),      b.toLower(),
        QStringLiteral("  %1 ").arg(c),  a + QStringLiteral("NEO"),       QStringLiteral("T/%1/F").arg(b),
        QStringLiteral("ZZZZZZ"),        QStringLiteral("B738/W"),        c,
        QStringLiteral("Cessna 172"),    QStringLiteral("M/%1/G").arg(c), QString()};
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.normalizeDesignator(texts[i]));
        i = (i + 1) % texts.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NormalizeDesignator);

// A type field as long as a received line may be, made of distinct chunks.
void BM_NormalizeLongText(benchmark::State& state) {
    SwiftAircraftIcaoService service(g_dataDir);
    QString text;
    for (int i = 0; text.size() < 64 * 1024; ++i) {
        text += QStringLiteral("Q%1").arg(i, 3, 36, QChar(u'0')).toUpper();
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.normalizeDesignator(text));
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_NormalizeLongText)->Unit(benchmark::kMillisecond);

void BM_SearchDesignators(benchmark::State& state) {
    SwiftAircraftIcaoService service(g_dataDir);
    const QString d = g_designators[42];
    // One query per keystroke while typing two types.
    const QStringList queries = {d.left(1),
                                 d.left(2),
                                 d.left(3),
                                 d,
                                 QStringLiteral("a"),
                                 QStringLiteral("a3"),
                                 QStringLiteral("a32"),
                                 QStringLiteral("a320")};
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.searchDesignators(queries[i], 8));
        i = (i + 1) % queries.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SearchDesignators);

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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
