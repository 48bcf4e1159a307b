#include "ui/viewmodel/VoiceServiceViewModel.h"

#include "common/OneLine.h"
#include "input/PttService.h"
#include "network/ApiService.h"
#include "voice/AudioDevice.h"
#include "voice/AudioHandler.h"

#include <QDebug>
#include <QFutureWatcher>
#include <QTime>
#include <QVariantMap>

namespace velk::ui {

using voice::ConnectionState;
using voice::VolumeInfo;

namespace {
constexpr double kSilenceDb = -96.0;
} // namespace

VoiceServiceViewModel::VoiceServiceViewModel(voice::VoiceClient* voiceClient, input::PttService* ptt,
                                             voice::AudioDevice* audioDevice, QObject* parent)
    : QObject(parent), m_voiceClient(voiceClient), m_api(network::ApiService::instance()), m_ptt(ptt),
      m_audioDevice(audioDevice) {
    for (QTimer* timer : {&m_sendTimer, &m_receiveTimer}) {
        timer->setSingleShot(true);
        timer->setInterval(IndicatorHoldMs);
    }
    // Direct connections: the client and the push-to-talk service emit on this thread.
    connect(
        m_ptt, &input::PttService::activeChanged, this,
        [this](bool active) {
            m_pttHeld = active;
            m_voiceClient->setPtt(active);
            emit pttActiveChanged();
        },
        Qt::DirectConnection);
    connect(m_ptt, &input::PttService::boundKeyChanged, this, &VoiceServiceViewModel::pttBoundChanged,
            Qt::DirectConnection);
    connect(m_voiceClient, &voice::VoiceClient::voiceDataSent, this, &VoiceServiceViewModel::onVoiceDataSent,
            Qt::DirectConnection);
    connect(m_voiceClient, &voice::VoiceClient::voiceDataReceived, this,
            &VoiceServiceViewModel::onVoiceDataReceived, Qt::DirectConnection);
    connect(
        m_voiceClient, &voice::VoiceClient::errorOccurred, this,
        [this](const QString& message) { appendEvent(QStringLiteral("ERROR: ") + message); },
        Qt::DirectConnection);
    connect(m_voiceClient, &voice::VoiceClient::connectionStateChanged, this,
            &VoiceServiceViewModel::onConnectionStateChanged, Qt::DirectConnection);
    connect(
        m_voiceClient, &voice::VoiceClient::listenOnlyChanged, this,
        [this] {
            if (m_pttHeld) {
                emit pttActiveChanged();
            }
        },
        Qt::DirectConnection);
    connect(
        &m_sendTimer, &QTimer::timeout, this,
        [this] {
            dropIndicator(m_sending, m_inputLevel, m_inputDb, &VoiceServiceViewModel::sendingChanged,
                          &VoiceServiceViewModel::inputLevelChanged);
        },
        Qt::DirectConnection);
    connect(
        &m_receiveTimer, &QTimer::timeout, this,
        [this] {
            dropIndicator(m_receiving, m_outputLevel, m_outputDb, &VoiceServiceViewModel::receivingChanged,
                          &VoiceServiceViewModel::outputLevelChanged);
        },
        Qt::DirectConnection);
}

VoiceServiceViewModel::~VoiceServiceViewModel() {
    // A start still pending is cancelled with it.
    if (m_micTesting || m_conflictTesting) {
        voice::AudioHandler* audio = m_voiceClient->ensureAudioHandler();
        if (m_micTesting) {
            audio->stopMicTest();
        }
        if (m_conflictTesting) {
            audio->stopPlayConflict();
        }
    }
}

bool VoiceServiceViewModel::connected() const {
    return m_state == ConnectionState::Connected || m_state == ConnectionState::Authenticating ||
           m_state == ConnectionState::Ready;
}

QString VoiceServiceViewModel::connectionStateText() const {
    switch (m_state) {
    case ConnectionState::Disconnected:
        return QStringLiteral("未连接");
    case ConnectionState::Connecting:
        return QStringLiteral("连接中...");
    case ConnectionState::Connected:
        return QStringLiteral("已连接");
    case ConnectionState::Authenticating:
        return QStringLiteral("认证中...");
    case ConnectionState::Ready:
        return QStringLiteral("就绪");
    }
    return QStringLiteral("未知状态");
}

bool VoiceServiceViewModel::pttBound() const {
    return !m_ptt->boundKey().isEmpty();
}

QString VoiceServiceViewModel::ComRadio::frequencyText() const {
    return QStringLiteral("%1 MHz / %2 MHz").arg(active, 0, 'g', 6).arg(standby, 0, 'g', 6);
}

// --- voice client events -------------------------------------------------------

void VoiceServiceViewModel::onConnectionStateChanged(ConnectionState state) {
    m_state = state;
    m_callsign = state == ConnectionState::Ready ? QString::fromUtf8(m_voiceClient->callsign())
                                                 : QStringLiteral("Unknown");
    // The tests hold the audio devices the session needs.
    if (state != ConnectionState::Disconnected) {
        endTests(true, true);
    }
    emit connectStateChanged();
}

void VoiceServiceViewModel::onVoiceDataSent(const VolumeInfo& level) {
    m_sending = true;
    m_sendTimer.start();
    m_inputLevel = level.percent;
    m_inputDb = level.levelDb;
    emit sendingChanged();
    emit inputLevelChanged();
}

void VoiceServiceViewModel::onVoiceDataReceived(const QString& callsign, int frequency,
                                                const VolumeInfo& level) {
    m_receiving = true;
    m_receiveTimer.start();
    m_lastReceiveFreq = frequency / 1000.0;
    m_lastReceiveCallsign = callsign;
    m_outputLevel = level.percent;
    m_outputDb = level.levelDb;
    emit receivingChanged();
    emit outputLevelChanged();
}

void VoiceServiceViewModel::appendEvent(const QString& text) {
    m_eventLog.prepend(
        QVariantMap{{QStringLiteral("time"), QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))},
                    {QStringLiteral("text"), common::shownLine(text)}}); // a row is one line high
    while (m_eventLog.size() > MaxEventLogEntries) {
        m_eventLog.removeLast();
    }
    emit eventLogChanged();
}

