#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

namespace velk::ui {

// Display copy of the simulator page: the chosen simulator family, the
// connection and plug-in status texts, the user's aircraft flattened with
// ready-made labels, and the latest traffic snapshot. Fed by the main window;
// page actions leave as request signals.
class SimulatorPageViewModel : public QObject {
    Q_OBJECT

    // Mode and connection
    Q_PROPERTY(QString currentMode READ currentMode NOTIFY stateChanged)
    Q_PROPERTY(QString simulatorFamily READ simulatorFamily NOTIFY stateChanged)
    Q_PROPERTY(QString simulatorDisplayName READ simulatorDisplayName NOTIFY stateChanged)
    Q_PROPERTY(bool msfsMode READ msfsMode NOTIFY stateChanged)
    Q_PROPERTY(bool xplaneMode READ xplaneMode NOTIFY stateChanged)
    Q_PROPERTY(bool simulatorConnected READ simulatorConnected NOTIFY stateChanged)
    Q_PROPERTY(QString simulatorStatusText READ simulatorStatusText NOTIFY stateChanged)
    Q_PROPERTY(QString pluginStatusText READ pluginStatusText NOTIFY stateChanged)
    Q_PROPERTY(QString cslStatusText READ cslStatusText NOTIFY stateChanged)
    Q_PROPERTY(QString trafficMappingStatusText READ trafficMappingStatusText NOTIFY stateChanged)
    Q_PROPERTY(QString xplaneVersionText READ xplaneVersionText NOTIFY stateChanged)

    // Aircraft data
    Q_PROPERTY(bool simPaused READ simPaused NOTIFY dataChanged)
    Q_PROPERTY(bool onGround READ onGround NOTIFY dataChanged)
    Q_PROPERTY(bool gearDown READ gearDown NOTIFY dataChanged)
    Q_PROPERTY(bool avionicsPowerOn READ avionicsPowerOn NOTIFY dataChanged)
    Q_PROPERTY(bool com1ReceiveEnabled READ com1ReceiveEnabled NOTIFY dataChanged)
    Q_PROPERTY(bool com2ReceiveEnabled READ com2ReceiveEnabled NOTIFY dataChanged)
    Q_PROPERTY(bool com1TransmitEnabled READ com1TransmitEnabled NOTIFY dataChanged)
    Q_PROPERTY(bool com2TransmitEnabled READ com2TransmitEnabled NOTIFY dataChanged)
    Q_PROPERTY(bool squawkingModeC READ squawkingModeC NOTIFY dataChanged)
    Q_PROPERTY(bool squawkingIdent READ squawkingIdent NOTIFY dataChanged)
    Q_PROPERTY(bool beaconOn READ beaconOn NOTIFY dataChanged)
    Q_PROPERTY(bool landingLightsOn READ landingLightsOn NOTIFY dataChanged)
    Q_PROPERTY(bool taxiLightsOn READ taxiLightsOn NOTIFY dataChanged)
    Q_PROPERTY(bool navLightsOn READ navLightsOn NOTIFY dataChanged)
    Q_PROPERTY(bool strobesOn READ strobesOn NOTIFY dataChanged)
    Q_PROPERTY(double latitude READ latitude NOTIFY dataChanged)
    Q_PROPERTY(double longitude READ longitude NOTIFY dataChanged)
    Q_PROPERTY(double altitudeMslM READ altitudeMslM NOTIFY dataChanged)
    Q_PROPERTY(double altitudeAglM READ altitudeAglM NOTIFY dataChanged)
    Q_PROPERTY(double altitudePressure READ altitudePressure NOTIFY dataChanged)
    Q_PROPERTY(double heading READ heading NOTIFY dataChanged)
    Q_PROPERTY(double groundSpeed READ groundSpeed NOTIFY dataChanged)
    Q_PROPERTY(double pitch READ pitch NOTIFY dataChanged)
    Q_PROPERTY(double bank READ bank NOTIFY dataChanged)
    Q_PROPERTY(double latitudeVelocity READ latitudeVelocity NOTIFY dataChanged)
    Q_PROPERTY(double longitudeVelocity READ longitudeVelocity NOTIFY dataChanged)
    Q_PROPERTY(double altitudeVelocity READ altitudeVelocity NOTIFY dataChanged)
    Q_PROPERTY(double pitchVelocity READ pitchVelocity NOTIFY dataChanged)
    Q_PROPERTY(double headingVelocity READ headingVelocity NOTIFY dataChanged)
    Q_PROPERTY(double bankVelocity READ bankVelocity NOTIFY dataChanged)
    Q_PROPERTY(double noseWheelAngle READ noseWheelAngle NOTIFY dataChanged)
    Q_PROPERTY(double flapsRatio READ flapsRatio NOTIFY dataChanged)
    Q_PROPERTY(double speedbrakeRatio READ speedbrakeRatio NOTIFY dataChanged)
    Q_PROPERTY(bool speedbrakeArmed READ speedbrakeArmed NOTIFY dataChanged)
    Q_PROPERTY(double com1Volume READ com1Volume NOTIFY dataChanged)
    Q_PROPERTY(double com2Volume READ com2Volume NOTIFY dataChanged)
    Q_PROPERTY(int engineCount READ engineCount NOTIFY dataChanged)
    Q_PROPERTY(QString com1Frequency READ com1Frequency NOTIFY dataChanged)
    Q_PROPERTY(QString com2Frequency READ com2Frequency NOTIFY dataChanged)
    Q_PROPERTY(QString transponderCode READ transponderCode NOTIFY dataChanged)
    Q_PROPERTY(QString flapsLabel READ flapsLabel NOTIFY dataChanged)
    Q_PROPERTY(QString speedbrakeLabel READ speedbrakeLabel NOTIFY dataChanged)
    Q_PROPERTY(QString activeTransmitLabel READ activeTransmitLabel NOTIFY dataChanged)
    Q_PROPERTY(QString activeReceiveLabel READ activeReceiveLabel NOTIFY dataChanged)
    Q_PROPERTY(QString motionSummary READ motionSummary NOTIFY dataChanged)
    Q_PROPERTY(QString engineSummary READ engineSummary NOTIFY dataChanged)

