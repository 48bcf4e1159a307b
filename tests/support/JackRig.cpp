#include "support/JackRig.h"

#include "AppConfig.h"
#include "support/HelperProcess.h"
#include "voice/AudioDevices.h"
#include "voice/PortAudioSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTest>

#include <cstddef>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// PortAudio's host-API type id of JACK.
constexpr int kJackHostApiType = 12;
// Rig names, well below the 8 servers JACK keeps per machine.
constexpr int kRigNames = 4;
constexpr int kNameTimeout = 120000;
constexpr int kReapTimeout = 10000;

// Holds a name machine-wide as an abstract Unix socket: the kernel frees it
// with the last process that has the socket open, so it goes with a killed
// test, and nothing is left in the file system. -1 while another holds it.
int holdName(const QByteArray& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size())); // sun_path[0] 0: abstract
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return -1;
}

} // namespace

JackRig::JackRig(int sampleRate, int channels) : m_rate(sampleRate), m_channels(channels) {}

JackRig::~JackRig() {
    if (m_portAudioHeld) {
        std::lock_guard lock(velk::voice::portAudioMutex());
        Pa_Terminate();
    }
    stopServer();
    if (m_nameHold >= 0) {
        ::close(m_nameHold);
    }
}

bool JackRig::jackdAvailable() {
    return !QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("jack_wait")).isEmpty();
}

bool JackRig::required() {
    return qEnvironmentVariable("VELK_REQUIRE_AUDIO_RIG") == QLatin1String("1");
}

bool JackRig::start(QString* error) {
    if (!takeName(error)) {
        return false;
    }
    qputenv("JACK_DEFAULT_SERVER", m_name.toUtf8());
    qputenv("JACK_NO_AUDIO_RESERVATION", "1");
    qputenv("JACK_NO_START_SERVER", "1");
    // Servers starting at the same moment (test programs run in parallel) race
    // on JACK's shared registry, and one may never come up: one at a time.
    QLockFile lock(QDir::tempPath() + QStringLiteral("/velk-jackrig.lock"));
    if (!lock.tryLock(kNameTimeout)) {
        *error = QStringLiteral("another JACK rig's start held %1 for %2 s")
                     .arg(lock.fileName())
                     .arg(kNameTimeout / 1000);
        return false;
    }
    // The last server of this name may be dead but not yet reaped, and JACK
    // takes it for running until it is: try again a little later.
    const QDeadlineTimer reaped(kReapTimeout);
    while (!launch(error)) {
        if (!error->contains(QLatin1String("already active")) || reaped.hasExpired()) {
            return false;
        }
        QTest::qWait(100);
    }
    return true;
}

bool JackRig::takeName(QString* error) {
    const auto takeFree = [this] {
        for (int i = 0; i < kRigNames && m_nameHold < 0; ++i) {
            m_name = QStringLiteral("velk-rig-%1").arg(i);
            m_nameHold = holdName(m_name.toUtf8());
        }
        return m_nameHold >= 0;
    };
    if (!QTest::qWaitFor(takeFree, kNameTimeout)) {
        m_name.clear();
        *error = QStringLiteral("all %1 JACK rig names stayed taken by other tests").arg(kRigNames);
        return false;
    }
    return true;
}

bool JackRig::launch(QString* error) {
    const QString ch = QString::number(m_channels);
    m_jackd.setProcessChannelMode(QProcess::MergedChannels);
    // The server holds the name too: it is free again only when both are gone.
    velk::test::endWithTest(m_jackd, m_nameHold);
    m_jackd.start(QStringLiteral("jackd"),
                  {QStringLiteral("-n"), m_name, QStringLiteral("-r"), QStringLiteral("-p"),
                   QStringLiteral("64"), QStringLiteral("-L"), ch, QStringLiteral("-d"),
                   QStringLiteral("dummy"), QStringLiteral("-r"), QString::number(m_rate),
                   QStringLiteral("-p"), QString::number(m_rate / 50), QStringLiteral("-C"), ch,
                   QStringLiteral("-P"), ch});
    if (!m_jackd.waitForStarted(5000)) {
        *error = QStringLiteral("jackd did not start: ") + m_jackd.errorString();
        return false;
    }
    QProcess wait;
    wait.setProcessChannelMode(QProcess::MergedChannels);
    wait.start(QStringLiteral("jack_wait"), {QStringLiteral("-w"), QStringLiteral("-s"), m_name,
                                             QStringLiteral("-t"), QStringLiteral("10")});
    // A server that cannot start ends at once: no need to wait for its answer then.
    const bool over = QTest::qWaitFor(
        [&] { return wait.state() == QProcess::NotRunning || m_jackd.state() == QProcess::NotRunning; },
        15000);
    if (over && m_jackd.state() == QProcess::Running && wait.error() == QProcess::UnknownError &&
        wait.exitCode() == 0) {
        return true;
    }
    wait.kill();
    wait.waitForFinished(2000);
    stopServer(); // reads the rest of what it said
    *error = QStringLiteral("jackd did not answer: ") + QString::fromLocal8Bit(m_jackd.readAll()) +
             QString::fromLocal8Bit(wait.readAll());
    return false;
}

void JackRig::stopServer() {
    if (m_jackd.state() != QProcess::NotRunning) {
        m_jackd.terminate();
        if (!m_jackd.waitForFinished(5000)) {
            m_jackd.kill();
            m_jackd.waitForFinished(2000);
        }
    }
}

bool JackRig::holdPortAudio() {
    std::lock_guard lock(velk::voice::portAudioMutex());
    m_portAudioHeld = m_portAudioHeld || Pa_Initialize() == paNoError;
    return m_portAudioHeld;
}

int JackRig::device(const QByteArray& name) {
    int jackApi = -1;
    for (const auto& api : velk::voice::getHostApiNames()) {
        if (api.type == kJackHostApiType) {
            jackApi = api.index;
        }
    }
    for (const auto& d : velk::voice::enumerateDevices({})) {
        if (d.hostApi == jackApi && d.name == name) {
            return d.index;
        }
    }
    return -1;
}

void JackRig::writeVoiceConfig() {
    auto* config = velk::AppConfig::instance();
    config->setValue(velk::ConfigKeys::VoiceDriver, kJackHostApiType);
    config->setValue(velk::ConfigKeys::VoiceInputDevice, QStringLiteral("loopback"));
    config->setValue(velk::ConfigKeys::VoiceOutputHeadphoneDevice, QStringLiteral("system"));
    config->setValue(velk::ConfigKeys::VoiceOutputSpeakerDevice, QStringLiteral("system"));
}
