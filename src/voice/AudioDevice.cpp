#include "voice/AudioDevice.h"

#include "AppConfig.h"
#include "voice/PortAudioSupport.h"

#include <algorithm>

namespace velk::voice {

AudioDevice::AudioDevice(QObject* parent) : QObject(parent), m_config(AppConfig::instance()) {}

void AudioDevice::ensureLoaded() {
    if (m_loaded) {
        return;
    }
    {
        // One PortAudio initialisation for all the lists; the inner ones only count.
        const PortAudioScope pa;
        m_driverType = m_config->value(ConfigKeys::VoiceDriver);
        m_drivers = getHostApiNames();
        // A driver this machine lacks (the default is Windows' WASAPI) falls
        // back to PortAudio's default one, whose devices the engine opens for
        // "Default"; the stored type stays until the pilot picks a driver.
        m_driverIndex = position([this](const VoiceHostApi& api) { return api.type == m_driverType; });
        if (m_driverIndex < 0) {
            const int fallback = getDefaultHostApi();
            m_driverIndex = position([fallback](const VoiceHostApi& api) { return api.index == fallback; });
        }
        if (m_driverIndex < 0 && !m_drivers.isEmpty()) {
            m_driverIndex = 0;
        }
        refreshDeviceLists();
    }

    m_inputName = m_config->value(ConfigKeys::VoiceInputDevice);
    m_inputIndex = resolve(m_inputName, m_inputDevices);
    m_outputHeadphoneName = m_config->value(ConfigKeys::VoiceOutputHeadphoneDevice);
    m_outputHeadphoneIndex = resolve(m_outputHeadphoneName, m_outputDevices);
    m_outputSpeakerName = m_config->value(ConfigKeys::VoiceOutputSpeakerDevice);
    m_outputSpeakerIndex = resolve(m_outputSpeakerName, m_outputDevices);

    // Set before announcing, so that a listener asking again finds it loaded.
    m_loaded = true;
    announceAll();
}

void AudioDevice::setDriver(int index) {
    if (index < 0 || index >= m_drivers.size()) {
        return;
    }
    m_driverIndex = index;
    m_driverType = m_drivers.at(index).type;
    {
        const PortAudioScope pa;
        m_drivers = getHostApiNames();
        refreshDeviceLists();
    }
    m_inputName = m_outputHeadphoneName = m_outputSpeakerName = kDefault;
    m_inputIndex = m_outputHeadphoneIndex = m_outputSpeakerIndex = 0;
    announceAll();
}

void AudioDevice::setInputDevice(int index) {
    if (select(index, m_inputDevices, m_inputName, m_inputIndex)) {
        emit deviceChanged();
        emit inputDeviceChanged(index > 0 ? inputDeviceId() : hostDefaultInput());
    }
}

void AudioDevice::setOutputHeadphoneDevice(int index) {
    if (select(index, m_outputDevices, m_outputHeadphoneName, m_outputHeadphoneIndex)) {
        emit deviceChanged();
        emit outputHeadphoneDeviceChanged(index > 0 ? outputHeadphoneDeviceId() : hostDefaultOutput());
    }
}

void AudioDevice::setOutputSpeakerDevice(int index) {
    if (select(index, m_outputDevices, m_outputSpeakerName, m_outputSpeakerIndex)) {
        emit deviceChanged();
        emit outputSpeakerDeviceChanged(index > 0 ? outputSpeakerDeviceId() : hostDefaultOutput());
    }
}

QStringList AudioDevice::driverNames() const {
    QStringList names;
    for (const VoiceHostApi& driver : m_drivers) {
        names << QString::fromUtf8(driver.name);
    }
    return names;
}

QStringList AudioDevice::inputDeviceNames() const {
    return namesWithDefault(m_inputDevices);
}

QStringList AudioDevice::outputDeviceNames() const {
    return namesWithDefault(m_outputDevices);
}

int AudioDevice::inputDeviceId() const {
    return deviceId(m_inputIndex, m_inputDevices);
}

int AudioDevice::outputHeadphoneDeviceId() const {
    return deviceId(m_outputHeadphoneIndex, m_outputDevices);
}

int AudioDevice::outputSpeakerDeviceId() const {
    return deviceId(m_outputSpeakerIndex, m_outputDevices);
}

void AudioDevice::refreshDeviceLists() {
    if (m_driverIndex < 0) {
        m_inputDevices = getVoiceInputDevices();
        m_outputDevices = getVoiceOutputDevices();
        return;
    }
    // The driver's own PortAudio index: a host API without information is
    // not listed, so a position need not equal it.
    const int hostApi = m_drivers.value(m_driverIndex).index;
    m_inputDevices = getVoiceInputDevices(hostApi);
    m_outputDevices = getVoiceOutputDevices(hostApi);
}

void AudioDevice::announceAll() {
    emit deviceListChanged();
    emit deviceChanged();
    emit inputDeviceChanged(m_inputIndex > 0 ? inputDeviceId() : hostDefaultInput());
    emit outputHeadphoneDeviceChanged(m_outputHeadphoneIndex > 0 ? outputHeadphoneDeviceId()
                                                                 : hostDefaultOutput());
    emit outputSpeakerDeviceChanged(m_outputSpeakerIndex > 0 ? outputSpeakerDeviceId() : hostDefaultOutput());
}

int AudioDevice::position(const std::function<bool(const VoiceHostApi&)>& match) const {
    const auto found = std::find_if(m_drivers.cbegin(), m_drivers.cend(), match);
    return found == m_drivers.cend() ? -1 : static_cast<int>(found - m_drivers.cbegin());
}

int AudioDevice::hostDefaultInput() const {
    return m_drivers.value(m_driverIndex).defaultInputDevice;
}

int AudioDevice::hostDefaultOutput() const {
    return m_drivers.value(m_driverIndex).defaultOutputDevice;
}

int AudioDevice::resolve(const QString& name, const QList<VoiceDevice>& devices) {
    const QByteArray bytes = name.toUtf8();
    for (qsizetype i = 0; i < devices.size(); ++i) {
        if (devices.at(i).name == bytes) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

int AudioDevice::deviceId(int index, const QList<VoiceDevice>& devices) {
    return index >= 1 && index <= devices.size() ? devices.at(index - 1).index : -1;
}

QStringList AudioDevice::namesWithDefault(const QList<VoiceDevice>& devices) {
    QStringList names{kDefault};
    for (const VoiceDevice& device : devices) {
        names << QString::fromUtf8(device.name);
    }
    return names;
}

bool AudioDevice::select(int index, const QList<VoiceDevice>& devices, QString& name, int& selection) {
    if (index < 0 || index > devices.size()) {
        return false;
    }
    selection = index;
    name = index == 0 ? kDefault : QString::fromUtf8(devices.at(index - 1).name);
    return true;
}

} // namespace velk::voice
