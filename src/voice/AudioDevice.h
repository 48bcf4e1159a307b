#pragma once

#include "voice/AudioDevices.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace velk {
class AppConfig;
}

namespace velk::voice {

// The pilot's audio driver (a PortAudio host API) and the microphone,
// headphone and speaker chosen on it, resolved by their stored names. It
// announces the PortAudio device index of each choice for the audio handler
// and never writes the configuration; GUI thread only.
class AudioDevice : public QObject {
    Q_OBJECT

public:
    static inline const QString kDefault = QStringLiteral("Default");

    explicit AudioDevice(QObject* parent = nullptr);

    // Reads "Voice/Driver" and the three device names once and announces them.
    void ensureLoaded();
    bool isLoaded() const { return m_loaded; }

    // A position in driverNames(); resets the three devices to "Default".
    void setDriver(int index);
    // Positions in inputDeviceNames() / outputDeviceNames(): 0 is "Default".
    void setInputDevice(int index);
    void setOutputHeadphoneDevice(int index);
    void setOutputSpeakerDevice(int index);

    QStringList driverNames() const;
    // "Default" first, then the devices of the chosen driver.
    QStringList inputDeviceNames() const;
    QStringList outputDeviceNames() const;

    // PortAudio device index of the choice; -1 for "Default" or out of range.
    int inputDeviceId() const;
    int outputHeadphoneDeviceId() const;
    int outputSpeakerDeviceId() const;

    int driverType() const { return m_driverType; }
    int driverIndex() const { return m_driverIndex; }
    int inputIndex() const { return m_inputIndex; }
    int outputHeadphoneIndex() const { return m_outputHeadphoneIndex; }
    int outputSpeakerIndex() const { return m_outputSpeakerIndex; }
    QString inputName() const { return m_inputName; }
    QString outputHeadphoneName() const { return m_outputHeadphoneName; }
    QString outputSpeakerName() const { return m_outputSpeakerName; }

signals:
    void deviceListChanged();
    void deviceChanged();
    // PortAudio device indices.
    void inputDeviceChanged(int deviceIndex);
    void outputHeadphoneDeviceChanged(int deviceIndex);
    void outputSpeakerDeviceChanged(int deviceIndex);

private:
    void refreshDeviceLists();
    // Announces the lists and every device: a "Default" choice as the
    // driver's default device.
    void announceAll();
    // Position in the driver list of the first match; -1 when none.
    int position(const std::function<bool(const VoiceHostApi&)>& match) const;
    int hostDefaultInput() const;
    int hostDefaultOutput() const;
    // 1 + the position of the device of that name, or 0 ("Default") when none has it.
    static int resolve(const QString& name, const QList<VoiceDevice>& devices);
    static int deviceId(int index, const QList<VoiceDevice>& devices);
    static QStringList namesWithDefault(const QList<VoiceDevice>& devices);
    // Takes position `index` of `devices` (0 = "Default"); false when out of range.
    bool select(int index, const QList<VoiceDevice>& devices, QString& name, int& selection);

    AppConfig* m_config;
    QList<VoiceHostApi> m_drivers;
    QList<VoiceDevice> m_inputDevices;
    QList<VoiceDevice> m_outputDevices;
    int m_driverType = -1;
    int m_driverIndex = -1;
    QString m_inputName;
    int m_inputIndex = -1;
    QString m_outputHeadphoneName;
    int m_outputHeadphoneIndex = -1;
    QString m_outputSpeakerName;
    int m_outputSpeakerIndex = -1;
    bool m_loaded = false;
};

} // namespace velk::voice
