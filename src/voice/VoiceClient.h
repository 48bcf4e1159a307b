#pragma once

#include "voice/RadioChannel.h"

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>

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
// and the aircraft's radios.
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

    // Stores a radio whatever the state; a tuned radio is also announced.
    void applyRadioStack(const RadioChannel& radio);
    // While ready: stores the radio and tells the server its frequency.
    void updateRadioStack(const RadioChannel& radio);
    void disconnectFromServer();

    const QHash<qint32, RadioChannel>& radios() const { return m_radios; }
    // Frequency (kHz) -> radio id, rebuilt from the radio table.
    const QHash<qint32, qint32>& frequencyIndex() const { return m_frequencyIndex; }
    // Radio id of the transmitting radio; -1 for none.
    qint32 currentTransmitter() const { return m_currentTransmitter; }
    // Frequency of the transmitting radio; -1 for none.
    qint32 currentFrequency() const;

    // Data of a "channel" control message: "<kHz>:1" when receiving, else "<kHz>:0".
    static QByteArray channelData(const RadioChannel& radio);

signals:
    void connectionStateChanged(velk::voice::ConnectionState state);
    void errorOccurred(const QString& error);
    void currentFrequencyChanged(int frequency);

protected:
    // Stores the state and announces it only when it changes.
    void setConnectionState(ConnectionState state);
    void setIdentity(const QByteArray& callsign);

private:
    void rebuildFrequencyIndex();
    void announceChannel(const RadioChannel& radio);

    ConnectionState m_state = ConnectionState::Disconnected;
    quint32 m_cid = 0;
    QByteArray m_callsign;
    QHash<qint32, RadioChannel> m_radios;
    QHash<qint32, qint32> m_frequencyIndex;
    qint32 m_currentTransmitter = -1;
};

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::ConnectionState)
