#include "voice/VoiceClient.h"

#include "model/MetaTypes.h"

#include <QDebug>

namespace velk::voice {

VoiceClient::VoiceClient(QObject* parent) : QObject(parent) {
    model::registerMetaTypes();
}

VoiceClient::~VoiceClient() = default;

void VoiceClient::setCid(quint32 cid) {
    m_cid = cid;
}

bool VoiceClient::isReady() const {
    return m_state == ConnectionState::Ready && m_cid != 0 && !m_callsign.isEmpty();
}

void VoiceClient::applyRadioStack(const RadioChannel& radio) {
    m_radios.insert(radio.id, radio);
    rebuildFrequencyIndex();
    if (radio.frequency != 0) {
        updateRadioStack(radio);
    }
}

void VoiceClient::updateRadioStack(const RadioChannel& radio) {
    if (!isReady()) {
        return;
    }
    m_radios.insert(radio.id, radio);
    rebuildFrequencyIndex();
    if (radio.transmit) {
        m_currentTransmitter = radio.id;
        emit currentFrequencyChanged(radio.frequency);
    }
    announceChannel(radio);
}

void VoiceClient::disconnectFromServer() {
    setConnectionState(ConnectionState::Disconnected);
    m_currentTransmitter = -1;
    m_radios.clear();
    m_frequencyIndex.clear();
}

qint32 VoiceClient::currentFrequency() const {
    const auto it = m_radios.constFind(m_currentTransmitter);
    return it == m_radios.constEnd() ? -1 : it->frequency;
}

QByteArray VoiceClient::channelData(const RadioChannel& radio) {
    return QByteArray::number(radio.frequency) + (radio.receive ? ":1" : ":0");
}

void VoiceClient::setConnectionState(ConnectionState state) {
    if (state == m_state) {
        return;
    }
    m_state = state;
    emit connectionStateChanged(state);
}

void VoiceClient::setIdentity(const QByteArray& callsign) {
    m_callsign = callsign;
}

void VoiceClient::rebuildFrequencyIndex() {
    m_frequencyIndex.clear();
    for (auto it = m_radios.cbegin(); it != m_radios.cend(); ++it) {
        if (it->frequency != 0) {
            m_frequencyIndex.insert(it->frequency, it->id);
        }
    }
}

void VoiceClient::announceChannel(const RadioChannel& radio) {
    // Goes to the server as a "channel" control message once the transport exists.
    qDebug().noquote() << "VoiceClient: channel" << radio.id << QString::fromLatin1(channelData(radio));
}

} // namespace velk::voice