    // Lists
    Q_PROPERTY(QVariantList trafficContacts READ trafficContacts NOTIFY trafficChanged)
    Q_PROPERTY(QVariantList engineStates READ engineStates NOTIFY dataChanged)

public:
    explicit SimulatorPageViewModel(QObject* parent = nullptr);

    // The COM band a tuning request must fall in, in MHz.
    static constexpr double MinComMhz = 118.0;
    static constexpr double MaxComMhz = 136.99;
    static bool isValidComFrequency(double mhz);

    // A ratio clamped to 0..1 as a whole percentage ("50%").
    static QString ratioLabel(double ratio);
    // The squawk read as a decimal number, as four digits ("0042").
    static QString transponderText(uint code);

    QString currentMode() const { return m_currentMode; }
    QString simulatorFamily() const { return m_simulatorFamily; }
    QString simulatorDisplayName() const { return m_simulatorDisplayName; }
    bool msfsMode() const { return m_simulatorFamily == QLatin1String("MSFS"); }
    bool xplaneMode() const { return m_simulatorFamily == QLatin1String("XPLANE"); }
    bool simulatorConnected() const { return m_simulatorConnected; }
    QString simulatorStatusText() const { return m_simulatorStatusText; }
    QString pluginStatusText() const { return m_pluginStatusText; }
    QString cslStatusText() const { return m_cslStatusText; }
    QString trafficMappingStatusText() const { return m_trafficMappingStatusText; }
    QString xplaneVersionText() const { return m_xplaneVersionText; }

    bool simPaused() const { return m_simPaused; }
    bool onGround() const { return m_onGround; }
    bool gearDown() const { return m_gearDown; }
    bool avionicsPowerOn() const { return m_avionicsPowerOn; }
    bool com1ReceiveEnabled() const { return m_com1ReceiveEnabled; }
    bool com2ReceiveEnabled() const { return m_com2ReceiveEnabled; }
    bool com1TransmitEnabled() const { return m_com1TransmitEnabled; }
    bool com2TransmitEnabled() const { return m_com2TransmitEnabled; }
    bool squawkingModeC() const { return m_squawkingModeC; }
    bool squawkingIdent() const { return m_squawkingIdent; }
    bool beaconOn() const { return m_beaconOn; }
    bool landingLightsOn() const { return m_landingLightsOn; }
    bool taxiLightsOn() const { return m_taxiLightsOn; }
    bool navLightsOn() const { return m_navLightsOn; }
    bool strobesOn() const { return m_strobesOn; }
    double latitude() const { return m_latitude; }
    double longitude() const { return m_longitude; }
    double altitudeMslM() const { return m_altitudeMslM; }
    double altitudeAglM() const { return m_altitudeAglM; }
    double altitudePressure() const { return m_altitudePressure; }
    double heading() const { return m_heading; }
    double groundSpeed() const { return m_groundSpeed; }
    double pitch() const { return m_pitch; }
    double bank() const { return m_bank; }
    double latitudeVelocity() const { return m_latitudeVelocity; }
    double longitudeVelocity() const { return m_longitudeVelocity; }
    double altitudeVelocity() const { return m_altitudeVelocity; }
    double pitchVelocity() const { return m_pitchVelocity; }
    double headingVelocity() const { return m_headingVelocity; }
    double bankVelocity() const { return m_bankVelocity; }
    double noseWheelAngle() const { return m_noseWheelAngle; }
    double flapsRatio() const { return m_flapsRatio; }
    double speedbrakeRatio() const { return m_speedbrakeRatio; }
    bool speedbrakeArmed() const { return m_speedbrakeArmed; }
    double com1Volume() const { return m_com1Volume; }
    double com2Volume() const { return m_com2Volume; }
    int engineCount() const { return m_engineCount; }
    QString com1Frequency() const { return m_com1Frequency; }
    QString com2Frequency() const { return m_com2Frequency; }
    QString transponderCode() const { return m_transponderCode; }
    QString flapsLabel() const { return m_flapsLabel; }
    QString speedbrakeLabel() const { return m_speedbrakeLabel; }
    QString activeTransmitLabel() const { return m_activeTransmitLabel; }
    QString activeReceiveLabel() const { return m_activeReceiveLabel; }
    QString motionSummary() const { return m_motionSummary; }
    QString engineSummary() const { return m_engineSummary; }
    QVariantList trafficContacts() const { return m_trafficContacts; }
    QVariantList engineStates() const { return m_engineStates; }

