// Receive and send paths of the FSD connection: framing alone, framing plus
// parsing and dispatch, the whole client over loopback, and serialising
// positions.
#include "RatioReporter.h"
#include "fsd/FsdClient.h"
#include "fsd/LineFramer.h"
#include "fsd/pdu/Packets.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <array>

using namespace velk::fsd;

namespace {

// A busy sector as a server sends it: mostly fast positions, then slow
// positions, controllers, text, queries and the odd flight plan.
QByteArray mixedStream(int lines) {
    QByteArray out;
    for (int i = 0; i < lines; ++i) {
        const QString cs = QStringLiteral("CES%1").arg(1000 + i % 120);
        QString line;
        switch (i % 20) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
            line = QStringLiteral(
                       "^%1:31.%2:121.805200:%3.25:12.50:4236131328:12.3456:-0.5120:45.1000:0.0100:-0.0200:"
                       "0.0000:0.00")
                       .arg(cs)
                       .arg(100000 + i)
                       .arg(3000 + i % 900);
            break;
        case 9:
        case 10:
        case 11:
            line = QStringLiteral("@N:%1:%2:1:31.143420:121.805200:%3:280:4236131328:-40")
                       .arg(cs)
                       .arg(1000 + i % 6777)
                       .arg(3000 + i % 900);
            break;
        case 12:
            line = QStringLiteral(
                       "#SL%1:31.143420:121.805200:3000.25:12.50:4236131328:1.2346:-0.5000:2.0000:0.0100:"
                       "-0.0200:0.0000:0.00")
                       .arg(cs);
            break;
        case 13:
            line = QStringLiteral("%ZSSS_%1_TWR:18700:4:50:5:31.19790:121.33630:0").arg(i % 7);
            break;
        case 14:
            line = QStringLiteral("#TMZSSS_TWR:@18700:%1 contact 上海进近 on 120.3, good day").arg(cs);
            break;
        case 15:
            line = QStringLiteral("#TM%1:ABC123:hello: 你好, how are you?").arg(cs);
            break;
        case 16:
            line = QStringLiteral(
                       R"($CQ%1:@94386:ACC:{"config":{"lights":{"landing_on":true,"taxi_on":false}}})")
                       .arg(cs);
            break;
        case 17:
            line = QStringLiteral("$CR%1:ABC123:CAPS:VERSION=1:ATCINFO=1:MODELDESC=1:ACCONFIG=1:VISUPDATE=1")
                       .arg(cs);
            break;
        case 18:
            line = QStringLiteral("#SB%1:ABC123:PI:GEN:EQUIPMENT=A320:AIRLINE=CES:LIVERY=CES").arg(cs);
            break;
        default:
            line = QStringLiteral(
                       "$FP%1:*A:I:H/A333/L:480:ZSSS:1200:1200:FL350:ZBAA:2:10:4:00:ZSPD:/V/:PUD A593 DST W1")
                       .arg(cs);
            break;
        }
        out += line.toUtf8() + "\r\n";
    }
    return out;
}

constexpr int kLines = 10000;
constexpr qsizetype kChunk = 4096; // about what one socket read brings

const QByteArray& stream() {
    static const QByteArray bytes = mixedStream(kLines);
    return bytes;
}

