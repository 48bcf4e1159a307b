#include "AppConfig.h"
#include "support/AudioSignals.h"
#include "support/BlockedPool.h"
#include "voice/AudioHandler.h"

#include <QSignalSpy>
#include <QTest>

#include <array>
#include <functional>
#include <limits>

using namespace velk;
using voice::AudioHandler;
using voice::AudioStream;
using voice::MixedOutputAudioStream;
using voice::RadioChannel;
using voice::StreamConfig;
using voice::VolumeInfo;

class TestAudioHandler : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const auto& key :
             {ConfigKeys::VoiceMicGain, ConfigKeys::VoicePttPressFreq, ConfigKeys::VoicePttReleaseFreq,
              ConfigKeys::VoicePttVolume, ConfigKeys::VoiceConflictVolume}) {
            AppConfig::instance()->setValue(key, key.defaultValue);
        }
        AppConfig::instance()->setValue(ConfigKeys::VoicePttPlayDevice, 0);
    }

    void settingsAreClampedOnRead() {
        AppConfig* config = AppConfig::instance();
        AudioHandler h;
        struct Case {
            const ConfigKey<double>& key;
            double stored;
            std::function<double()> held;
            double expected;
        };
        const Case cases[] = {
            {ConfigKeys::VoiceMicGain, 800, [&] { return h.captureStream()->micGainDb(); }, 40},
            {ConfigKeys::VoiceMicGain, -1000, [&] { return h.captureStream()->micGainDb(); }, -60},
            {ConfigKeys::VoiceMicGain, 6.5, [&] { return h.captureStream()->micGainDb(); }, 6.5},
            {ConfigKeys::VoicePttVolume, 7, [&] { return h.pttVolume(); }, 1},
            {ConfigKeys::VoicePttVolume, -1, [&] { return h.pttVolume(); }, 0},
            {ConfigKeys::VoiceConflictVolume, 0.25, [&] { return h.conflictVolume(); }, 0.25},
            {ConfigKeys::VoicePttPressFreq, 1e300, [&] { return h.pttPressFrequency(); }, 1e6},
        };
        for (const Case& c : cases) {
            config->setValue(c.key, c.stored); // applied through configChanged
            QCOMPARE(c.held(), c.expected);
        }
        config->setValue(ConfigKeys::VoicePttVolume, 0.5);
        config->setValue(ConfigKeys::VoicePttPlayDevice, 257); // the low byte
        h.setPttVolume(1.0f);
        h.setPttPlayDevice(0);
        h.reloadSettings();
        QCOMPARE(h.pttVolume(), 0.5f);
        QCOMPARE(h.pttPlayDevice(), quint8(1));
        h.setConflictVolume(std::numeric_limits<float>::quiet_NaN());
        QCOMPARE(h.conflictVolume(), 0.0f);
    }

    void pttTonesPlayOnTheirOutputAtTheSetFrequency_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<double>("hz");
        QTest::newRow("press on headphone") << 0 << true << 1500.0;
        QTest::newRow("release on speaker") << 1 << false << 1000.0;
        QTest::newRow("changed release tone") << 0 << false << 750.0;
    }
    void pttTonesPlayOnTheirOutputAtTheSetFrequency() {
        QFETCH(int, device);
        QFETCH(bool, pressed);
        QFETCH(double, hz);
        AppConfig::instance()->setValue(ConfigKeys::VoicePttReleaseFreq, pressed ? 1000.0 : hz);
        AudioHandler h;
        h.setPttPlayDevice(quint8(device));
        h.setPttVolume(1.0f);
        auto& target = device == 1 ? *h.speakerStream() : *h.headphoneStream();
        auto& other = device == 1 ? *h.headphoneStream() : *h.speakerStream();
        h.playPttTone(pressed); // nothing runs: no tone
        QVERIFY(target.startWithoutDevice(StreamConfig::make(48000, 2)));
        QVERIFY(other.startWithoutDevice(StreamConfig::make(48000, 2)));
        QCOMPARE(audiotest::peak(audiotest::render(target)), 0.0f);
        h.playPttTone(pressed);
        const auto beep = audiotest::render(target);
        QVERIFY(std::fabs(audiotest::peak(beep) - 0.15f) < 0.001f);
        QCOMPARE(audiotest::dominantFrequency(beep, 48000, 2, 0), hz);
        QCOMPARE(audiotest::dominantFrequency(beep, 48000, 2, 1), hz);
        QCOMPARE(audiotest::peak(audiotest::render(target)), 0.0f); // one 20 ms block
        QCOMPARE(audiotest::peak(audiotest::render(other)), 0.0f);
    }

    void receivedAudioIsRoutedByRadioAndConflict_data() {
        QTest::addColumn<bool>("receive");
        QTest::addColumn<float>("volume");
        QTest::addColumn<bool>("speaker");
        QTest::addColumn<bool>("conflict");
        QTest::addColumn<int>("heardOn"); // -1 nowhere, 0 headphone, 1 speaker
        QTest::newRow("headphone radio") << true << 1.0f << false << false << 0;
        QTest::newRow("speaker radio") << true << 0.5f << true << false << 1;
        QTest::newRow("volume 0") << true << 0.0f << false << false << -1;
        QTest::newRow("not receiving") << false << 1.0f << false << false << -1;
        QTest::newRow("conflict on the conflict output") << true << 1.0f << false << true << 1;
    }
    void receivedAudioIsRoutedByRadioAndConflict() {
        QFETCH(bool, receive);
        QFETCH(float, volume);
        QFETCH(bool, speaker);
        QFETCH(bool, conflict);
        QFETCH(int, heardOn);
        AudioHandler h;
        h.setConflictPlayDevice(1);
        h.setConflictVolume(0.4f);
        QVERIFY(h.headphoneStream()->startWithoutDevice(StreamConfig::make(48000, 1)));
        QVERIFY(h.speakerStream()->startWithoutDevice(StreamConfig::make(48000, 1)));
        const RadioChannel r{.id = 0, .receive = receive, .volume = volume, .speaker = speaker};
        h.addRadioSource(r);
        QSignalSpy levels(&h, &AudioHandler::outputVolumeChanged);
        h.playReceivedAudio(r, audiotest::sinePackets(500, 1)[0], conflict, "CES123");
        QCOMPARE(levels.count(), heardOn >= 0 && !conflict ? 1 : 0);
        for (int which = 0; which < 2; ++which) {
            auto& out = which == 1 ? *h.speakerStream() : *h.headphoneStream();
            const float p = audiotest::peak(audiotest::render(out));
            QCOMPARE(p > 0.0f, which == heardOn);
            if (conflict && which == heardOn) {
                QVERIFY(std::fabs(p - 0.3f * 0.4f) < 0.001f);
            }
        }
    }

    void theRadioVolumeAmplifiesUpToTwice() {
        AudioHandler h;
        QVERIFY(h.headphoneStream()->startWithoutDevice(StreamConfig::make(48000, 1)));
        const auto packet = audiotest::sinePackets(500, 1, 1, 0.2)[0];
        const auto peakAt = [&](float volume) {
            const RadioChannel r{.id = 0, .receive = true, .volume = volume};
            h.addRadioSource(r);
            h.playReceivedAudio(r, packet, false, "CES123");
            return audiotest::peak(audiotest::render(*h.headphoneStream()));
        };
        const float full = peakAt(1.0f);
        const float twice = peakAt(2.0f);
        QVERIFY2(twice > 1.8f * full, qPrintable(QStringLiteral("%1 %2").arg(full).arg(twice)));
        QVERIFY(std::fabs(peakAt(5.0f) - twice) < 0.01f); // bounded at twice
    }

    void startStreamsReportsWhatFailed() {
        AudioHandler h;
        QTest::ignoreMessage(QtWarningMsg, "Input device change failed: invalid device 9999");
        h.setInputDevice(9999);
        QTest::ignoreMessage(QtWarningMsg, "Output(headphone) device change failed: invalid device 9999");
        h.setOutputHeadphoneDevice(9999);
        QTest::ignoreMessage(QtWarningMsg, "Output(speaker) device change failed: invalid device 9999");
        h.setOutputSpeakerDevice(9999);
        QCOMPARE(h.inputConfig().device, std::optional<qint32>(9999));
        QCOMPARE(h.inputConfig().sampleRate, 44100);
        const auto report = h.startStreams();
        QVERIFY(!report.ok() && !report.cancelled);
        QCOMPARE(report.failed, AudioStream::Capture | AudioStream::Headphone | AudioStream::Speaker);
        QVERIFY(!h.captureStream()->isRunning());
    }

    // Without its devices a test says which failed and holds none; the
    // conflict tone needs only its output.
    void aTestWhoseDevicesFailSaysWhichAndHoldsNone() {
        AudioHandler h;
        QTest::ignoreMessage(QtWarningMsg, "Input device change failed: invalid device 9999");
        h.setInputDevice(9999);
        QTest::ignoreMessage(QtWarningMsg, "Output(speaker) device change failed: invalid device 9999");
        h.setOutputSpeakerDevice(9999);
        auto mic = h.startMicTest(1);
        QTRY_VERIFY(mic.isFinished());
        QCOMPARE(mic.result().failed, AudioStream::Capture | AudioStream::Speaker);
        QVERIFY(!mic.result().cancelled && !h.testStreamsRunning());
        h.stopMicTest();
        QVERIFY(!h.speakerStream()->hasSource(AudioHandler::kLoopbackSourceId));

        h.setConflictPlayDevice(1);
        auto tone = h.startPlayConflict();
        QTRY_VERIFY(tone.isFinished());
        QCOMPARE(tone.result().failed, voice::AudioStreams(AudioStream::Speaker));
        QVERIFY(!h.testStreamsRunning() && !h.captureStream()->isRunning());
        h.stopPlayConflict();
    }

    void aStopCancelsAPendingStart() {
        AudioHandler h;
        QFuture<voice::StreamStartReport> pending;
        std::array<QFuture<voice::StreamStartReport>, 2> tests;
        {
            BlockedPool pool;
            h.startMicTest(0);
            h.stopMicTest();
            h.startPlayConflict();
            h.stopPlayConflict();
            pending = h.startStreamsAsync();
            h.stopStreams();
            tests = {h.startMicTest(0), h.startPlayConflict()};
            h.stopPlayConflict();
        }
        QVERIFY(pending.result().cancelled);
        QVERIFY(tests[0].result().cancelled && tests[1].result().cancelled);
        // The test tasks would have marked the test streams running.
        QVERIFY(!h.testStreamsRunning());
    }

    void shutdownWhileAStartIsPendingIsClean() {
        auto* h = new AudioHandler;
        BlockedPool pool;
        h->startMicTest(1);
        auto pending = h->startStreamsAsync();
        h->shutdown();
        QVERIFY(pending.isFinished() && pending.result().cancelled);
        QVERIFY(!h->testStreamsRunning());
        QVERIFY(h->startStreams().cancelled);
        delete h;
    }
};

QTEST_GUILESS_MAIN(TestAudioHandler)
#include "tst_audiohandler.moc"
