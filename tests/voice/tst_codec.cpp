#include "support/AudioSignals.h"
#include "voice/OpusCodec.h"
#include "voice/Resampler.h"
#include "voice/SoftClip.h"
#include "voice/ToneGenerator.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace voice = velk::voice;
using velk::voice::StreamResampler;
using velk::voice::ToneGenerator;

class TestCodec : public QObject {
    Q_OBJECT

private slots:
    void opusRoundTripKeepsTheToneAndTheChannelCount_data() {
        QTest::addColumn<int>("encodeChannels");
        QTest::addColumn<int>("decodeChannels");
        QTest::addColumn<int>("samples");
        QTest::newRow("mono") << 1 << 1 << 960;
        QTest::newRow("stereo") << 2 << 2 << 1920;
        QTest::newRow("stereo packet, mono decoder") << 2 << 1 << 960;
    }
    void opusRoundTripKeepsTheToneAndTheChannelCount() {
        QFETCH(int, encodeChannels);
        QFETCH(int, decodeChannels);
        QFETCH(int, samples);
        voice::OpusDecoder decoder(decodeChannels);
        std::vector<float> all;
        for (const auto& packet : audiotest::sinePackets(1000, 10, encodeChannels)) {
            QVERIFY(!packet.empty() && packet.size() <= 4000);
            const auto pcm = decoder.decode(packet.data(), static_cast<int>(packet.size()));
            QCOMPARE(int(pcm.size()), samples);
            all.insert(all.end(), pcm.begin(), pcm.end());
        }
        QCOMPARE(audiotest::dominantFrequency(all, 48000, decodeChannels), 1000.0);
    }

    void badInputGivesEmptyResults() {
        voice::OpusDecoder decoder(1);
        const uint8_t junk[] = {0xff, 0xff, 0xff};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OpusDecoder: decode error:"));
        QVERIFY(decoder.decode(junk, 3).empty());
        QVERIFY(decoder.decode(junk, 0).empty());
        QVERIFY(decoder.decode(nullptr, 3).empty());
        voice::OpusEncoder encoder(1);
        QVERIFY(encoder.encode(nullptr, 960).empty());
    }

    void tonePeriodsFollowRateAndFrequency_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<float>("hz");
        QTest::addColumn<int>("period");
        QTest::newRow("press 44.1k") << 44100 << 1500.0f << 29;
        QTest::newRow("press 48k") << 48000 << 1500.0f << 32;
        QTest::newRow("release 44.1k") << 44100 << 1000.0f << 44;
        QTest::newRow("release 48k") << 48000 << 1000.0f << 48;
        QTest::newRow("conflict 44.1k") << 44100 << 293.66f << 150;
        QTest::newRow("conflict 48k") << 48000 << 293.66f << 163;
        // Out of range settings: silent, or raised to 20 Hz instead of a 176 MB table.
        QTest::newRow("zero") << 44100 << 0.0f << 1;
        QTest::newRow("negative") << 44100 << -5.0f << 1;
        QTest::newRow("nan") << 44100 << std::numeric_limits<float>::quiet_NaN() << 1;
        QTest::newRow("infinite") << 44100 << std::numeric_limits<float>::infinity() << 1;
        QTest::newRow("above nyquist") << 44100 << 30000.0f << 1;
        QTest::newRow("0.001 Hz") << 44100 << 0.001f << 2205;
    }
    void tonePeriodsFollowRateAndFrequency() {
        QFETCH(int, rate);
        QFETCH(float, hz);
        QFETCH(int, period);
        ToneGenerator tone(rate, hz, 0.3f);
        QCOMPARE(tone.period(), period);
        const auto block = tone.generate(2 * period);
        for (int i = 0; i < period; ++i) {
            QCOMPARE(block[size_t(i)], block[size_t(i + period)]);
            QVERIFY(std::fabs(block[size_t(i)]) <= 0.3f);
        }
        if (period == 1) {
            QCOMPARE(block[0], 0.0f);
        }
    }

    void toneBlocksContinueTheWaveAndSettersRestartIt() {
        ToneGenerator tone(44100, 1500.0f, 0.3f);
        QCOMPARE(int(tone.generate(882).size()), 882);
        QCOMPARE(tone.position(), 882 % 29);
        QVERIFY(tone.generate(0).empty());
        QCOMPARE(tone.position(), 12);
        tone.setSampleRate(48000);
        QCOMPARE(tone.position(), 0);
        QCOMPARE(tone.period(), 32);
    }

    void stereoToneBlocksCarryOneSamplePerFrameOnEveryChannel() {
        ToneGenerator mono(44100, 1500.0f, 0.3f);
        ToneGenerator stereo(44100, 1500.0f, 0.3f);
        const auto m = mono.generate(882);
        const auto s = stereo.generateBlock(882, 2, 1.0f);
        QCOMPARE(int(s.size()), 1764);
        for (size_t f = 0; f < 882; ++f) {
            QCOMPARE(s[2 * f], m[f]);
            QCOMPARE(s[2 * f + 1], m[f]);
        }
        // The gain scales and never leaves -1..1.
        ToneGenerator loud(44100, 1500.0f, 0.3f);
        for (float v : loud.generateBlock(100, 1, 100.0f)) {
            QVERIFY(std::fabs(v) <= 1.0f);
        }
    }

    void streamingResamplerGivesWholeFramesPerBlock_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("44.1k mono") << 44100 << 1;
        QTest::newRow("44.1k stereo") << 44100 << 2;
        QTest::newRow("48k mono") << 48000 << 1;
    }
    void streamingResamplerGivesWholeFramesPerBlock() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        const int frames = rate / 50;
        StreamResampler rs;
        QVERIFY(rs.configure(rate, 48000, channels, size_t(frames)));
        std::vector<float> in(size_t(frames * channels));
        std::vector<float> out;
        for (int b = 0; b < 20; ++b) {
            for (int i = 0; i < frames; ++i) {
                for (int c = 0; c < channels; ++c) {
                    // Channel 1 an octave above channel 0: stereo must not be converted as one channel.
                    in[size_t(i * channels + c)] =
                        float(0.5 * std::sin(2 * M_PI * 700 * (c + 1) * (b * frames + i) / rate));
                }
            }
            const size_t got = rs.process(in.data(), size_t(frames));
            if (b > 0) {
                QCOMPARE(int(got), 960);
            }
            out.insert(out.end(), rs.output(), rs.output() + got * size_t(channels));
        }
        for (int c = 0; c < channels; ++c) {
            QCOMPARE(audiotest::dominantFrequency(out, 48000, channels, c), 700.0 * (c + 1));
        }
    }

    void oneShotResamplingCountsFramesPerChannel() {
        std::vector<float> stereo(1764, 0.25f);
        const auto out = velk::voice::resampleFloat(stereo.data(), stereo.size(), 44100, 48000, 2);
        QVERIFY(std::abs(int(out.size()) - 1920) <= 2);
        QVERIFY(velk::voice::resampleFloat(stereo.data(), 0, 44100, 48000).empty());
    }

    void softClipFollowsTanh() {
        for (float x = -12.0f; x <= 12.0f; x += 0.0137f) {
            QVERIFY2(std::fabs(velk::voice::softClip(x) - std::tanh(x)) < 1e-6f,
                     qPrintable(QString::number(x)));
        }
        QCOMPARE(velk::voice::softClip(0.0f), 0.0f);
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
