#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace velk {
class AppConfig;
struct ConfigWrite;
} // namespace velk
namespace velk::input {
class PttService;
}
namespace velk::voice {
class AudioDevice;
}

namespace velk::ui::viewmodel {

// The voice section of the settings page: microphone gain, push-to-talk tones
// and their output, the conflict tone, the push-to-talk binding, and the audio
// driver and devices passed through to the device selection. Driver, devices
// and binding act at once; every value reaches config.ini only with the settings page's save.
class VoiceSettingsViewModel : public QObject {
    Q_OBJECT

    Q_PROPERTY(QStringList driverNames READ driverNames NOTIFY deviceListChanged)
    Q_PROPERTY(QStringList inputDeviceNames READ inputDeviceNames NOTIFY deviceListChanged)
    Q_PROPERTY(QStringList outputDeviceNames READ outputDeviceNames NOTIFY deviceListChanged)
    Q_PROPERTY(int driverIndex READ driverIndex NOTIFY deviceChanged)
    Q_PROPERTY(int inputIndex READ inputIndex NOTIFY deviceChanged)
    Q_PROPERTY(int outputHeadphoneIndex READ outputHeadphoneIndex NOTIFY deviceChanged)
    Q_PROPERTY(int outputSpeakerIndex READ outputSpeakerIndex NOTIFY deviceChanged)
    Q_PROPERTY(QString pttKey READ pttKey NOTIFY pttDisplayNameChanged)
    Q_PROPERTY(bool pttListening READ pttListening NOTIFY pttListeningChanged)
    Q_PROPERTY(double micGain READ micGain WRITE setMicGain NOTIFY settingsChanged)
    Q_PROPERTY(double pttVolume READ pttVolume WRITE setPttVolume NOTIFY settingsChanged)
    Q_PROPERTY(double pttPressFreq READ pttPressFreq WRITE setPttPressFreq NOTIFY settingsChanged)
    Q_PROPERTY(double pttReleaseFreq READ pttReleaseFreq WRITE setPttReleaseFreq NOTIFY settingsChanged)
    Q_PROPERTY(int pttDevice READ pttDevice WRITE setPttDevice NOTIFY settingsChanged)
    Q_PROPERTY(double conflictVolume READ conflictVolume WRITE setConflictVolume NOTIFY settingsChanged)
    Q_PROPERTY(int conflictDevice READ conflictDevice WRITE setConflictDevice NOTIFY settingsChanged)

public:
    // The only entry of a device list when the driver has no device; choosing
    // it keeps the driver's default, as "Default" does.
    static inline const QString kNoDevice = QStringLiteral("未找到音频设备");

    VoiceSettingsViewModel(input::PttService* ptt, voice::AudioDevice* devices, QObject* parent = nullptr);

    QStringList driverNames() const;
    QStringList inputDeviceNames() const;
    QStringList outputDeviceNames() const;
    int driverIndex() const;
    int inputIndex() const;
    int outputHeadphoneIndex() const;
    int outputSpeakerIndex() const;
    // The binding's display name, "未设置" when there is none.
    QString pttKey() const;
    bool pttListening() const;
    double micGain() const { return m_micGain; }
    double pttVolume() const { return m_pttVolume; }
    double pttPressFreq() const { return m_pttPressFreq; }
    double pttReleaseFreq() const { return m_pttReleaseFreq; }
    int pttDevice() const { return m_pttDevice; }
    double conflictVolume() const { return m_conflictVolume; }
    int conflictDevice() const { return m_conflictDevice; }

    // The numbers emit only on a change; the two outputs on every write, and
    // keep the low byte of what is written, as the audio engine reads them.
    void setMicGain(double dB);
    void setPttVolume(double volume);
    void setPttPressFreq(double hz);
    void setPttReleaseFreq(double hz);
    void setPttDevice(int device);
    void setConflictVolume(double volume);
    void setConflictDevice(int device);

    Q_INVOKABLE void ensureDeviceListLoaded();
    Q_INVOKABLE void setDriver(int driverIndex);
    Q_INVOKABLE void setInput(int deviceIndex);
    Q_INVOKABLE void setOutputHeadphone(int deviceIndex);
    Q_INVOKABLE void setOutputSpeaker(int deviceIndex);
    Q_INVOKABLE void startPttListening();

    void load();
    // The twelve voice keys as the page holds them, for the settings page's
    // one save. A device selection never opened is given back as stored.
    QList<ConfigWrite> writes() const;
    // The first value outside what the audio engine takes, named as the page
    // labels it; empty when all hold.
    QString problem() const;

signals:
    void settingsChanged();
    void deviceListChanged();
    void deviceChanged();
    void pttDisplayNameChanged();
    void pttListeningChanged();

private:
    void setNumber(double& field, double value);
    voice::AudioDevice* loadedDevices();

    AppConfig* m_config;
    input::PttService* m_ptt;
    voice::AudioDevice* m_devices;
    QString m_bindingText;
    double m_micGain = 0.0;
    double m_pttVolume = 1.0;
    double m_pttPressFreq = 1500.0;
    double m_pttReleaseFreq = 1000.0;
    quint8 m_pttDevice = 0;
    double m_conflictVolume = 1.0;
    quint8 m_conflictDevice = 0;
};

} // namespace velk::ui::viewmodel
