// Cost of showing the message box with a long unbroken word (a faulty or
// hostile server's sign-in failure): built, laid out and drawn once, and a
// repaint after one scroll step; beside its floor, a plain label with a short
// text built and drawn the same way.
#include "ui/ErrorDialog.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QScrollBar>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <string>

using velk::ui::ErrorDialog;

namespace {

void dropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// Shows the widget and draws it once, as its first frame.
void showAndDraw(QWidget& widget) {
    widget.show();
    benchmark::DoNotOptimize(widget.grab());
}

void BM_MessageBoxWithLongWord(benchmark::State& state) {
    const QString message(static_cast<qsizetype>(state.range(0)), QLatin1Char('w'));
    for (auto _ : state) {
        ErrorDialog dialog(QStringLiteral("登录失败"), message);
        showAndDraw(dialog);
    }
}
BENCHMARK(BM_MessageBoxWithLongWord)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The kinds of text Qt lays out slowest, as long as the box shows: letters
// that change direction at every step, and one letter under all the rest as
// combining marks.
void BM_MessageBoxWorstTextAtTheCut(benchmark::State& state) {
    const QString message = state.range(0) == 0 ? QStringLiteral("a\u0628").repeated(1000)
                                                : QLatin1Char('a') + QString(1999, QChar(0x0301));
    for (auto _ : state) {
        ErrorDialog dialog(QStringLiteral("登录失败"), message);
        showAndDraw(dialog);
    }
}
BENCHMARK(BM_MessageBoxWorstTextAtTheCut)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_MessageBoxScrollStep(benchmark::State& state) {
    ErrorDialog dialog(QStringLiteral("登录失败"),
                       QString(static_cast<qsizetype>(state.range(0)), QLatin1Char('w')));
    showAndDraw(dialog);
    QScrollBar* bar = dialog.findChild<QAbstractScrollArea*>()->verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() == bar->maximum()) {
            bar->setValue(0);
        }
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        benchmark::DoNotOptimize(dialog.grab());
    }
}
BENCHMARK(BM_MessageBoxScrollStep)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Floor_ShortTextLabel(benchmark::State& state) {
    for (auto _ : state) {
        QLabel label(QStringLiteral("无法连接到服务器，请检查网络连接。"));
        showAndDraw(label);
    }
}
BENCHMARK(BM_Floor_ShortTextLabel)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // The box logs each cut message whole.
    qInstallMessageHandler(dropMessages);
    std::vector<std::pair<std::string, std::string>> ratios;
    for (const char* path : {"BM_MessageBoxWithLongWord/10000", "BM_MessageBoxWithLongWord/100000",
                             "BM_MessageBoxWorstTextAtTheCut/0", "BM_MessageBoxWorstTextAtTheCut/1",
                             "BM_MessageBoxScrollStep/100000"}) {
        ratios.emplace_back(path, "BM_Floor_ShortTextLabel");
    }
    return velk::bench::runWithRatios(argc, argv, ratios);
}
