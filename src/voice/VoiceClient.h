#pragma once

#include "voice/ControlMessage.h"
#include "voice/NetworkHandler.h"
#include "voice/RadioChannel.h"
#include "voice/VoicePacket.h"

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>
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
// and the aircraft's radios, over the voice transport.
class VoiceClient : public QObject {
    Q_OBJECT

public:
    explicit VoiceClient(QObject* parent = nullptr);
    ~VoiceClient() override;

    void setCid(quint32 cid);
    quint32 cid() const { return m_cid; }
    // The voice identity the server confirmed (UTF-8); empty until then.
    QByteArray callsign() const { return m_callsign; }
    ConnectionState connectionState() const { return m_state; }

    // Ready, with a cid and a confirmed callsign: only then is anything sent.
    bool isReady() const;

    // Connects on a pool thread; `auth` is the web-API access token, sent as
    // the first line. The outcome arrives as state changes and errors.
    void connectToServer(const QString& auth);
    void disconnectFromServer();

    // Stores a radio whatever the state; a tuned radio is also announced.
    void applyRadioStack(const RadioChannel& radio);
    // While ready: stores the radio and tells the server its frequency.
    void updateRadioStack(const RadioChannel& radio);
    // While ready: a "message" control message with data "first:second".
    void sendTextMessage(const QString& first, const QString& second);
    // While ready: one encoded voice frame as a datagram on the transmitting
    // radio. False when the frame was dropped.
    bool transmitVoiceFrame(const std::vector<std::uint8_t>& audio);

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
    void currentFrequencyChanged(int frequency);

protected:
    // Stores the state and announces it only when it changes.
    void setConnectionState(ConnectionState state);
    void setIdentity(const QByteArray& callsign);

private slots:
    void handleSocketState(bool connected);
    void handleControlMessage(const velk::voice::ControlMessage& msg);
    void handleVoicePacket(const velk::voice::VoicePacket& pkt);

private:
    void handleWelcome(const std::string& data);
    void handleServerDisconnect(const std::string& reason);
    void onIdentityVerified();
    // Becomes Ready unless the session it was started for has ended since.
    void markReady(quint64 generation);
    void rebuildFrequencyIndex();
    void announceChannel(const RadioChannel& radio);
    ControlMessage ownMessage(ControlMessageType type, qint32 transmitter, std::string data) const;

    ConnectionState m_state = ConnectionState::Disconnected;
    quint32 m_cid = 0;
    QByteArray m_callsign;
    NetworkHandler m_transport;
    QHash<qint32, RadioChannel> m_radios;
    QHash<qint32, qint32> m_frequencyIndex;
    qint32 m_currentTransmitter = -1;
    // Counts sessions: connect, disconnect and every loss start a new one.
    quint64 m_generation = 0;
    quint64 m_droppedFrames = 0;
};

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::ConnectionState)
