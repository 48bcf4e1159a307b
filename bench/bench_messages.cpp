// Cost of one text arriving in a full message centre (300 records, 50
// conversations) together with every list the messages page re-reads on it,
// beside its floor: copying the 300 records once.
#include "ui/viewmodel/MessageRecord.h"
#include "ui/viewmodel/MessagesPageViewModel.h"

#include <QCoreApplication>

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

using velk::ui::MessageRecord;
using velk::ui::MessagesPageViewModel;

namespace {

void dropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

QString station(int i) {
    return QStringLiteral("CES%1").arg(1000 + i % MessagesPageViewModel::MaxConversations);
}

void fill(MessagesPageViewModel& vm) {
    for (int i = 0; i < MessagesPageViewModel::MaxMessages; ++i) {
        if (i % 2 == 0) {
            vm.onPrivateMessageReceived(station(i), QStringLiteral("request descent %1").arg(i));
        } else {
            vm.appendRadioMessage(station(i), QStringLiteral("CES1000 climb FL%1").arg(i), {"122.800"},
                                  false);
        }
    }
}

// A private text arrives; the page then reads what its signals announce.
void BM_TextArrivalWithPageReads(benchmark::State& state) {
    MessagesPageViewModel vm;
    vm.setPageVisible(true);
    fill(vm);
    int i = 0;
    for (auto _ : state) {
        vm.onPrivateMessageReceived(station(i), QStringLiteral("hello"));
        benchmark::DoNotOptimize(vm.activeMessages());
        benchmark::DoNotOptimize(vm.channels());
        benchmark::DoNotOptimize(vm.privateSessions());
        benchmark::DoNotOptimize(vm.summaryText());
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextArrivalWithPageReads);

// Floor: the 300 records copied, every string and list detached.
void BM_FloorCopyRecords(benchmark::State& state) {
    QList<MessageRecord> records(MessagesPageViewModel::MaxMessages);
    for (qsizetype i = 0; i < records.size(); ++i) {
        records[i].from = station(static_cast<int>(i));
        records[i].to = QStringLiteral("我");
        records[i].message = QStringLiteral("request descent %1").arg(i);
        records[i].channel = records[i].from;
    }
    for (auto _ : state) {
        QList<MessageRecord> copy;
        copy.reserve(records.size());
        for (const MessageRecord& r : records) {
            MessageRecord c = r;
            c.from = QString(r.from.constData(), r.from.size());
            c.to = QString(r.to.constData(), r.to.size());
            c.message = QString(r.message.constData(), r.message.size());
            c.channel = QString(r.channel.constData(), r.channel.size());
            copy.append(std::move(c));
        }
        benchmark::DoNotOptimize(copy);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FloorCopyRecords);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropMessages);
    return velk::bench::runWithRatios(argc, argv, {{"BM_TextArrivalWithPageReads", "BM_FloorCopyRecords"}});
}