// --- radios --------------------------------------------------------------------

void VoiceServiceViewModel::radioStackUpdate(velk::model::RadioStackState state) {
    updateCom(0, state.com1Frequency, state.com1StandbyFrequency, state.com1TransmitEnabled,
              state.com1ReceiveEnabled, state.com1Volume);
    updateCom(1, state.com2Frequency, state.com2StandbyFrequency, state.com2TransmitEnabled,
              state.com2ReceiveEnabled, state.com2Volume);
}

void VoiceServiceViewModel::updateCom(int index, quint32 active, quint32 standby, bool transmit, bool receive,
                                      int volume) {
    ComRadio& com = m_com[index];
    com.active = active / 1000.0;
    com.standby = standby / 1000.0;
    com.transmit = transmit;
    com.receive = receive;
    if (!com.pilotVolume) {
        com.volume = volume / 100.0;
    }
    emitComChanged(index);
}

void VoiceServiceViewModel::setComVolume(int index, double volume) {
    // Also rejects a NaN.
    if (!(volume >= 0.0 && volume <= MaxComVolume)) {
        return;
    }
    m_com[index].volume = volume;
    m_com[index].pilotVolume = true;
    m_voiceClient->setRadioVolume(index, static_cast<float>(volume));
    emitComChanged(index);
}

void VoiceServiceViewModel::emitComChanged(int index) {
    if (index == 0) {
        emit com1InfoChanged();
    } else {
        emit com2InfoChanged();
    }
}

// --- requests ------------------------------------------------------------------

void VoiceServiceViewModel::setPtt(bool active) {
    if (active == m_pttHeld) {
        return;
    }
    m_pttHeld = active;
    m_voiceClient->setPtt(active);
    emit pttActiveChanged();
}

void VoiceServiceViewModel::connectToVoiceServer() {
    if (m_state != ConnectionState::Disconnected) {
        qDebug() << "VoiceServiceViewModel: already connecting or connected, connect ignored";
        return;
    }
    // Without a token the server would get an empty auth line.
    const QString token = m_api->accessToken();
    if (token.isEmpty()) {
        qWarning() << "VoiceServiceViewModel: no access token, voice connect refused";
        appendEvent(QStringLiteral("ERROR: 未登录或登录已过期，请重新登录后再连接语音服务器"));
        return;
    }
    qInfo() << "Connecting to voice server...";
    // The device choices exist before the audio engine is created and announced.
    m_audioDevice->ensureLoaded();
    bindAudioHandler();
    m_voiceClient->connectToServer(token);
}

void VoiceServiceViewModel::setLoopbackTarget(int target) {
    m_loopbackTarget = static_cast<quint8>(target);
    emit voiceTestingChanged();
}

void VoiceServiceViewModel::startMicTest() {
    startTest(true);
}

void VoiceServiceViewModel::stopMicTest() {
    endTests(true, false);
}

void VoiceServiceViewModel::startPlayConflict() {
    startTest(false);
}

