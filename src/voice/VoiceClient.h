#pragma once

#include "voice/AudioClock.h"
#include "voice/AudioHandler.h"
#include "voice/ControlMessage.h"
#include "voice/NetworkHandler.h"
#include "voice/RadioChannel.h"
#include "voice/VoicePacket.h"
#include "voice/VolumeInfo.h"

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velk::voice {

// State of the voice client. Authenticating is never entered; it exists for display.
enum class ConnectionState : quint8 {
    Disconnected = 0,
    Connecting = 1,
    Connected = 2,
    Authenticating = 3,
    Ready = 4,
};

// Session object of the network's voice service: connection state, identity
// and the aircraft's radios over the voice transport, and the audio engine
// that captures the pilot and plays the radios.
class VoiceClient : public QObject {
    Q_OBJECT

public:
    explicit VoiceClient(QObject* parent = nullptr);
    // Stops the transport, then shuts the audio engine down (waiting for a
    // pending stream start) before it is deleted.
    ~VoiceClient() override;

    void setCid(quint32 cid);
    quint32 cid() const { return m_cid; }
    // The voice identity the server confirmed (UTF-8); empty until then.
    QByteArray callsign() const { return m_callsign; }
    ConnectionState connectionState() const { return m_state; }

    // Ready, with a cid and a confirmed callsign: only then is anything sent.
    bool isReady() const;

    // Connects on a thread of its own; `auth` is the web-API access token, sent as
    // the first line. The outcome arrives as state changes and errors.
    void connectToServer(const QString& auth);
    void disconnectFromServer();
    // A connection the server has not welcomed within this time is ended.
    static constexpr std::chrono::milliseconds kDefaultWelcomeTimeout{30000};
    void setWelcomeTimeout(std::chrono::milliseconds timeout) { m_welcomeTimer.setInterval(timeout); }

    // Stores a radio whatever the state; a tuned radio is also announced.
    void applyRadioStack(const RadioChannel& radio);
    // While ready: stores the radio and tells the server its frequency.
    void updateRadioStack(const RadioChannel& radio);
    // The pilot's playback volume of a radio (0 to 2; 1 is the simulator's
    // full volume). It replaces the volume of the stored radio and of every
    // later store of it, so the simulator's radio updates leave it alone.
    void setRadioVolume(qint32 id, float volume);
    // While ready: a "message" control message with data "first:second".
    void sendTextMessage(const QString& first, const QString& second);
    // While ready: one encoded voice frame as a datagram on the transmitting
    // radio. False when the frame was dropped.
    bool transmitVoiceFrame(const std::vector<std::uint8_t>& audio);

    // Creates the audio engine on first use (announced by audioHandlerCreated)
    // with every known radio registered; call it on the client's thread.
    AudioHandler* ensureAudioHandler();
    AudioHandler* audioHandler() const { return m_audio.get(); }
    // Push-to-talk: opens or closes the capture gate and sounds the press or release tone.
    void setPtt(bool active);
    bool pttActive() const { return m_ptt; }
    // The session's microphone did not start: push-to-talk sends nothing,
    // so it neither shows as sending nor marks what is heard as a conflict.
    bool listenOnly() const { return m_listenOnly; }
    // Push-to-talk held in a session that can send.
    bool transmitting() const { return m_ptt && !m_listenOnly; }
    // Plays a radio on the speaker (radio.speaker) or the headphones from now on.
    void updateRadioOutput(const RadioChannel& radio);

    // A second talker on a frequency within this window of the last one is a conflict.
    static constexpr std::chrono::milliseconds kConflictWindow{100};
    // The server's error is the reason of its end only when the end follows within this.
    static constexpr std::chrono::milliseconds kServerLastWordWindow{2000};
    // Monotonic time of the conflict window and of the server's last word;
    // tests hand in their own.
    void setClock(AudioClock clock) { m_clock = std::move(clock); }
    // Frequencies with a remembered last talker.
    int lastSpeakerCount() const { return static_cast<int>(m_lastSpeakers.size()); }

    const QHash<qint32, RadioChannel>& radios() const { return m_radios; }
    // Frequency (kHz) -> receiving radio id, rebuilt from the radio table.
    const QHash<qint32, qint32>& frequencyIndex() const { return m_frequencyIndex; }
    // Radio id of the transmitting radio; -1 for none.
    qint32 currentTransmitter() const { return m_currentTransmitter; }
    // Frequency of the transmitting radio; -1 for none.
    qint32 currentFrequency() const;

    NetworkHandler* transport() { return &m_transport; }

    // Data of a "channel" control message: "<kHz>:1" when receiving, else "<kHz>:0".
    static QByteArray channelData(const RadioChannel& radio);
    // The identity a welcome confirms: the data must begin with "SERVER:" and
    // contain "Welcome"; the identity runs from there to the next ':' or the end.
    static std::optional<std::string> welcomeIdentity(const std::string& data);

signals:
    void connectionStateChanged(velk::voice::ConnectionState state);
    void errorOccurred(const QString& error);
    // One outgoing voice packet, with the level of the block it carries.
    void voiceDataSent(velk::voice::VolumeInfo inputVolume);
    // One received packet handed to a radio's output; freq in kHz.
    void voiceDataReceived(const QString& callsign, int freq, velk::voice::VolumeInfo outputVolume);
    void currentFrequencyChanged(int frequency);
    void audioHandlerCreated(velk::voice::AudioHandler* audio);
    void listenOnlyChanged(bool listenOnly);
    // A session that was up has ended without being asked to (the server
    // closed, reset, ended or stopped answering it, or never welcomed it, or
    // its audio could not start or stopped); after the state change, with the reason:
    // the server's own error where the server ended it within
    // kServerLastWordWindow of that, with no other line between.
    void connectionLost(const QString& reason);

protected:
    // Stores the state and announces it only when it changes.
    void setConnectionState(ConnectionState state);
    void setIdentity(const QByteArray& callsign);

private slots:
    void handleSocketState(bool connected, const QString& reason, bool byServer);
    void handleControlMessage(const velk::voice::ControlMessage& msg);
    void handleVoicePacket(const velk::voice::VoicePacket& pkt);
    void sendEncodedAudio(const std::vector<std::uint8_t>& audio);

private:
    void handleWelcome(const std::string& data);
    void onWelcomeTimeout();
    // Ends the session on the client's own account, with the reason.
    void giveUp(const QString& reason);
    void handleServerDisconnect(const std::string& reason);
    // The server's own error when it came just before its end, else `fallback`.
    QString serverReason(const QString& fallback) const;
    // Starts the streams off this thread; Ready follows once they run.
    void onIdentityVerified();
    void onStreamsStarted(quint64 generation, const StreamStartReport& report);
    // Devices that stopped during the session: the pilot is told what to do;
    // with no output left the session ends.
    void onStreamsStopped(AudioStreams stopped);
    // Becomes Ready unless the session it was started for has ended since.
    void markReady(quint64 generation);
    // Every session end: the microphone and the outputs close.
    void stopAudio();
    void setListenOnly(bool listenOnly);
    // Keeps the engine's playback source where the radio table says.
    void registerRadio(const RadioChannel& radio);
    // Updates the frequency's last talker unless this packet is a conflict.
    bool isConflict(const VoicePacket& pkt);
    void rebuildFrequencyIndex();
    // The radio with the pilot's volume, when one was set for it.
    RadioChannel withPilotVolume(RadioChannel radio) const;
    void announceChannel(const RadioChannel& radio);
    ControlMessage ownMessage(ControlMessageType type, qint32 transmitter, std::string data) const;

    ConnectionState m_state = ConnectionState::Disconnected;
    quint32 m_cid = 0;
    QByteArray m_callsign;
    // Declared before the transport, so that it is destroyed after it.
    std::unique_ptr<AudioHandler> m_audio;
    NetworkHandler m_transport;
    QHash<qint32, RadioChannel> m_radios;
    QHash<qint32, qint32> m_frequencyIndex;
    // Radio id -> the pilot's playback volume; kept across sessions.
    QHash<qint32, float> m_pilotVolumes;
    struct LastSpeaker {
        std::string callsign;
        std::chrono::nanoseconds time{};
    };
    // Frequency (kHz) -> last talker heard there, for tuned frequencies only.
    QHash<qint32, LastSpeaker> m_lastSpeakers;
    AudioClock m_clock = steadyAudioClock();
    qint32 m_currentTransmitter = -1;
    bool m_ptt = false;
    bool m_listenOnly = false;
    VolumeInfo m_inputVolume;
    VolumeInfo m_outputVolume;
    // Counts sessions: connect, disconnect and every loss start a new one.
    quint64 m_generation = 0;
    quint64 m_droppedFrames = 0;
    // The server's errors this session, so that a flood of them cannot fill
    // the run log.
    quint64 m_serverErrors = 0;
    // Runs while connected and not yet welcomed.
    QTimer m_welcomeTimer;
    // The data of the server's "error" while no other control message has
    // followed it this session, and when it came: the reason of an end the
    // server gives none for.
    QString m_serverLastWord;
    std::chrono::nanoseconds m_serverLastWordAt{};
};

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::ConnectionState)
