// The voice session end to end: a client on the voice test server with its
// audio engine on the JACK rig, whose loopback device is both the pilot's
// microphone (the test's mouth plays into it) and the test's ear.
#include "input/PttService.h"
#include "support/AudioSignals.h"
#include "support/BlockedPool.h"
#include "support/FakeInputSource.h"
#include "support/MessageLog.h"
#include "support/RigAudio.h"
#include "support/VoiceSessionRig.h"

#include <QRegularExpression>

#include <optional>
#include <tuple>

using namespace velk;
using test::VoiceTestServer;
using voice::AudioHandler;
using voice::ConnectionState;
using voice::VoiceClient;
using Rig = test::VoiceSessionRig;

namespace {

constexpr int kRate = 44100;

voice::RadioChannel radio(int id, int frequency, bool transmit, bool receive) {
    return {id, frequency, transmit, receive, 1.0f, false};
}

QList<VoiceTestServer::Datagram> voiceFrames(const VoiceTestServer& server) {
    QList<VoiceTestServer::Datagram> out;
    for (const QByteArray& bytes : server.datagrams()) {
        if (const auto d = VoiceTestServer::parse(bytes); d && !d->audio.isEmpty()) {
            out.append(*d);
        }
    }
    return out;
}

QByteArray bytes(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// Talkers "CALLSIGN@kHz:Hz" send a tone each, one packet per 20 ms.
bool talk(VoiceTestServer& server, const QString& talkers, int packets) {
    QList<QStringList> voices;
    std::vector<std::vector<std::vector<uint8_t>>> tones;
    for (const QString& t : talkers.split(u' ')) {
        voices.append(t.split(QRegularExpression("[@:]")));
        tones.push_back(audiotest::sinePackets(voices.last()[2].toDouble(), packets, 1, 0.3));
    }
    int sent = 0;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        for (int v = 0; v < voices.size() && sent < packets; ++v) {
            server.sendDatagram(VoiceTestServer::encode(7, 0, voices[v][1].toInt(), voices[v][0].toUtf8(),
                                                        bytes(tones[size_t(v)][size_t(sent)])));
        }
        ++sent;
    });
    pace.start(20);
    return QTest::qWaitFor([&] { return sent >= packets; }, 10000);
}

} // namespace

class TestVoiceClientAudio : public QObject {
    Q_OBJECT

