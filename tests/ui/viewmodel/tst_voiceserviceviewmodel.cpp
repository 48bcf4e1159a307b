// The voice service view model over a real voice client, push-to-talk
// service and device selection: radios and the pilot's volume, indicators,
// the event log, and the device tests on the JACK rig. The connect runs in
// the page's test.
#include "AppConfig.h"
#include "network/ApiService.h"
#include "support/JackRig.h"
#include "support/VoiceServiceHarness.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

using namespace velk;
using Vm = ui::VoiceServiceViewModel;
using voice::VolumeInfo;

namespace {

const QString kToken = QStringLiteral("eyJhbGciOiJIUzI1NiJ9.eyJjaWQiOjF9.c2lnbmF0dXJl");

using Harness = test::VoiceServiceHarness;

QString entry(const Vm& vm, int i, const char* key = "text") {
    return vm.eventLog().value(i).toMap().value(key).toString();
}

} // namespace

class TestVoiceServiceViewModel : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        JackRig::writeVoiceConfig();
        AppConfig::instance()->setValue(ConfigKeys::AuthToken, kToken);
    }

    void theEventLogKeepsTheNewest100() {
        Harness h;
        for (int i = 1; i <= 101; ++i) {
            emit h.client.errorOccurred(QString::number(i));
        }
        QCOMPARE(h.vm.eventLog().size(), 100);
        QCOMPARE(entry(h.vm, 0) + entry(h.vm, 99), QStringLiteral("ERROR: 101ERROR: 2"));
        emit h.client.errorOccurred(QStringLiteral("a\r\nb")); // a row is one line high
        QCOMPARE(entry(h.vm, 0), QStringLiteral("ERROR: a  b"));
        // A server's error of 64 KB is shown cut: each row lays it out anew.
        emit h.client.errorOccurred(QString(65000, u'x'));
        QVERIFY(entry(h.vm, 0).size() < 600 && entry(h.vm, 0).endsWith(QStringLiteral("xx…")));
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(entry(h.vm, 0, "time")).hasMatch());
    }

    void radiosShowTheSimulatorAndThePilotsVolumeSticks() {
        Harness h;
        QSignalSpy com1(&h.vm, &Vm::com1InfoChanged);
        QCOMPARE(h.vm.com1Freq(), QStringLiteral("0 MHz / 0 MHz"));
        h.client.applyRadioStack({0, 121500, true, true, 0.8f, false}); // as the session manager does
        model::RadioStackState state;
        state.com1Frequency = 121500;
        state.com1Volume = 80;
        state.com2Frequency = 118000;
        state.com2Volume = 60;
        h.vm.radioStackUpdate(state);
        QCOMPARE(h.vm.com2Freq(), QStringLiteral("118 MHz / 0 MHz"));
        QCOMPARE(h.vm.com1Volume(), 0.8);
        for (double ignored : {-0.5, 2.5, qQNaN()}) {
            h.vm.setCom1Volume(ignored);
        }
        QCOMPARE(com1.count(), 1);
        h.vm.setCom1Volume(1.5);
        QCOMPARE(h.client.radios().value(0).volume, 1.5f);
        state.com1Volume = 70; // the next update leaves the pilot's volume
        h.vm.radioStackUpdate(state);
        QCOMPARE(h.vm.com1Volume(), 1.5);
        QCOMPARE(h.vm.com2Volume(), 0.6);
        QCOMPARE(com1.count(), 3);
    }

    void pushToTalkAndIndicators() {
        Harness h;
        QSignalSpy ptt(&h.vm, &Vm::pttActiveChanged);
        h.vm.setPtt(true);
        h.vm.setPtt(true);
        QCOMPARE(ptt.count(), 1);
        h.ptt.setBoundKey(QStringLiteral("kb:163"));
        h.input.key(163, true); // the service's change always goes through
        QCOMPARE(ptt.count(), 2);
        h.input.key(163, false);
        QVERIFY(!h.vm.pttActive());

        emit h.client.voiceDataSent(VolumeInfo{-20.0f, 79});
        emit h.client.voiceDataReceived(QStringLiteral("CCA999"), 121500, VolumeInfo{-30.0f, 68});
        QVERIFY(h.vm.sending() && h.vm.receiving());
        QCOMPARE(h.vm.inputLevel(), 79.0);
        QCOMPARE(h.vm.outputDb(), -30.0);
        QCOMPARE(h.vm.lastReceiveFreq(), 121.5);
        QCOMPARE(h.vm.lastReceiveCallsign(), QStringLiteral("CCA999"));
        QTRY_VERIFY(!h.vm.sending() && !h.vm.receiving());
        QCOMPARE(h.vm.inputLevel() + h.vm.outputLevel(), 0.0);
        QCOMPARE(h.vm.inputDb(), -96.0);
    }

    void aConnectionTheServerDropsIsLoggedWithItsReason() {
        Harness h;
        h.vm.connectToVoiceServer();
        QVERIFY(h.server.waitForLines(0));
        QTest::ignoreMessage(QtWarningMsg, "NetworkHandler: Voice server closed the connection");
        h.server.control().closeClient();
        QTRY_COMPARE(h.vm.connectionStateText(), QStringLiteral("未连接"));
        QCOMPARE(h.vm.eventLog().size(), 1);
        QCOMPARE(entry(h.vm, 0), QStringLiteral("ERROR: Voice server closed the connection"));
    }

    void aTestRunsOnlyWhileDisconnectedAndEndsOnConnect_data() {
        QTest::addColumn<bool>("mic");
        QTest::newRow("microphone") << true;
        QTest::newRow("conflict tone") << false;
    }
    void aTestRunsOnlyWhileDisconnectedAndEndsOnConnect() {
        QFETCH(bool, mic);
        Harness h;
        mic ? h.vm.startMicTest() : h.vm.startPlayConflict();
        h.vm.startMicTest(); // one test at a time
        h.vm.startPlayConflict();
        QCOMPARE(h.vm.micTesting(), mic);
        QCOMPARE(h.vm.conflictTesting(), !mic);
        voice::AudioHandler* audio = h.audio();
        QTRY_VERIFY(audio->captureStream()->isRunning() && audio->headphoneStream()->isRunning());
        QVERIFY(h.vm.eventLog().isEmpty() && h.vm.testFailure().isEmpty());
        emit audio->inputVolumeChanged(VolumeInfo{-10.0f, 89}); // live only in the microphone test
        QCOMPARE(h.vm.inputLevel(), mic ? 89.0 : 0.0);

        QSignalSpy testing(&h.vm, &Vm::voiceTestingChanged);
        h.vm.connectToVoiceServer();
        QVERIFY(!h.vm.micTesting() && !h.vm.conflictTesting());
        QCOMPARE(testing.count(), 1);
        QCOMPARE(h.vm.inputLevel(), 0.0);
        QVERIFY(!audio->captureStream()->isRunning() && !audio->headphoneStream()->isRunning());
        QVERIFY(!audio->testStreamsRunning());
        h.vm.startMicTest();
        h.vm.startPlayConflict();
        QVERIFY(!h.vm.micTesting() && !h.vm.conflictTesting());
    }

    // A test whose devices do not open, or stop while it runs, ends and says
    // which; the next start forgets the failure.
    void aTestWhoseDevicesDoNotOpenEndsAndSaysWhich_data() {
        QTest::addColumn<bool>("mic");
        QTest::addColumn<bool>("stops");
        QTest::addColumn<QString>("failure");
        QTest::newRow("microphone") << true << false
                                    << QStringLiteral("麦克风测试无法启动：麦克风、耳机无法打开");
        QTest::newRow("conflict tone") << false << false << QStringLiteral("冲突音无法播放：耳机无法打开");
        QTest::newRow("microphone, its devices stop")
            << true << true
            << QStringLiteral("麦克风测试已停止：音频设备已停止工作（麦克风、耳机），请检查设备后重试");
        QTest::newRow("conflict tone, its device stops")
            << false << true
            << QStringLiteral("冲突音已停止播放：音频设备已停止工作（耳机），请检查设备后重试");
    }
    void aTestWhoseDevicesDoNotOpenEndsAndSaysWhich() {
        QFETCH(bool, mic);
        QFETCH(bool, stops);
        QFETCH(QString, failure);
        Harness h;
        if (!stops) {
            QObject::connect(&h.client, &voice::VoiceClient::audioHandlerCreated, [](voice::AudioHandler* a) {
                a->setInputDevice(9999);
                a->setOutputHeadphoneDevice(9999);
            });
        }
        mic ? h.vm.startMicTest() : h.vm.startPlayConflict();
        voice::AudioHandler* audio = h.audio();
        if (stops) {
            QTRY_VERIFY(audio->testStreamsRunning());
            // As the audio engine reports devices that stopped calling back.
            emit audio->streamsStopped(mic ? voice::AudioStream::Capture | voice::AudioStream::Headphone
                                           : voice::AudioStreams(voice::AudioStream::Headphone));
        }
        QTRY_COMPARE(h.vm.eventLog().size(), 1);
        QCOMPARE(entry(h.vm, 0), QStringLiteral("ERROR: ") + failure);
        QCOMPARE(h.vm.testFailure(), failure);
        QVERIFY(!h.vm.micTesting() && !h.vm.conflictTesting());
        QVERIFY(!audio->testStreamsRunning() && !audio->captureStream()->isRunning());
        h.vm.startMicTest();
        QVERIFY(h.vm.testFailure().isEmpty());
        h.vm.stopMicTest();
    }

    // The page that started a test goes before the client: no device stays
    // open with nothing left to stop it, whether the test ran or was starting.
    void aViewModelThatGoesEndsItsTest() {
        Harness h;
        voice::AudioHandler* audio = h.audio();
        auto running = std::make_unique<Vm>(&h.client, &h.ptt, &h.devices);
        running->startMicTest();
        QTRY_VERIFY(audio->captureStream()->isRunning());
        running.reset();
        QVERIFY(!audio->captureStream()->isRunning() && !audio->headphoneStream()->isRunning());
        auto starting = std::make_unique<Vm>(&h.client, &h.ptt, &h.devices);
        starting->startPlayConflict();
        starting.reset();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QVERIFY(!audio->captureStream()->isRunning() && !audio->headphoneStream()->isRunning());
    }

    void withoutAMicrophoneThePageListensAndWithoutOutputsTheSessionEnds_data() {
        QTest::addColumn<bool>("microphone");
        QTest::newRow("no microphone: ready, the error shown") << false;
        QTest::newRow("no output: ended, the pilot can connect again") << true;
    }
    void withoutAMicrophoneThePageListensAndWithoutOutputsTheSessionEnds() {
        QFETCH(bool, microphone);
        Harness h;
        QObject::connect(&h.client, &voice::VoiceClient::audioHandlerCreated,
                         [microphone](voice::AudioHandler* a) {
                             if (microphone) {
                                 a->setOutputHeadphoneDevice(9999);
                                 a->setOutputSpeakerDevice(9999);
                             } else {
                                 a->setInputDevice(9999);
                             }
                         });
        h.vm.connectToVoiceServer();
        QVERIFY(h.server.waitForUdpPeer());
        h.server.sendWelcome("CES123");
        QTRY_COMPARE(h.vm.eventLog().size(), 1);
        QTRY_COMPARE(h.texts.last(), microphone ? QStringLiteral("未连接") : QStringLiteral("就绪"));
        QCOMPARE(h.vm.canConnect(), microphone);
        QVERIFY(entry(h.vm, 0).endsWith(microphone
                                            ? QStringLiteral("语音音频无法启动（耳机、扬声器），语音不可用")
                                            : QStringLiteral("按 PTT 不会发送语音")));
        // Push-to-talk that cannot send shows nothing as sending.
        h.vm.setPtt(true);
        QCOMPARE(h.vm.pttActive(), microphone);
        QVERIFY(h.client.pttActive());
    }

    // A device that stops mid-session, here with the whole sound server, is
    // told on the page within seconds, with what to do; with nothing left to
    // hear on, the session ends. Late: the rig is gone afterwards.
    void audioThatStopsMidSessionIsToldOnThePage() {
        Harness h;
        h.vm.connectToVoiceServer();
        QVERIFY(h.server.waitForUdpPeer());
        h.server.sendWelcome("CES123");
        QTRY_COMPARE(h.vm.connectionStateText(), QStringLiteral("就绪"));
        rig.stopServer();
        QTRY_COMPARE_WITH_TIMEOUT(h.vm.connectionStateText(), QStringLiteral("未连接"), 30000);
        QCOMPARE(entry(h.vm, 0),
                 QStringLiteral("ERROR: 音频设备已停止工作（麦克风、耳机、扬声器）。请检查设备后重新连接"
                                "语音服务器；如仍无法使用，请在设置中改选音频设备或重启客户端"));
        QVERIFY(h.vm.canConnect());
    }

    // Last: it ends the web-API session of the program.
    void aConnectWithoutATokenIsRefusedWithALogEntry() {
        Harness h;
        network::ApiService::instance()->clearSession();
        QTest::ignoreMessage(QtWarningMsg, "VoiceServiceViewModel: no access token, voice connect refused");
        h.vm.connectToVoiceServer();
        QVERIFY(h.vm.canConnect());
        QCOMPARE(h.client.connectionState(), voice::ConnectionState::Disconnected);
        QCOMPARE(h.vm.eventLog().size(), 1);
        QVERIFY(entry(h.vm, 0).startsWith(QStringLiteral("ERROR: ")));
    }
};

QTEST_MAIN(TestVoiceServiceViewModel)
#include "tst_voiceserviceviewmodel.moc"
