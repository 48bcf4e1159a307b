#include "support/JackRig.h"

#include "AppConfig.h"
#include "support/HelperProcess.h"
#include "voice/AudioDevices.h"
#include "voice/PortAudioSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

namespace {

// PortAudio's host-API type id of JACK.
constexpr int kJackHostApiType = 12;

} // namespace

JackRig::JackRig(int sampleRate, int channels) : m_rate(sampleRate), m_channels(channels) {
    m_name = QStringLiteral("velk-%1-%2")
                 .arg(QFileInfo(QCoreApplication::applicationFilePath()).baseName())
                 .arg(QCoreApplication::applicationPid());
}

JackRig::~JackRig() {
    if (m_portAudioHeld) {
        std::lock_guard lock(velk::voice::portAudioMutex());
        Pa_Terminate();
    }
    if (m_jackd.state() != QProcess::NotRunning) {
        m_jackd.terminate();
        if (!m_jackd.waitForFinished(5000)) {
            m_jackd.kill();
            m_jackd.waitForFinished(2000);
        }
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
    qputenv("JACK_DEFAULT_SERVER", m_name.toUtf8());
    qputenv("JACK_NO_AUDIO_RESERVATION", "1");
    qputenv("JACK_NO_START_SERVER", "1");
    // Servers starting at the same moment (test programs run in parallel) race
    // on JACK's shared registry, and one may never come up: one at a time.
    QLockFile lock(QDir::tempPath() + QStringLiteral("/velk-jackrig.lock"));
    lock.lock();
    const QString ch = QString::number(m_channels);
    m_jackd.setProcessChannelMode(QProcess::MergedChannels);
    velk::test::endWithTest(m_jackd);
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
    wait.start(QStringLiteral("jack_wait"), {QStringLiteral("-w"), QStringLiteral("-s"), m_name,
                                             QStringLiteral("-t"), QStringLiteral("10")});
    if (!wait.waitForFinished(15000) || wait.exitCode() != 0 || m_jackd.state() == QProcess::NotRunning) {
        *error = QStringLiteral("jackd did not answer: ") + QString::fromLocal8Bit(m_jackd.readAll()) +
                 QString::fromLocal8Bit(wait.readAll());
        return false;
    }
    return true;
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
