// Real audio on a headless JACK server: device lists, live callbacks, tones
// heard through the loopback device, the microphone test, device changes and
// shut-down while a start is pending, and the servers of killed tests going
// with them without keeping a later server from starting.
#include "support/AudioSignals.h"
#include "support/BlockedPool.h"
#include "support/HelperProcess.h"
#include "support/JackRig.h"
#include "support/RigAudio.h"
#include "voice/AudioDevices.h"
#include "voice/AudioHandler.h"

#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTextStream>

#include <optional>
#include <stdexcept>
#include <thread>

#include <csignal>

#include <unistd.h>

using namespace velk;
using voice::AudioHandler;
using voice::RadioChannel;
using voice::VolumeInfo;

namespace {

constexpr int kRate = 44100;
constexpr int kTimeout = 10000;
const char* const kRigChild = "VELK_AUDIO_RIG_CHILD";
const char* const kRigKills = "VELK_AUDIO_RIG_KILLS";

bool heard(const QSignalSpy& levels, int minPercent) {
    for (const auto& args : levels) {
        if (args.at(0).value<VolumeInfo>().percent >= minPercent) {
            return true;
        }
    }
    return false;
}

RadioChannel com1() {
    RadioChannel r;
    r.id = 0;
    r.frequency = 122800;
    r.receive = true;
    return r;
}

// A process's state letter ("R", "S", "T" stopped, "Z"...); "X" when it is gone.
QByteArray processState(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return "X";
    }
    // "pid (name) state ...": the state follows the last ')'.
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 1).trimmed().left(1);
}

// A process that is gone or a zombie.
bool ended(qint64 pid) {
    const QByteArray state = processState(pid);
    return state == "Z" || state == "X";
}

// Child process: a rig, its server's pid on stdout, then waiting to be killed.
int runRigChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    JackRig rig{kRate, 2};
    QString error;
    if (!rig.start(&error)) {
        QTextStream(stdout) << error << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << rig.serverPid() << Qt::endl;
    return QCoreApplication::exec();
}

// Child process: kills `kills` rig children one after the other, each as soon
// as its server answers, and checks that the server ends with it; then a rig
// must still start. Says what went wrong on stdout.
int runRigKiller(int argc, char** argv, int kills) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    for (int i = 0; i < kills; ++i) {
        QProcess child;
        velk::test::endWithTest(child);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kRigChild), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        const bool answered = QTest::qWaitFor([&] { return child.canReadLine(); }, 30000);
        const QByteArray said = child.readLine().trimmed();
        const qint64 server = said.toLongLong();
        if (!answered || server <= 0 || ended(server)) {
            out << "rig " << i << ": " << said << child.readAll() << Qt::endl;
            return 1;
        }
        child.kill();
        child.waitForFinished();
        if (!QTest::qWaitFor([server] { return ended(server); }, kTimeout)) {
            ::kill(static_cast<pid_t>(server), SIGKILL);
            out << "rig " << i << ": its server outlived it" << Qt::endl;
            return 1;
        }
    }
    JackRig rig{kRate, 2};
    QString error;
    if (!rig.start(&error)) {
        out << "after " << kills << " killed: " << error << Qt::endl;
        return 1;
    }
    return 0;
}

// Why this test cannot mount a /dev/shm of its own; empty when it can. Root
// in a container is often denied a mount namespace, and unshare says so.
QString noOwnShm() {
    if (::geteuid() != 0) {
        return QStringLiteral("not root");
    }
    if (QStandardPaths::findExecutable("unshare").isEmpty()) {
        return QStringLiteral("unshare is not installed");
    }
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start("unshare", {"-m", "--propagation", "private", "sh", "-c", "mount -t tmpfs tmpfs /dev/shm"});
    if (!probe.waitForFinished(kTimeout)) {
        probe.kill();
        probe.waitForFinished();
        return QStringLiteral("unshare did not finish");
    }
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        return QString::fromLocal8Bit(probe.readAll()).trimmed();
    }
    return {};
}

} // namespace