void VoiceServiceViewModel::stopPlayConflict() {
    endTests(false, true);
}

void VoiceServiceViewModel::startTest(bool mic) {
    // One test at a time, and only while the session does not need the devices.
    if (m_micTesting || m_conflictTesting || m_state != ConnectionState::Disconnected) {
        return;
    }
    m_audioDevice->ensureLoaded();
    bindAudioHandler();
    voice::AudioHandler* audio = m_voiceClient->ensureAudioHandler();
    const quint64 run = ++m_testRun;
    m_testFailure.clear();
    QFuture<voice::StreamStartReport> started;
    if (mic) {
        m_micTesting = true;
        started = audio->startMicTest(m_loopbackTarget);
    } else {
        m_conflictTesting = true;
        started = audio->startPlayConflict();
    }
    // The report comes back to this thread; a watcher that goes with this
    // view model never calls back.
    auto* watcher = new QFutureWatcher<voice::StreamStartReport>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, mic, run] {
        watcher->deleteLater();
        onTestStarted(mic, run, watcher->result());
    });
    watcher->setFuture(started);
    emit voiceTestingChanged();
}

void VoiceServiceViewModel::onTestStarted(bool mic, quint64 run, const voice::StreamStartReport& report) {
    // Stopped, or started again, since: that test is no longer this one.
    if (report.ok() || report.cancelled || run != m_testRun || !(mic ? m_micTesting : m_conflictTesting)) {
        return;
    }
    const QString failure =
        QStringLiteral("%1：%2无法打开")
            .arg(mic ? QStringLiteral("麦克风测试无法启动") : QStringLiteral("冲突音无法播放"),
                 voice::audioDeviceNames(report.failed));
    m_testFailure = failure;
    endTests(mic, !mic);
    appendEvent(QStringLiteral("ERROR: ") + failure);
}

void VoiceServiceViewModel::onStreamsStopped(voice::AudioStreams stopped) {
    // During a session the voice client tells the pilot.
    if (!m_micTesting && !m_conflictTesting) {
        return;
    }
    const QString failure =
        QStringLiteral("%1：音频设备已停止工作（%2），请检查设备后重试")
            .arg(m_micTesting ? QStringLiteral("麦克风测试已停止") : QStringLiteral("冲突音已停止播放"),
                 voice::audioDeviceNames(stopped));
    m_testFailure = failure;
    endTests(true, true);
    appendEvent(QStringLiteral("ERROR: ") + failure);
}

void VoiceServiceViewModel::endTests(bool mic, bool conflict) {
    mic = mic && m_micTesting;
    conflict = conflict && m_conflictTesting;
    if (!mic && !conflict) {
        return;
    }
    voice::AudioHandler* audio = m_voiceClient->ensureAudioHandler();
    if (mic) {
        audio->stopMicTest();
        m_micTesting = false;
    }
    if (conflict) {
        audio->stopPlayConflict();
        m_conflictTesting = false;
    }
    m_inputLevel = 0.0;
    m_inputDb = kSilenceDb;
    m_outputLevel = 0.0;
    m_outputDb = kSilenceDb;
    emit voiceTestingChanged();
    emit inputLevelChanged();
    emit outputLevelChanged();
}

void VoiceServiceViewModel::dropIndicator(bool& lit, double& level, double& db,
                                          void (VoiceServiceViewModel::*litChanged)(),
                                          void (VoiceServiceViewModel::*levelChanged)()) {
    if (!lit) {
        return;
    }
    lit = false;
    level = 0.0;
    db = kSilenceDb;
    emit(this->*litChanged)();
    emit(this->*levelChanged)();
}

// --- audio engine --------------------------------------------------------------

void VoiceServiceViewModel::bindAudioHandler() {
    if (m_audioBound) {
        return;
    }
    voice::AudioHandler* audio = m_voiceClient->ensureAudioHandler();
    // Live levels during the microphone test; the voice frames' levels otherwise.
    connect(audio, &voice::AudioHandler::inputVolumeChanged, this, [this](const VolumeInfo& level) {
        if (m_micTesting) {
            m_inputLevel = level.percent;
            m_inputDb = level.levelDb;
            emit inputLevelChanged();
        }
    });
    connect(audio, &voice::AudioHandler::outputVolumeChanged, this, [this](const VolumeInfo& level) {
        if (m_micTesting) {
            m_outputLevel = level.percent;
            m_outputDb = level.levelDb;
            emit outputLevelChanged();
        }
    });
    connect(audio, &voice::AudioHandler::streamsStopped, this, &VoiceServiceViewModel::onStreamsStopped);
    m_audioBound = true;
}

} // namespace velk::ui
