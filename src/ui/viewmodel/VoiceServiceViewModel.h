#pragma once

#include "model/AircraftState.h"
#include "voice/AudioLimits.h"
#include "voice/VoiceClient.h"
#include "voice/VolumeInfo.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

namespace velk::input {
class PttService;
}
namespace velk::network {
class ApiService;
}
namespace velk::voice {
class AudioDevice;
}

namespace velk::ui {

// The voice page: connection state, the two radios, push-to-talk, send and
// receive indicators with levels, the last station heard, an event log of
// voice errors, and the microphone and conflict-tone tests. Unlike the other
// view models it hands its requests to the voice client, the push-to-talk
// service and the device selection directly. GUI thread only.
class VoiceServiceViewModel : public QObject {
    Q_OBJECT

    Q_PROPERTY(bool connected READ connected NOTIFY connectStateChanged)
    Q_PROPERTY(QString connectionStateText READ connectionStateText NOTIFY connectStateChanged)
    Q_PROPERTY(QString com1Freq READ com1Freq NOTIFY com1InfoChanged)
    Q_PROPERTY(bool com1TX READ com1TX NOTIFY com1InfoChanged)
    Q_PROPERTY(bool com1RX READ com1RX NOTIFY com1InfoChanged)
    Q_PROPERTY(double com1Volume READ com1Volume WRITE setCom1Volume NOTIFY com1InfoChanged)
    Q_PROPERTY(QString com2Freq READ com2Freq NOTIFY com2InfoChanged)
    Q_PROPERTY(bool com2TX READ com2TX NOTIFY com2InfoChanged)
    Q_PROPERTY(bool com2RX READ com2RX NOTIFY com2InfoChanged)
    Q_PROPERTY(double com2Volume READ com2Volume WRITE setCom2Volume NOTIFY com2InfoChanged)
    Q_PROPERTY(QVariantList eventLog READ eventLog NOTIFY eventLogChanged)
    Q_PROPERTY(bool pttActive READ pttActive NOTIFY pttActiveChanged)
    Q_PROPERTY(bool sending READ sending NOTIFY sendingChanged)
    Q_PROPERTY(bool receiving READ receiving NOTIFY receivingChanged)
    Q_PROPERTY(bool micTesting READ micTesting NOTIFY voiceTestingChanged)
    Q_PROPERTY(int loopbackTarget READ loopbackTarget WRITE setLoopbackTarget NOTIFY voiceTestingChanged)
    Q_PROPERTY(bool conflictTesting READ conflictTesting NOTIFY voiceTestingChanged)
    Q_PROPERTY(double inputLevel READ inputLevel NOTIFY inputLevelChanged)
    Q_PROPERTY(double inputDb READ inputDb NOTIFY inputLevelChanged)
    Q_PROPERTY(double outputLevel READ outputLevel NOTIFY outputLevelChanged)
    Q_PROPERTY(double outputDb READ outputDb NOTIFY outputLevelChanged)
    Q_PROPERTY(QString callsign READ callsign NOTIFY connectStateChanged)
    Q_PROPERTY(double lastReceiveFreq READ lastReceiveFreq NOTIFY receivingChanged)
    Q_PROPERTY(QString lastReceiveCallsign READ lastReceiveCallsign NOTIFY receivingChanged)
    // Only a disconnected client connects: the button goes grey at the first click.
    Q_PROPERTY(bool canConnect READ canConnect NOTIFY connectStateChanged)
    // Why the last device test did not start; empty once another one starts.
    Q_PROPERTY(QString testFailure READ testFailure NOTIFY voiceTestingChanged)
    // A push-to-talk key is bound: the microphone test is heard only while it is held.
    Q_PROPERTY(bool pttBound READ pttBound NOTIFY pttBoundChanged)

public:
    static constexpr int MaxEventLogEntries = 100;
    static constexpr int IndicatorHoldMs = 80;
    // The slider's range: 1 is the simulator's full volume.
    static constexpr double MaxComVolume = voice::kMaxRadioVolume;

    VoiceServiceViewModel(voice::VoiceClient* voiceClient, input::PttService* ptt,
                          voice::AudioDevice* audioDevice, QObject* parent = nullptr);
    // Ends the tests it started: the client outlives it, and nothing else stops them.
    ~VoiceServiceViewModel() override;