    // --- Fed by the main window ---------------------------------------------
    void setCurrentMode(const QString& mode);
    void applyMode(const QString& mode);
    void setSimulatorConnected(bool connected, const QString& statusText);
    void onPluginStatusUpdated(bool valid);
    void onCslStatusUpdated(bool valid);
    void onTrafficMappingStatusUpdated(const QString& status);
    void onXPlaneVersionUpdated(int version);
    void onTrafficSnapshotUpdated(const QVariantList& contacts);
    // The 49 values of NetworkManager::simulatorDataUpdated, in its order.
    void updateFromSimulatorData(
        bool simConnected, double latitude, double longitude, double altitudeMslM, double altitudeAglM,
        double altitudePressure, double pitch, double heading, double bank, double latitudeVelocity,
        double longitudeVelocity, double altitudeVelocity, double pitchVelocity, double headingVelocity,
        double bankVelocity, double groundSpeed, double noseWheelAngle, bool onGround, bool gearDown,
        double flapsRatio, double speedbrakeRatio, bool speedbrakeArmed, int engineCount, bool engine1Running,
        bool engine2Running, bool engine3Running, bool engine4Running, bool engine1Reversing,
        bool engine2Reversing, bool engine3Reversing, bool engine4Reversing, bool beaconOn,
        bool landingLightsOn, bool taxiLightsOn, bool navLightsOn, bool strobesOn, bool avionicsPowerOn,
        bool com1ReceiveEnabled, bool com2ReceiveEnabled, bool com1TransmitEnabled, bool com2TransmitEnabled,
        uint com1Frequency, uint com2Frequency, double com1Volume, double com2Volume, uint transponderCode,
        bool squawkingModeC, bool squawkingIdent, bool simPaused);

signals:
    void stateChanged();
    void dataChanged();
    void trafficChanged();
    void reconnectRequested();
    void setCom1FrequencyRequested(double mhz);
    void setCom2FrequencyRequested(double mhz);
    void setTransponderCodeRequested(QString code);
    void transponderIdentRequested();
    void transponderModeToggleRequested();

public slots:
    void requestReconnect();
    // True when the request left; false for anything outside the COM band
    // (including NaN and infinities), so the page can show its hint.
    bool requestSetCom1Frequency(double mhz);
    bool requestSetCom2Frequency(double mhz);
    void requestSetTransponderCode(QString code);
    void requestTransponderIdent();
    void requestTransponderModeToggle();

private:
    QString m_currentMode;
    QString m_simulatorFamily;
    QString m_simulatorDisplayName;
    bool m_simulatorConnected = false;
    QString m_simulatorStatusText;
    QString m_pluginStatusText;
    QString m_cslStatusText;
    QString m_trafficMappingStatusText;
    QString m_xplaneVersionText;

    bool m_simPaused = false;
    bool m_onGround = false;
    bool m_gearDown = false;
    bool m_avionicsPowerOn = false;
    bool m_com1ReceiveEnabled = false;
    bool m_com2ReceiveEnabled = false;
    bool m_com1TransmitEnabled = false;
    bool m_com2TransmitEnabled = false;
    bool m_squawkingModeC = false;
    bool m_squawkingIdent = false;
    bool m_beaconOn = false;
    bool m_landingLightsOn = false;
    bool m_taxiLightsOn = false;
    bool m_navLightsOn = false;
    bool m_strobesOn = false;
    double m_latitude = 0.0;
    double m_longitude = 0.0;
    double m_altitudeMslM = 0.0;
    double m_altitudeAglM = 0.0;
    double m_altitudePressure = 0.0;
    double m_heading = 0.0;
    double m_groundSpeed = 0.0;
    double m_pitch = 0.0;
    double m_bank = 0.0;
    double m_latitudeVelocity = 0.0;
    double m_longitudeVelocity = 0.0;
    double m_altitudeVelocity = 0.0;
    double m_pitchVelocity = 0.0;
    double m_headingVelocity = 0.0;
    double m_bankVelocity = 0.0;
    double m_noseWheelAngle = 0.0;
    double m_flapsRatio = 0.0;
    double m_speedbrakeRatio = 0.0;
    bool m_speedbrakeArmed = false;
    double m_com1Volume = 0.0;
    double m_com2Volume = 0.0;
    int m_engineCount = 0;
    QString m_com1Frequency;
    QString m_com2Frequency;
    QString m_transponderCode;
    QString m_flapsLabel;
    QString m_speedbrakeLabel;
    QString m_activeTransmitLabel;
    QString m_activeReceiveLabel;
    QString m_motionSummary;
    QString m_engineSummary;
    QVariantList m_trafficContacts;
    QVariantList m_engineStates;
};

} // namespace velk::ui
