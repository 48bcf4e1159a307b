#include "support/AudioSignals.h"
#include "voice/AudioLimits.h"
#include "voice/InputAudioStream.h"
#include "voice/MixedOutputAudioStream.h"
#include "voice/OpusCodec.h"
#include "voice/SoftClip.h"
#include "voice/ToneGenerator.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <chrono>

namespace voice = velk::voice;
using namespace std::chrono_literals;
using velk::voice::InputAudioStream;
using velk::voice::MixedOutputAudioStream;
using velk::voice::StreamConfig;
using velk::voice::VolumeInfo;

class TestAudioStreams : public QObject {
    Q_OBJECT

private slots:
    void init() { qRegisterMetaType<VolumeInfo>(); }

    // --- capture ---

    void captureLevelFollowsGainAndClipping_data() {
        QTest::addColumn<int>("gainDb");
        QTest::addColumn<int>("sample");
        QTest::addColumn<float>("levelDb");
        QTest::addColumn<int>("percent");
        QTest::newRow("silence") << 0 << 0 << -96.0f << 0;
        QTest::newRow("-32768") << 0 << -32768 << 0.0f << 100;
        QTest::newRow("32767 truncates to 99") << 0 << 32767 << 0.0f << 99;
        QTest::newRow("+20 dB clips 4000") << 20 << 4000 << 0.0f << 99;
        QTest::newRow("+20 dB clips -4000") << 20 << -4000 << 0.0f << 100;
        QTest::newRow("800 dB is held at +40") << 800 << 100 << -10.31f << 89;
        QTest::newRow("-1000 dB is held at -60") << -1000 << 32767 << -60.2f << 37;
    }
    void captureLevelFollowsGainAndClipping() {
        QFETCH(int, gainDb);
        QFETCH(int, sample);
        QFETCH(float, levelDb);
        QFETCH(int, percent);
        voice::OpusEncoder encoder(1);
        InputAudioStream in(&encoder);
        QVERIFY(in.startWithoutDevice(StreamConfig::make(48000, 1)));
        in.setMicGainDb(gainDb);
        in.setPttActive(true);
        QSignalSpy levels(&in, &InputAudioStream::inputVolumeChanged);
        std::vector<int16_t> block(960, int16_t(sample));
        in.processInput(block.data(), 960);
        QCOMPARE(levels.count(), 1);
        const auto v = levels.at(0).at(0).value<VolumeInfo>();
        QVERIFY2(std::fabs(v.levelDb - levelDb) < 0.05f, qPrintable(QString::number(v.levelDb)));
        QCOMPARE(v.percent, percent);
    }