class TestAudioRig : public QObject {
    Q_OBJECT

    JackRig rig{kRate, 2};
    int system = -1;
    int loopback = -1;

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        JackRig::writeVoiceConfig();
        system = JackRig::device("system");
        loopback = JackRig::device("loopback");
        QVERIFY(system >= 0 && loopback >= 0);
    }

    void deviceListsShowTheRigUnderJack() {
        int jack = -1;
        for (const auto& api : voice::getHostApiNames()) {
            if (api.type == 12) {
                jack = api.index;
                QVERIFY(api.defaultInputDevice >= 0 && api.defaultOutputDevice >= 0);
            }
        }
        QVERIFY(jack >= 0);
        for (const auto& list : {voice::getVoiceInputDevices(jack), voice::getVoiceOutputDevices(jack)}) {
            QStringList names;
            for (const auto& d : list) {
                names << QString::fromUtf8(d.name);
                QCOMPARE(d.hostApi, jack);
            }
            QVERIFY2(names.contains("system") && names.contains("loopback"), qPrintable(names.join(',')));
        }
        QVERIFY(voice::getVoiceInputDevices(999).isEmpty());
        const auto info = voice::getDeviceInfo(loopback);
        QCOMPARE(info.name, QByteArray("loopback"));
        QCOMPARE(info.maxInputChannels, 2);
        QCOMPARE(info.defaultSampleRate, double(kRate));
        QVERIFY(voice::getDefaultInputDevice() >= 0);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, voice::getDeviceInfo(9999));
    }

    void captureCallbacksKeepComingOnTheDefaultDevice() {
        AudioHandler h;
        h.setInputDevice(-1); // the default device is taken and recorded
        QCOMPARE(h.inputConfig().device, std::optional<qint32>(voice::getDefaultInputDevice()));
        QCOMPARE(h.inputConfig().channels, 2);
        h.setOutputHeadphoneDevice(system);
        h.setOutputSpeakerDevice(system);
        QSignalSpy packets(&h, &AudioHandler::encodedAudioReady);
        h.setPttActive(true);
        QVERIFY(h.startStreams().ok());
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= 50, kTimeout);
        h.setPttActive(false);
        h.stopStreams();
    }

    void pressToneIsHeardOnTheLoopbackAtItsFrequency() {
        AudioHandler h;
        h.setInputDevice(loopback);
        h.setOutputHeadphoneDevice(loopback);
        h.setOutputSpeakerDevice(system);
        h.setPttVolume(1.0f);
        QSignalSpy packets(&h, &AudioHandler::encodedAudioReady);
        QSignalSpy levels(&h, &AudioHandler::inputVolumeChanged);
        h.setPttActive(true);
        QVERIFY(h.startStreams().ok());
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= 5, kTimeout);
        for (int i = 0; i < 5; ++i) { // 100 ms of beep, one block after the other
            h.playPttTone(true);
        }
        QTRY_VERIFY_WITH_TIMEOUT(heard(levels, 60), kTimeout);
        const int heardAt = packets.count();
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= heardAt + 10, kTimeout);
        const auto pcm = audiotest::decodeAll(packets, 2);
        // 44100 / 29 samples per period; an octave above would be 3041 Hz.
        for (int c = 0; c < 2; ++c) {
            const double f = audiotest::dominantFrequency(pcm, 48000, 2, c);
            QVERIFY2(std::fabs(f - 1520.7) < 10, qPrintable(QString::number(f)));
        }
    }

    void micTestCarriesAToneThroughEncodeAndDecode() {
        AudioHandler h; // holds PortAudio's initialisation for the test's own stream too
        // The microphone: a tone played into the loopback by a stream of the test's own.
        audiotest::RigMouth mouth(loopback, kRate, 2, 630.0f);
        QVERIFY(mouth.start());

        h.setInputDevice(loopback);
        h.setOutputHeadphoneDevice(system);
        h.addRadioSource(com1());
        QSignalSpy packets(&h, &AudioHandler::encodedAudioReady);
        QSignalSpy in(&h, &AudioHandler::inputVolumeChanged);
        QSignalSpy out(&h, &AudioHandler::outputVolumeChanged);
        auto started = h.startMicTest(0);
        QTRY_VERIFY_WITH_TIMEOUT(h.testStreamsRunning() && started.isFinished(), kTimeout);
        QVERIFY(started.result().ok());
        h.setPttActive(true);
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= 25 && heard(out, 80), kTimeout);
        QVERIFY(heard(in, 80)); // 0.3 peak: -13.5 dB, 85 %
        const double f = audiotest::dominantFrequency(audiotest::decodeAll(packets, 2), 48000, 2);
        QVERIFY2(std::fabs(f - 630) <= 10, qPrintable(QString::number(f)));
        QVERIFY(h.headphoneStream()->hasSource(AudioHandler::kLoopbackSourceId));
        QVERIFY(h.headphoneStream()->hasSource(0));

        // COM1 is not the loopback: after the test and a restart it is still heard.
        h.stopMicTest();
        QVERIFY(!h.captureStream()->isRunning() && !h.headphoneStream()->isRunning());
        QVERIFY(h.startStreams().ok());
        QVERIFY(h.headphoneStream()->hasSource(0));
        QVERIFY(!h.headphoneStream()->hasSource(AudioHandler::kLoopbackSourceId));
        h.setPttActive(false);
    }

    // The conflict tone needs no microphone: it plays into the loopback until stopped.
    void conflictToneIsHeardOnTheLoopbackWithoutAMicrophone() {
        AudioHandler h;
        QTest::ignoreMessage(QtWarningMsg, "Input device change failed: invalid device 9999");
        h.setInputDevice(9999);
        h.setOutputHeadphoneDevice(loopback);
        h.setConflictVolume(1.0f);
        audiotest::RigEar ear(loopback, kRate, 2);
        QVERIFY(ear.start());
        auto started = h.startPlayConflict();
        QTRY_VERIFY_WITH_TIMEOUT(started.isFinished(), kTimeout);
        QVERIFY(started.result().ok() && h.headphoneStream()->isRunning());
        const int from = ear.blocks();
        QVERIFY(ear.waitFor(from, 25));
        const auto pcm = audiotest::decodeAll(ear.packets(from + 5), 2);
        const double f = audiotest::dominantFrequency(pcm, 48000, 2);
        QVERIFY2(std::fabs(f - 293.66) <= 5, qPrintable(QString::number(f)));
        h.stopPlayConflict();
        QVERIFY(!h.headphoneStream()->isRunning());
    }

    void deviceChangeWhileRunningRestartsCleanly() {
        AudioHandler h;
        h.setInputDevice(system);
        h.setOutputHeadphoneDevice(system);
        h.setOutputSpeakerDevice(system);
        h.addRadioSource(com1());
        QSignalSpy packets(&h, &AudioHandler::encodedAudioReady);
        h.setPttActive(true);
        QVERIFY(h.startStreams().ok());
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= 5, kTimeout);
        h.setInputDevice(loopback);
        h.setOutputHeadphoneDevice(loopback);
        QCOMPARE(h.headphoneConfig().device, std::optional<qint32>(loopback));
        QVERIFY(h.captureStream()->isRunning() && h.headphoneStream()->isRunning());
        QVERIFY(h.headphoneStream()->hasSource(0));
        const int before = packets.count();
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= before + 10, kTimeout);
    }

    void shutdownWhileAStartIsPendingOrRunningIsClean() {
        for (bool blocked : {true, false}) {
            auto* h = new AudioHandler;
            h->setInputDevice(loopback);
            h->setOutputHeadphoneDevice(loopback);
            h->setOutputSpeakerDevice(system);
            std::optional<BlockedPool> pool;
            if (blocked) {
                pool.emplace();
            }
            h->startMicTest(0);
            auto pending = h->startStreamsAsync();
            h->shutdown();
            QVERIFY(pending.isFinished());
            QVERIFY(!h->captureStream()->isRunning() && !h->headphoneStream()->isRunning());
            delete h;
        }
    }

    // A sound server that hangs (its driver stuck, as when the interface it
    // runs on is unplugged) ends no stream and calls back no more: the streams
    // are reported while it still hangs, without waiting on it, and once it
    // runs again new ones start on it.
    void aHungSoundServerIsReportedWithoutWaitingOnIt() {
        AudioHandler h;
        h.setInputDevice(loopback);
        h.setOutputHeadphoneDevice(system);
        h.setOutputSpeakerDevice(system);
        QVERIFY(h.startStreams().ok());
        QSignalSpy stopped(&h, &AudioHandler::streamsStopped);
        const qint64 server = rig.serverPid();
        QVERIFY(::kill(pid_t(server), SIGSTOP) == 0);
        // Resumed from another thread at the latest, so that a wait on it ends.
        QSemaphore reported;
        std::thread resume([&] {
            reported.tryAcquire(1, 60000);
            ::kill(pid_t(server), SIGCONT);
        });
        QTRY_VERIFY_WITH_TIMEOUT(!stopped.isEmpty(), 30000);
        const QByteArray state = processState(server);
        reported.release();
        resume.join();
        QCOMPARE(state, QByteArray("T"));
        QCOMPARE(stopped.at(0).at(0).value<voice::AudioStreams>(),
                 voice::AudioStream::Capture | voice::AudioStream::Headphone | voice::AudioStream::Speaker);
        QVERIFY(!h.captureStream()->isRunning() && !h.headphoneStream()->isRunning());
        QSignalSpy packets(&h, &AudioHandler::encodedAudioReady);
        h.setPttActive(true);
        QVERIFY(h.startStreams().ok());
        QTRY_VERIFY_WITH_TIMEOUT(packets.count() >= 10, kTimeout);
        h.setPttActive(false);
    }

    // Last: a second server for a moment. CTest's time-out kills a test
    // outright. In a /dev/shm of the test's own, more tests are killed than
    // JACK keeps servers, the machine's registry is not touched, and a
    // read-only one makes the server fail. Where none can be mounted, killed
    // servers would leave their files in the machine's: the case is skipped.
    void killedTestsServersEndAndLeaveNothingInTheWay_data() {
        QTest::addColumn<QString>("shm"); // mount options of the test's own /dev/shm
        QTest::addColumn<int>("kills");
        QTest::addColumn<QByteArray>("failure"); // what the last rig says; empty: it starts
        QTest::newRow("more kills than JACK keeps servers") << "rw" << 9 << QByteArray();
        QTest::newRow("a server that fails says why") << "ro" << 0 << QByteArray("Failed to open server");
    }
    void killedTestsServersEndAndLeaveNothingInTheWay() {
        QFETCH(QString, shm);
        QFETCH(int, kills);
        QFETCH(QByteArray, failure);
        const QString self = QCoreApplication::applicationFilePath();
        if (const QString why = noOwnShm(); !why.isEmpty()) {
            QSKIP(qPrintable("needs a /dev/shm of its own, which cannot be made here: " + why));
        }
        QProcess killer;
        velk::test::endWithTest(killer);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kRigKills), QString::number(kills));
        killer.setProcessEnvironment(env);
        killer.setProcessChannelMode(QProcess::MergedChannels);
        killer.start("unshare",
                     {"-m", "sh", "-c", "mount -t tmpfs -o " + shm + " tmpfs /dev/shm && exec \"$0\"", self});
        QVERIFY(killer.waitForFinished(180000));
        const QByteArray said = killer.readAll();
        QVERIFY2(killer.exitStatus() == QProcess::NormalExit &&
                     killer.exitCode() == int(!failure.isEmpty()) && said.contains(failure),
                 said.constData());
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kRigChild)) {
        return runRigChild(argc, argv);
    }
    if (qEnvironmentVariableIsSet(kRigKills)) {
        return runRigKiller(argc, argv, qEnvironmentVariableIntValue(kRigKills));
    }
    QCoreApplication app(argc, argv);
    TestAudioRig test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_audiorig.moc"