void BM_SplitLinesOnly(benchmark::State& state) {
    const QByteArray& bytes = stream();
    LineFramer framer;
    QByteArrayView line;
    for (auto _ : state) {
        qsizetype count = 0;
        for (qsizetype offset = 0; offset < bytes.size(); offset += kChunk) {
            framer.append(QByteArrayView(bytes).sliced(offset, std::min(kChunk, bytes.size() - offset)));
            while (framer.next(line) == LineFramer::Status::Line) {
                benchmark::DoNotOptimize(line.data());
                ++count;
            }
        }
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_SplitLinesOnly);

// What the client does per line, without the socket: split, decode the text,
// build the raw-line text, parse and pick the packet's handler.
void BM_ParseAndDispatch(benchmark::State& state) {
    const QByteArray& bytes = stream();
    LineFramer framer;
    QByteArrayView raw;
    std::array<qint64, std::variant_size_v<pdu::Packet>> perType{};
    for (auto _ : state) {
        for (qsizetype offset = 0; offset < bytes.size(); offset += kChunk) {
            framer.append(QByteArrayView(bytes).sliced(offset, std::min(kChunk, bytes.size() - offset)));
            while (framer.next(raw) == LineFramer::Status::Line) {
                const QString line = QString::fromUtf8(raw);
                const QString logged = line + QLatin1StringView("\r\n");
                benchmark::DoNotOptimize(logged.data());
                const pdu::Packet packet = pdu::decode(line);
                std::visit([&](const auto& pdu) { benchmark::DoNotOptimize(&pdu); }, packet);
                ++perType[packet.index()];
            }
        }
    }
    benchmark::DoNotOptimize(perType);
    state.SetItemsProcessed(state.iterations() * kLines);
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_ParseAndDispatch);

// The whole receive path: a loopback socket feeding an FsdClient, every
// packet signal connected.
void BM_FsdClientOverLoopback(benchmark::State& state) {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    FsdClient client;
    qint64 received = 0;
    QObject::connect(&client, &FsdClient::raiseRawDataReceived, [&](const QString&) { ++received; });
    qint64 dispatched = 0;
    const auto count = [&dispatched](const auto&) { ++dispatched; };
    QObject::connect(&client, &FsdClient::raisePilotPositionReceived, count);
    QObject::connect(&client, &FsdClient::raiseFastPilotPositionReceived, count);
    QObject::connect(&client, &FsdClient::raiseATCPositionReceived, count);
    QObject::connect(&client, &FsdClient::raiseTextMessageReceived, count);
    QObject::connect(&client, &FsdClient::raiseRadioMessageReceived, count);
    QObject::connect(&client, &FsdClient::raiseClientQueryReceived, count);
    QObject::connect(&client, &FsdClient::raiseClientQueryResponseReceived, count);
    QObject::connect(&client, &FsdClient::raisePlaneInfoResponseReceived, count);
    QObject::connect(&client, &FsdClient::raiseFlightPlanReceived, count);
    client.connectToServer(QStringLiteral("127.0.0.1"), server.serverPort());
    QEventLoop loop;
    while (!server.hasPendingConnections() || !client.isConnected()) {
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    QTcpSocket* peer = server.nextPendingConnection();
    const QByteArray& bytes = stream();
    for (auto _ : state) {
        const qint64 target = received + kLines;
        peer->write(bytes);
        while (received < target) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    if (dispatched != received) {
        state.SkipWithError("not every line was dispatched");
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.SetBytesProcessed(state.iterations() * bytes.size());
    client.disconnectFromServer();
}
BENCHMARK(BM_FsdClientOverLoopback)->Unit(benchmark::kMillisecond);

// A line just under the length limit trickling in, as a slow or hostile
// server sends it, beside the same bytes in one read.
void framedLongLine(benchmark::State& state, qsizetype read) {
    const QByteArray bytes = QByteArray(LineFramer::kMaxLineLength - 16, 'x') + "\r\n";
    LineFramer framer;
    QByteArrayView line;
    for (auto _ : state) {
        for (qsizetype offset = 0; offset < bytes.size(); offset += read) {
            framer.append(QByteArrayView(bytes).sliced(offset, std::min(read, bytes.size() - offset)));
            while (framer.next(line) == LineFramer::Status::Line) {
                benchmark::DoNotOptimize(line.data());
            }
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_LongLineInSmallReads(benchmark::State& state) {
    framedLongLine(state, 16);
}
BENCHMARK(BM_LongLineInSmallReads);

void BM_LongLineInOneRead(benchmark::State& state) {
    framedLongLine(state, LineFramer::kMaxLineLength * 2);
}
BENCHMARK(BM_LongLineInOneRead);

void BM_SerializePilotPosition(benchmark::State& state) {
    pdu::PilotPosition position("CES1234", 7000, true, false, 1, 31.14342, 121.8052, 35000, 34850, 450, 2.5,
                                271.3, -3.1, false);
    for (auto _ : state) {
        position.latitude += 1e-7;
        benchmark::DoNotOptimize(position.serialize());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SerializePilotPosition);

void BM_SerializeFastPilotPosition(benchmark::State& state) {
    pdu::FastPilotPosition position(pdu::FastPositionKind::Fast, "CES1234", 31.14342, 121.8052, 35000.25,
                                    34000.5, 2.5, 271.3, -3.1, false, 120.5, -2.25, 200.125, 0.01, -0.02, 0.0,
                                    0.0);
    for (auto _ : state) {
        position.latitude += 1e-7;
        benchmark::DoNotOptimize(position.serialize());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SerializeFastPilotPosition);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("BM_LongLineInSmallReads", "BM_LongLineInOneRead");
    benchmark::Shutdown();
    return 0;
}