    JackRig rig{kRate, 2};
    int loopback = -1;

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        QVERIFY(rig.holdPortAudio());
        loopback = JackRig::device("loopback");
        QVERIFY(loopback >= 0 && JackRig::device("system") >= 0);
    }

    void pushToTalkSendsTheMicrophoneOnTheTransmitter_data() {
        QTest::addColumn<quint32>("cid");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<bool>("transmit");
        QTest::newRow("COM1 transmits") << 1234567u << 118500 << true;
        QTest::newRow("no transmitter") << 1234567u << 118500 << false;
        QTest::newRow("no cid, not ready") << 0u << 118500 << true;
        QTest::newRow("a frequency the packet cannot carry") << 1234567u << 200000 << true;
    }
    void pushToTalkSendsTheMicrophoneOnTheTransmitter() {
        QFETCH(quint32, cid);
        QFETCH(int, frequency);
        QFETCH(bool, transmit);
        test::MessageLog log;
        Rig r({"loopback"});
        QVERIFY(r.becomeReady(cid));
        r.client.applyRadioStack(radio(0, frequency, transmit, true));
        audiotest::RigMouth mouth(loopback, kRate, 2, 630.0f);
        audiotest::RigEar clock(loopback, kRate, 2); // counts time in blocks
        QVERIFY(mouth.start() && clock.start());
        QSignalSpy captured(r.client.audioHandler(), &AudioHandler::encodedAudioReady);
        QSignalSpy announced(&r.client, &VoiceClient::voiceDataSent);
        r.client.setPtt(true);
        QTRY_VERIFY_WITH_TIMEOUT(captured.count() >= 25, 10000);
        r.client.setPtt(false);
        QVERIFY(clock.waitFor(clock.blocks(), 5)); // what was captured before the release is out
        const auto frames = voiceFrames(r.server);
        QVERIFY(clock.waitFor(clock.blocks(), 10));
        QCOMPARE(voiceFrames(r.server).size(), frames.size()); // released: no more
        QCOMPARE(announced.count(), frames.size());
        QCOMPARE(frames.size() >= 25, cid != 0 && transmit && frequency < 200000);
        QCOMPARE(log.count("VoiceClient: voice frame dropped") > 0, frequency >= 200000);
        voice::OpusDecoder decoder(2);
        std::vector<float> pcm;
        for (const auto& d : frames) {
            QCOMPARE(std::tuple(d.cid, d.callsign, d.transmitter, d.frequency),
                     std::tuple(cid, QByteArray("CES123"), 0, frequency));
            const auto out =
                decoder.decode(reinterpret_cast<const uint8_t*>(d.audio.data()), int(d.audio.size()));
            pcm.insert(pcm.end(), out.begin(), out.end());
        }
        QVERIFY(frames.isEmpty() || audiotest::toneShare(pcm, 48000, 2, 630) > 0.4);
        QVERIFY(frames.isEmpty() || announced.last().at(0).value<voice::VolumeInfo>().percent > 70);
    }

    // Radios "kHz:rx|tx" for COM1 and COM2, what came before, the talkers and the tones heard.
    void receivedVoiceIsHeardOnTheTunedRadio_data() {
        QTest::addColumn<QString>("radios");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("talkers");
        QTest::addColumn<QList<double>>("heard");
        const auto row = [](const char* name, const char* radios, const char* before, const char* talkers,
                            QList<double> heard) {
            QTest::newRow(name) << radios << before << talkers << heard;
        };
        const char* com1 = "118500:rx 0:rx";
        const char* cca = "CCA1@118500:700";
        row("COM1", com1, "", cca, {700});
        row("two radios at once", "118500:rx 121500:rx", "", "CCA1@118500:700 CSN2@121500:1300", {700, 1300});
        row("shared frequency plays on the receiving radio", "121500:tx 121500:rx", "", "CCA1@121500:700",
            {700});
        row("COM1 after disconnect and reconnect", com1, "local", cca, {700});
        row("COM1 after a lost connection", com1, "lost", cca, {700});
        row("COM1 after the server's disconnect", com1, "kicked", cca, {700});
        row("COM1 after a microphone test", com1, "mictest", cca, {700});
        row("COM1 moved to the speaker", com1, "speaker", cca, {700});
        row("push-to-talk held: the conflict tone", com1, "ptt", cca, {294}); // 44100 / 150: whole samples
    }
    void receivedVoiceIsHeardOnTheTunedRadio() {
        QFETCH(QString, radios);
        QFETCH(QString, before);
        QFETCH(QString, talkers);
        QFETCH(QList<double>, heard);
        const bool speaker = before == "speaker";
        Rig r({"system", speaker ? "system" : "loopback", speaker ? "loopback" : "system"});
        const auto tune = [&] {
            QVERIFY(r.becomeReady());
            for (int id = 0; id < 2; ++id) {
                const QStringList f = radios.section(u' ', id, id).split(u':');
                r.client.updateRadioStack(radio(id, f[0].toInt(), f[1] == "tx", f[1] == "rx"));
            }
        };
        tune();
        AudioHandler* audio = r.client.audioHandler();
        if (QStringList{"local", "lost", "kicked", "mictest"}.contains(before)) {
            r.client.setPtt(true);
            before == "lost"     ? r.server.control().closeClient()
            : before == "kicked" ? r.server.sendMessage("disconnect", "")
                                 : r.client.disconnectFromServer();
            QTRY_COMPARE(r.client.connectionState(), ConnectionState::Disconnected);
            QVERIFY(!audio->captureStream()->isRunning() && !audio->headphoneStream()->isRunning());
            r.client.setPtt(false);
            if (before == "mictest") {
                audio->startMicTest(0);
                QTRY_VERIFY(audio->testStreamsRunning());
                audio->stopMicTest();
            }
            tune();
        } else if (speaker) {
            r.client.updateRadioOutput({0, 118500, false, true, 1.0f, true});
        } else if (before == "ptt") {
            r.client.setPtt(true);
        }
        audiotest::RigEar ear(loopback, kRate, 2);
        QVERIFY(ear.start());
        QSignalSpy received(&r.client, &VoiceClient::voiceDataReceived);
        const int from = ear.blocks();
        QVERIFY(talk(r.server, talkers, 25) && ear.waitFor(from, 40));
        QTRY_COMPARE(received.count(), 25 * talkers.count(u'@'));
        QCOMPARE(received.first().mid(0, 2),
                 (QVariantList{talkers.section(u'@', 0, 0),
                               talkers.section(u'@', 1).section(u':', 0, 0).toInt()}));
        const auto pcm = audiotest::decodeAll(ear.packets(from), 2);
        for (const double hz : heard) {
            const double share = audiotest::toneShare(pcm, 48000, 2, hz);
            QVERIFY2(share > 0.4 / heard.size(), qPrintable(QStringLiteral("%1 Hz: %2").arg(hz).arg(share)));
        }
    }

    // Packets "<callsign><ms><+ played|- conflict>" on COM1's frequency at the
    // test clock's time; "U" is a packet on a frequency no radio has.
    void aSecondTalkerWithinTheWindowIsAConflict_data() {
        QTest::addColumn<QString>("script");
        QTest::newRow("second callsign, then a gap") << "A0+ B50- A60+ B150- B170+ A180- A300+";
        QTest::newRow("same callsign") << "A0+ A10+ A20+ A21+";
        QTest::newRow("push-to-talk held") << "A0+ ptt B10- B20- A30- release A40+ B50-";
        QTest::newRow("untuned frequency leaves no trace") << "U A0+ U B50-";
    }
    void aSecondTalkerWithinTheWindowIsAConflict() {
        QFETCH(QString, script);
        Rig r;
        std::chrono::nanoseconds now{0};
        r.client.setClock([&] { return now; });
        QVERIFY(r.becomeReady());
        r.client.updateRadioStack(radio(0, 118500, true, true));
        const QByteArray audio = bytes(audiotest::sinePackets(700, 1).front());
        QSignalSpy received(&r.client, &VoiceClient::voiceDataReceived);
        QSignalSpy played(r.client.audioHandler(),
                          &AudioHandler::outputVolumeChanged); // conflicts are not decoded
        for (const QString& step : script.split(u' ')) {
            if (step == "U") {
                r.server.sendDatagram(VoiceTestServer::encode(9, 0, 119000, "ZZZ", audio));
            } else if (step == "ptt" || step == "release") {
                r.client.setPtt(step == "ptt");
            } else {
                now = std::chrono::milliseconds(step.mid(1, step.size() - 2).toInt());
                const auto before = std::pair(received.count(), played.count());
                r.server.sendDatagram(VoiceTestServer::encode(7, 0, 118500, step.left(1).toUtf8(), audio));
                QTRY_COMPARE(received.count(), before.first + 1);
                QVERIFY2(played.count() - before.second == int(step.endsWith(u'+')), qPrintable(step));
            }
        }
        QCOMPARE(r.client.lastSpeakerCount(), 1);
    }

    void audioThatCannotStartIsReportedAndNoOutputEndsTheSession_data() {
        QTest::addColumn<QString>("devices"); // input headphone speaker; "none" is no device
        QTest::addColumn<QString>("error");
        QTest::newRow("capture: ready for listening") << "none system system"
                                                      << "麦克风无法启动";
        QTest::newRow("both outputs: not ready") << "system none none"
                                                 << "语音音频无法启动（耳机、扬声器），语音不可用";
        QTest::newRow("speaker only: ready") << "system system none"
                                             << "语音音频输出无法启动（扬声器）";
    }
    void audioThatCannotStartIsReportedAndNoOutputEndsTheSession() {
        QFETCH(QString, devices);
        QFETCH(QString, error);
        const QList<QByteArray> d = devices.toUtf8().split(' ');
        Rig r({d[0], d[1], d[2]});
        QVERIFY(r.signOn());
        r.server.sendWelcome("CES123");
        QTRY_COMPARE(r.errors.count(), 1);
        QVERIFY2(r.errors.at(0).at(0).toString().contains(error),
                 qPrintable(r.errors.at(0).at(0).toString()));
        // Only a session nothing can be heard on ends, so the pilot can connect again.
        const bool ready = d[1] != "none";
        QTRY_COMPARE(r.client.connectionState(),
                     ready ? ConnectionState::Ready : ConnectionState::Disconnected);
        QCOMPARE(r.lost.count(), int(!ready));
        if (!ready) {
            QCOMPARE(r.lost.at(0).at(0).toString(), error); // the server log's text, as the page's
        }
        AudioHandler* audio = r.client.audioHandler();
        QCOMPARE(audio->captureStream()->isRunning(), ready && d[0] != "none");
        QCOMPARE(audio->headphoneStream()->isRunning(), ready);
        if (d[0] == "none") {
            // Push-to-talk without a microphone sends nothing and keeps the session.
            r.client.updateRadioStack(radio(0, 118500, true, true));
            QSignalSpy sent(&r.client, &VoiceClient::voiceDataSent);
            audiotest::RigEar clock(loopback, kRate, 2);
            QVERIFY(clock.start());
            r.client.setPtt(true);
            QVERIFY(r.client.listenOnly() && !r.client.transmitting());
            // Nothing goes out, so what is heard meanwhile is no conflict.
            QSignalSpy played(r.client.audioHandler(), &AudioHandler::outputVolumeChanged);
            r.server.sendDatagram(
                VoiceTestServer::encode(7, 0, 118500, "CCA1", bytes(audiotest::sinePackets(700, 1).front())));
            QTRY_COMPARE(played.count(), 1);
            QVERIFY(clock.waitFor(clock.blocks(), 10));
            r.client.setPtt(false);
            QVERIFY(clock.waitFor(clock.blocks(), 5));
            QVERIFY(voiceFrames(r.server).isEmpty() && sent.isEmpty());
            QCOMPARE(r.client.connectionState(), ConnectionState::Ready);
            QCOMPARE(r.errors.count(), 1);
        }
    }

    void loggingOutIsCleanAtEveryStage_data() {
        QTest::addColumn<QString>("stage");
        for (const char* stage : {"connecting", "starting streams", "talking"}) {
            QTest::newRow(stage) << stage;
        }
    }
    void loggingOutIsCleanAtEveryStage() {
        QFETCH(QString, stage);
        Rig r;
        std::optional<BlockedPool> pool;
        if (stage == "connecting") {
            r.client.transport()->setServer(deployment::parseVoiceServer(r.server.holdUnaccepted()));
            r.client.connectToServer(QStringLiteral("t"));
            QTRY_VERIFY(r.client.transport()->connectPending());
        } else {
            QVERIFY(r.signOn());
            pool.emplace(); // the stream start waits behind it
            r.server.sendWelcome("CES123");
            QTRY_VERIFY(r.client.audioHandler());
        }
        if (stage == "talking") {
            pool.reset();
            QTRY_VERIFY(r.client.isReady());
            r.client.updateRadioStack(radio(0, 118500, true, true));
            r.client.setPtt(true);
            QTRY_VERIFY(!voiceFrames(r.server).isEmpty());
        }
        r.owned.reset();
        QCoreApplication::processEvents(); // whatever was still queued for it finds it gone
    }

    void pushToTalkIsReleasedWhenItsServiceGoesAway() {
        test::FakeInputSource input;
        VoiceClient client;
        AudioHandler* audio = client.ensureAudioHandler();
        auto service = std::make_unique<input::PttService>();
        service->setBoundKey(QStringLiteral("kb:163"));
        QObject page; // the voice page's road: a direct connection
        connect(
            service.get(), &input::PttService::activeChanged, &page, [&](bool on) { client.setPtt(on); },
            Qt::DirectConnection);
        input.key(163, true);
        QVERIFY(client.pttActive() && audio->captureStream()->pttActive());
        service.reset();
        QVERIFY(!client.pttActive() && !audio->captureStream()->pttActive());
    }
};

QTEST_GUILESS_MAIN(TestVoiceClientAudio)
#include "tst_voiceclientaudio.moc"
