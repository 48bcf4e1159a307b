// Cost of reading config.ini at start when it is as large as the store takes
// (4 MB, one short key a line) and its last line is one a save would not
// keep: the line is found and named; beside its floor, the same file with
// that line left out, read whole.
#include "ConfigFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

namespace {

const qsizetype kBytes = qEnvironmentVariableIsSet("VELK_BENCH_SMOKE") ? 64 * 1024 : 4 * 1024 * 1024 - 64;

void dropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// A section of one key per line, as a hand-made or hostile file may hold.
QByteArray manySections(bool lastLineUnkept) {
    QByteArray text;
    for (int n = 0; text.size() < kBytes - 32; ++n) {
        text += "[S" + QByteArray::number(n) + "]\nk=1\n";
    }
    return lastLineUnkept ? text + "x//y=1\n" : text;
}

void readFile(benchmark::State& state, bool lastLineUnkept) {
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    QFile file(path);
    const QByteArray text = manySections(lastLineUnkept);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        state.SkipWithError("cannot write the file");
        return;
    }
    file.close();
    for (auto _ : state) {
        const velk::ConfigFileRead read = velk::readConfigFile(path, dir.path());
        if ((read.status == velk::ConfigFileRead::Status::Read) == lastLineUnkept) {
            state.SkipWithError("read otherwise than meant");
            return;
        }
    }
}

void BM_ConfigWithUnkeptLastLine(benchmark::State& state) {
    readFile(state, true);
}
BENCHMARK(BM_ConfigWithUnkeptLastLine)->Unit(benchmark::kMillisecond);

void BM_Floor_ConfigReadWhole(benchmark::State& state) {
    readFile(state, false);
}
BENCHMARK(BM_Floor_ConfigReadWhole)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropMessages);
    return velk::bench::runWithRatios(argc, argv,
                                      {{"BM_ConfigWithUnkeptLastLine", "BM_Floor_ConfigReadWhole"}});
}
