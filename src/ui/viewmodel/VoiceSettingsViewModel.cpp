#include "ui/viewmodel/VoiceSettingsViewModel.h"

#include "AppConfig.h"
#include "input/PttService.h"
#include "ui/viewmodel/PropertyStore.h"
#include "ui/viewmodel/SettingsChecks.h"
#include "voice/AudioDevice.h"

namespace velk::ui::viewmodel {

VoiceSettingsViewModel::VoiceSettingsViewModel(input::PttService* ptt, voice::AudioDevice* devices,
                                               QObject* parent)
    : QObject(parent), m_config(AppConfig::instance()), m_ptt(ptt), m_devices(devices) {
    connect(m_ptt, &input::PttService::boundKeyChanged, this, [this](const input::PttKey& key) {
        m_bindingText = key.text();
        emit pttDisplayNameChanged();
    });
    connect(m_ptt, &input::PttService::listeningChanged, this, &VoiceSettingsViewModel::pttListeningChanged);
    connect(m_ptt, &input::PttService::keyCaptured, this, &VoiceSettingsViewModel::pttListeningChanged);
    connect(m_devices, &voice::AudioDevice::deviceListChanged, this,
            &VoiceSettingsViewModel::deviceListChanged);
    connect(m_devices, &voice::AudioDevice::deviceChanged, this, &VoiceSettingsViewModel::deviceChanged);
    load();
}

QStringList VoiceSettingsViewModel::driverNames() const {
    return m_devices->driverNames();
}
namespace {
// A list of "Default" alone, once the driver's devices were read, would let
// the pilot believe there is a device to use.
QStringList sayWhenEmpty(QStringList names, bool loaded) {
    if (loaded && names.size() == 1) {
        names.first() = VoiceSettingsViewModel::kNoDevice;
    }
    return names;
}
} // namespace

QStringList VoiceSettingsViewModel::inputDeviceNames() const {
    return sayWhenEmpty(m_devices->inputDeviceNames(), m_devices->isLoaded());
}
QStringList VoiceSettingsViewModel::outputDeviceNames() const {
    return sayWhenEmpty(m_devices->outputDeviceNames(), m_devices->isLoaded());
}
int VoiceSettingsViewModel::driverIndex() const {
    return m_devices->driverIndex();
}
int VoiceSettingsViewModel::inputIndex() const {
    return m_devices->inputIndex();
}
int VoiceSettingsViewModel::outputHeadphoneIndex() const {
    return m_devices->outputHeadphoneIndex();
}
int VoiceSettingsViewModel::outputSpeakerIndex() const {
    return m_devices->outputSpeakerIndex();
}

QString VoiceSettingsViewModel::pttKey() const {
    const input::PttKey key = input::PttService::parseBinding(m_bindingText);
    return key.isEmpty() ? QStringLiteral("未设置") : input::PttService::displayName(key);
}

bool VoiceSettingsViewModel::pttListening() const {
    return m_ptt->isListening();
}

void VoiceSettingsViewModel::setNumber(double& field, double value) {
    storeAndNotify(this, &VoiceSettingsViewModel::settingsChanged, field, value);
}

void VoiceSettingsViewModel::setMicGain(double dB) {
    setNumber(m_micGain, dB);
}
void VoiceSettingsViewModel::setPttVolume(double volume) {
    setNumber(m_pttVolume, volume);
}
void VoiceSettingsViewModel::setPttPressFreq(double hz) {
    setNumber(m_pttPressFreq, hz);
}
void VoiceSettingsViewModel::setPttReleaseFreq(double hz) {
    setNumber(m_pttReleaseFreq, hz);
}
void VoiceSettingsViewModel::setConflictVolume(double volume) {
    setNumber(m_conflictVolume, volume);
}

void VoiceSettingsViewModel::setPttDevice(int device) {
    m_pttDevice = static_cast<quint8>(device & 0xff);
    emit settingsChanged();
}

void VoiceSettingsViewModel::setConflictDevice(int device) {
    m_conflictDevice = static_cast<quint8>(device & 0xff);
    emit settingsChanged();
}

voice::AudioDevice* VoiceSettingsViewModel::loadedDevices() {
    m_devices->ensureLoaded();
    return m_devices;
}

void VoiceSettingsViewModel::ensureDeviceListLoaded() {
    loadedDevices();
}
void VoiceSettingsViewModel::setDriver(int driverIndex) {
    loadedDevices()->setDriver(driverIndex);
}
void VoiceSettingsViewModel::setInput(int deviceIndex) {
    loadedDevices()->setInputDevice(deviceIndex);
}
void VoiceSettingsViewModel::setOutputHeadphone(int deviceIndex) {
    loadedDevices()->setOutputHeadphoneDevice(deviceIndex);
}
void VoiceSettingsViewModel::setOutputSpeaker(int deviceIndex) {
    loadedDevices()->setOutputSpeakerDevice(deviceIndex);
}

void VoiceSettingsViewModel::startPttListening() {
    m_ptt->startListening();
}

void VoiceSettingsViewModel::load() {
    using namespace ConfigKeys;
    m_bindingText = m_config->value(VoicePttKey);
    m_micGain = m_config->value(VoiceMicGain);
    m_pttVolume = m_config->value(VoicePttVolume);
    m_pttPressFreq = m_config->value(VoicePttPressFreq);
    m_pttReleaseFreq = m_config->value(VoicePttReleaseFreq);
    m_pttDevice = static_cast<quint8>(m_config->value(VoicePttPlayDevice) & 0xff);
    m_conflictVolume = m_config->value(VoiceConflictVolume);
    m_conflictDevice = static_cast<quint8>(m_config->value(VoiceConflictPlayDevice) & 0xff);
    emit deviceListChanged();
    emit deviceChanged();
    emit settingsChanged();
}

QList<ConfigWrite> VoiceSettingsViewModel::writes() const {
    using namespace ConfigKeys;
    const bool loaded = m_devices->isLoaded();
    const int driver = loaded ? m_devices->driverType() : m_config->value(VoiceDriver);
    const QString input = loaded ? m_devices->inputName() : m_config->value(VoiceInputDevice);
    const QString headphone =
        loaded ? m_devices->outputHeadphoneName() : m_config->value(VoiceOutputHeadphoneDevice);
    const QString speaker =
        loaded ? m_devices->outputSpeakerName() : m_config->value(VoiceOutputSpeakerDevice);
    return {configWrite(VoiceDriver, driver),
            configWrite(VoiceInputDevice, input),
            configWrite(VoiceOutputHeadphoneDevice, headphone),
            configWrite(VoiceOutputSpeakerDevice, speaker),
            configWrite(VoicePttKey, m_bindingText),
            configWrite(VoiceMicGain, m_micGain),
            configWrite(VoicePttVolume, m_pttVolume),
            configWrite(VoicePttPressFreq, m_pttPressFreq),
            configWrite(VoicePttReleaseFreq, m_pttReleaseFreq),
            configWrite(VoicePttPlayDevice, int(m_pttDevice)),
            configWrite(VoiceConflictVolume, m_conflictVolume),
            configWrite(VoiceConflictPlayDevice, int(m_conflictDevice))};
}

QString VoiceSettingsViewModel::problem() const {
    for (const QString& issue :
         {checks::micGain(m_micGain), checks::volume(QStringLiteral("PTT 提示音音量"), m_pttVolume),
          checks::toneFrequency(QStringLiteral("PTT 按下提示音频率"), m_pttPressFreq),
          checks::toneFrequency(QStringLiteral("PTT 释放提示音频率"), m_pttReleaseFreq),
          checks::playDevice(QStringLiteral("PTT 提示音播放设备"), m_pttDevice),
          checks::volume(QStringLiteral("冲突音量"), m_conflictVolume),
          checks::playDevice(QStringLiteral("冲突音播放设备"), m_conflictDevice)}) {
        if (!issue.isEmpty()) {
            return issue;
        }
    }
    return {};
}

} // namespace velk::ui::viewmodel