    bool connected() const;
    QString connectionStateText() const;
    bool canConnect() const { return m_state == voice::ConnectionState::Disconnected; }
    QString com1Freq() const { return m_com[0].frequencyText(); }
    bool com1TX() const { return m_com[0].transmit; }
    bool com1RX() const { return m_com[0].receive; }
    double com1Volume() const { return m_com[0].volume; }
    QString com2Freq() const { return m_com[1].frequencyText(); }
    bool com2TX() const { return m_com[1].transmit; }
    bool com2RX() const { return m_com[1].receive; }
    double com2Volume() const { return m_com[1].volume; }
    QVariantList eventLog() const { return m_eventLog; }
    // Held, in a session that can send: a session without a microphone shows nothing as sending.
    bool pttActive() const { return m_pttHeld && !m_voiceClient->listenOnly(); }
    bool sending() const { return m_sending; }
    bool receiving() const { return m_receiving; }
    bool micTesting() const { return m_micTesting; }
    int loopbackTarget() const { return m_loopbackTarget; }
    bool conflictTesting() const { return m_conflictTesting; }
    double inputLevel() const { return m_inputLevel; }
    double inputDb() const { return m_inputDb; }
    double outputLevel() const { return m_outputLevel; }
    double outputDb() const { return m_outputDb; }
    QString callsign() const { return m_callsign; }
    double lastReceiveFreq() const { return m_lastReceiveFreq; }
    QString lastReceiveCallsign() const { return m_lastReceiveCallsign; }
    QString testFailure() const { return m_testFailure; }
    bool pttBound() const;

    // The pilot's playback volume of a radio (0 to MaxComVolume; anything
    // else is ignored). It goes to the voice client and outlives radio updates.
    void setCom1Volume(double volume) { setComVolume(0, volume); }
    void setCom2Volume(double volume) { setComVolume(1, volume); }
    void setLoopbackTarget(int target);

    Q_INVOKABLE void setPtt(bool active);
    Q_INVOKABLE void connectToVoiceServer();
    Q_INVOKABLE void startMicTest();
    Q_INVOKABLE void stopMicTest();
    Q_INVOKABLE void startPlayConflict();
    Q_INVOKABLE void stopPlayConflict();

signals:
    void connectStateChanged();
    void com1InfoChanged();
    void com2InfoChanged();
    void eventLogChanged();
    void pttActiveChanged();
    void sendingChanged();
    void receivingChanged();
    void voiceTestingChanged();
    void inputLevelChanged();
    void outputLevelChanged();
    void pttBoundChanged();

public slots:
    void radioStackUpdate(velk::model::RadioStackState state);

private:
    struct ComRadio {
        double active = 0.0;  // MHz
        double standby = 0.0; // MHz
        bool transmit = false;
        bool receive = false;
        double volume = 1.0;
        bool pilotVolume = false; // set on the page: radio updates leave it alone

        QString frequencyText() const;
    };

    void onConnectionStateChanged(voice::ConnectionState state);
    void onVoiceDataSent(const voice::VolumeInfo& level);
    void onVoiceDataReceived(const QString& callsign, int frequency, const voice::VolumeInfo& level);
    void setComVolume(int index, double volume);
    void updateCom(int index, quint32 active, quint32 standby, bool transmit, bool receive, int volume);
    void emitComChanged(int index);
    void appendEvent(const QString& text);
    void bindAudioHandler();
    void startTest(bool mic);
    // A test whose devices did not open ends, and the pilot is told why.
    void onTestStarted(bool mic, quint64 run, const voice::StreamStartReport& report);
    // Devices that stopped while a test ran: the test ends and says which.
    void onStreamsStopped(voice::AudioStreams stopped);
    // Ends the named tests that run, and resets the levels.
    void endTests(bool mic, bool conflict);
    // Puts out a send or receive indicator with its level.
    void dropIndicator(bool& lit, double& level, double& db, void (VoiceServiceViewModel::*litChanged)(),
                       void (VoiceServiceViewModel::*levelChanged)());

    voice::VoiceClient* m_voiceClient;
    network::ApiService* m_api;
    voice::ConnectionState m_state = voice::ConnectionState::Disconnected;
    input::PttService* m_ptt;
    voice::AudioDevice* m_audioDevice;
    bool m_audioBound = false;
    QTimer m_sendTimer;
    QTimer m_receiveTimer;
    ComRadio m_com[2];
    bool m_pttHeld = false;
    bool m_sending = false;
    bool m_receiving = false;
    bool m_micTesting = false;
    bool m_conflictTesting = false;
    quint64 m_testRun = 0; // counts test starts: a late report of an earlier one is ignored
    QString m_testFailure;
    quint8 m_loopbackTarget = 0;
    double m_inputLevel = 0.0;
    double m_inputDb = -96.0;
    double m_outputLevel = 0.0;
    double m_outputDb = -96.0;
    QString m_callsign;
    double m_lastReceiveFreq = 0.0;
    QString m_lastReceiveCallsign;
    QVariantList m_eventLog;
};

} // namespace velk::ui