    void captureEncodesOneFramePerBlockOnlyWhileTheGateIsOpen_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("44.1k mono") << 44100 << 1;
        QTest::newRow("44.1k stereo") << 44100 << 2;
        QTest::newRow("48k mono") << 48000 << 1;
    }
    void captureEncodesOneFramePerBlockOnlyWhileTheGateIsOpen() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        voice::OpusEncoder encoder(channels);
        InputAudioStream in(&encoder);
        QVERIFY(in.startWithoutDevice(StreamConfig::make(rate, channels)));
        QSignalSpy packets(&in, &InputAudioStream::encodedAudioReady);
        QSignalSpy levels(&in, &InputAudioStream::inputVolumeChanged);
        const int frames = rate / 50;
        std::vector<int16_t> block(size_t(frames * channels));
        auto feed = [&](int blocks, int offset) {
            for (int b = 0; b < blocks; ++b) {
                for (int i = 0; i < frames; ++i) {
                    for (int c = 0; c < channels; ++c) {
                        const double t = double((offset + b) * frames + i) / rate;
                        block[size_t(i * channels + c)] =
                            int16_t(12000 * std::sin(2 * M_PI * 800 * (c + 1) * t));
                    }
                }
                in.processInput(block.data(), static_cast<unsigned long>(frames));
            }
        };
        feed(5, 0);
        QCOMPARE(packets.count(), 0);
        QCOMPARE(levels.count(), 0);

        in.setPttActive(true);
        feed(20, 5);
        // One frame per block from the first on: the converter's delay holds none back.
        QCOMPARE(packets.count(), 20);
        QCOMPARE(levels.count(), packets.count());
        const auto pcm = audiotest::decodeAll(packets, channels);
        QCOMPARE(int(pcm.size()), 960 * channels * packets.count());
        for (int c = 0; c < channels; ++c) {
            QCOMPARE(audiotest::dominantFrequency(pcm, 48000, channels, c), 800.0 * (c + 1));
        }
        in.setPttActive(false);
        feed(3, 25);
        QCOMPARE(levels.count(), packets.count());
    }

    // --- playback ---

    void sourceQueueKeepsTheNewestChunks() {
        MixedOutputAudioStream out;
        QVERIFY(out.startWithoutDevice(StreamConfig::make(48000, 1)));
        out.addSource(0);
        const auto packets = audiotest::sinePackets(600, 12, 1, 0.8);
        // Volumes 0.1 .. 1.0: a block tells which packet it came from.
        for (int i = 0; i < 10; ++i) {
            out.pushEncodedAudio(0, packets[size_t(i)], false, 0.1f * float(i + 1));
        }
        QCOMPARE(out.queuedChunks(0), MixedOutputAudioStream::kMaxSourceChunks);
        const float first =
            audiotest::peak(audiotest::render(out)); // packet 3 (volume 0.3): 0 and 1 were dropped
        QVERIFY2(first > 0.17f && first < 0.30f, qPrintable(QString::number(first)));
        for (int i = 0; i < 7; ++i) {
            audiotest::render(out);
        }
        QCOMPARE(out.queuedChunks(0), 0);
    }

    // Converted to 44.1 kHz, a packet plays in the block it is mixed for, not a block later.
    void eachPacketPlaysInTheBlockItIsMixedFor() {
        MixedOutputAudioStream out;
        QVERIFY(out.startWithoutDevice(StreamConfig::make(44100, 1)));
        out.addSource(0);
        for (const auto& packet : audiotest::sinePackets(600, 5)) {
            out.pushEncodedAudio(0, packet, false, 1.0f);
            const auto block = audiotest::render(out);
            QVERIFY(audiotest::peak({block.begin() + 200, block.begin() + 800}) > 0.3f);
        }
    }

    void oneShotBlocksReplaceTheMixOneBlockEach() {
        MixedOutputAudioStream out;
        QVERIFY(out.startWithoutDevice(StreamConfig::make(48000, 1)));
        out.addSource(1);
        out.pushEncodedAudio(1, audiotest::sinePackets(600, 1)[0], false, 1.0f);
        for (int i = 0; i < MixedOutputAudioStream::kMaxOneShotBlocks + 1; ++i) {
            out.enqueueOneShot(std::vector<float>(960, i == 0 ? 5.0f : 0.25f)); // the 17th is dropped
        }
        QCOMPARE(audiotest::render(out)[0], 1.0f); // kept within -1..1
        for (int i = 1; i < MixedOutputAudioStream::kMaxOneShotBlocks; ++i) {
            QCOMPARE(audiotest::render(out)[500], 0.25f);
        }
        QCOMPARE(out.queuedChunks(1), 1); // the radio waited
        QVERIFY(audiotest::peak(audiotest::render(out)) > 0.1f);
        QCOMPARE(out.queuedChunks(1), 0);
        QCOMPARE(audiotest::peak(audiotest::render(out)), 0.0f);
    }

    void eachTalkerDecodesAsIfAlone_data() {
        QTest::addColumn<int>("sourceB");
        QTest::newRow("two radios") << 1;
        QTest::newRow("two senders on one radio") << 0;
    }
    void eachTalkerDecodesAsIfAlone() {
        QFETCH(int, sourceB);
        MixedOutputAudioStream out;
        QVERIFY(out.startWithoutDevice(StreamConfig::make(48000, 1)));
        out.addSource(0);
        out.addSource(1);
        const auto a = audiotest::sinePackets(700, 10);
        const auto b = audiotest::sinePackets(1300, 10);
        voice::OpusDecoder refA(1), refB(1);
        for (size_t i = 0; i < a.size(); ++i) {
            out.pushEncodedAudio(0, a[i], false, 1.0f, "A");
            out.pushEncodedAudio(sourceB, b[i], false, 1.0f, "B");
            const auto da = refA.decode(a[i].data(), int(a[i].size()));
            const auto db = refB.decode(b[i].data(), int(b[i].size()));
            // Two radios mix into one block; two senders on one radio queue one after the other.
            std::vector<std::vector<float>> expected;
            if (sourceB == 1) {
                expected.emplace_back(960);
                for (size_t k = 0; k < 960; ++k) {
                    expected[0][k] = da[k] + db[k];
                }
            } else {
                expected = std::vector<std::vector<float>>{da, db};
            }
            for (auto& e : expected) {
                velk::voice::softClipBlock(e.data(), e.size());
                const auto got = audiotest::render(out);
                for (size_t k = 0; k < 960; ++k) {
                    QVERIFY(std::fabs(got[k] - e[k]) < 1e-6f);
                }
            }
        }
        QCOMPARE(out.talkerCount(), 2);
        for (int s = 0; s < 12; ++s) {
            out.pushEncodedAudio(0, a[0], false, 1.0f, QByteArray::number(s));
        }
        QCOMPARE(out.talkerCount(), velk::voice::SourceDecoders::kMaxTalkers);
    }

    // A backlog a stall left drains, a chunk per half second, down to one
    // chunk of slack. A packet a block late leaves one hole and that slack,
    // which then covers the next late one instead of being drained.
    void backlogDrainsAfterHalfASecond() {
        std::chrono::nanoseconds now{0};
        MixedOutputAudioStream out;
        out.setClock([&now] { return now; });
        QVERIFY(out.startWithoutDevice(StreamConfig::make(48000, 1)));
        out.addSource(0);
        const auto packets = audiotest::sinePackets(500, 1);
        for (int i = 0; i < 4; ++i) { // a stall left four chunks behind
            out.pushEncodedAudio(0, packets[0], false, 1.0f);
        }
        QList<int> after; // chunks left after each render, one packet arriving per block
        for (int r = 0; r < 120; ++r, now += 20ms) {
            out.pushEncodedAudio(0, packets[0], false, 1.0f);
            audiotest::render(out);
            after.append(out.queuedChunks(0));
        }
        QCOMPARE(after[24], 4); // held for 0.48 s: nothing dropped yet
        QCOMPARE(after[25], 3);
        QCOMPARE(after[50], 2);
        QCOMPARE(after.last(), 1);

        out.stop();
        QVERIFY(out.startWithoutDevice(StreamConfig::make(48000, 1)));
        out.addSource(0);
        int holes = 0;
        for (int r = 0; r < 150; ++r, now += 20ms) {
            // The packets of blocks 50 and 100 come with the next ones.
            const int arriving = r == 50 || r == 100 ? 0 : r == 51 || r == 101 ? 2 : 1;
            for (int p = 0; p < arriving; ++p) {
                out.pushEncodedAudio(0, packets[0], false, 1.0f);
            }
            holes += audiotest::peak(audiotest::render(out)) < 0.01f;
        }
        QCOMPARE(holes, 1);
    }

    void packetsWithoutASourceOrWhileStoppedAreNotQueued() {
        MixedOutputAudioStream out;
        QSignalSpy levels(&out, &MixedOutputAudioStream::outputVolumeChanged);
        const auto packet = audiotest::sinePackets(500, 1)[0];
        out.pushEncodedAudio(0, packet, false, 1.0f);
        QCOMPARE(levels.count(), 0);
        QVERIFY(out.startWithoutDevice(StreamConfig::make(44100, 1)));
        out.addSource(0);
        out.stop();
        QVERIFY(out.startWithoutDevice(StreamConfig::make(44100, 1)));
        QVERIFY(!out.hasSource(0)); // a stop forgets the sources
        out.pushEncodedAudio(0, packet, false, 1.0f);
        QCOMPARE(levels.count(), 1); // measured, then dropped
        QCOMPARE(out.queuedChunks(0), -1);
    }

    void conflictPlaysTheToneInsteadOfThePacket() {
        MixedOutputAudioStream out;
        QVERIFY(out.startWithoutDevice(StreamConfig::make(44100, 2)));
        out.addSource(0);
        QSignalSpy levels(&out, &MixedOutputAudioStream::outputVolumeChanged);
        out.pushEncodedAudio(0, audiotest::sinePackets(500, 1)[0], true, 0.5f);
        QCOMPARE(levels.count(), 0);
        QCOMPARE(out.queuedChunks(0), 0);
        const auto block = audiotest::render(out);
        QCOMPARE(int(block.size()), 1764);
        for (size_t f = 0; f < 882; ++f) {
            QCOMPARE(block[2 * f], block[2 * f + 1]);
        }
        QVERIFY(std::fabs(audiotest::peak(block) - 0.15f) < 0.01f);
        QVERIFY(std::fabs(audiotest::dominantFrequency(block, 44100, 2) - 294) <= 5);

        // Packets come unevenly: the next one three blocks late leaves no hole
        // in the tone, and the wave runs on; the tone ends as many blocks after
        // the last one.
        voice::ToneGenerator wave(44100, voice::kConflictToneFrequency, voice::kToneAmplitude);
        std::vector<float> heard = block;
        for (const bool packet : {false, false, false, true, false, false, false}) {
            if (packet) {
                out.pushEncodedAudio(0, audiotest::sinePackets(500, 1)[0], true, 0.5f);
            }
            const auto next = audiotest::render(out);
            heard.insert(heard.end(), next.begin(), next.end());
        }
        QCOMPARE(heard, wave.generateBlock(882 * 8, 2, 0.5f));
        QCOMPARE(audiotest::peak(audiotest::render(out)), 0.0f);
    }
};

QTEST_GUILESS_MAIN(TestAudioStreams)
#include "tst_audiostreams.moc"
