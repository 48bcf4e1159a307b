#pragma once

#include "common/MessageType.h"
#include "input/PttService.h"
#include "voice/AudioDevice.h"

#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QJsonArray>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantList>

#include <memory>

class QAudioOutput;
class QMediaPlayer;
class QQuickView;

namespace velk {
class AppConfig;
namespace manager {
class ControllerManager;
class NetworkManager;
} // namespace manager
namespace network {
struct RadioMessageReceived;
} // namespace network
namespace voice {
class AudioHandler;
} // namespace voice
} // namespace velk

namespace velk::ui {

class DashboardViewModel;
class MessagesPageViewModel;
class ServerPageViewModel;
class SimulatorPageViewModel;
class VoiceServiceViewModel;
namespace viewmodel {
class SettingsViewModel;
class VoiceSettingsViewModel;
} // namespace viewmodel

// The dashboard window that follows sign-in: hosts the QML dashboard, owns the
// page view models, routes every page request to the session manager or the
// current simulator back end, and turns session events into page updates, log
// lines and notification sounds.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr double SoundVolume = 0.55;
    static constexpr double UrgentSoundVolume = 0.75;
    static constexpr const char* ConnectSound = "qrc:/resources/sounds/connect.mp3";
    static constexpr const char* DisconnectSound = "qrc:/resources/sounds/disconnect.mp3";
    static constexpr const char* MessageSound = "qrc:/resources/sounds/manager.mp3";
    // Recent flights shown on the overview.
    static constexpr int RecentFlightCount = 5;

    // Either shared pointer may be empty: without a session manager no request
    // is routed and no session event connected; without a controller manager
    // its events are not connected.
    MainWindow(std::shared_ptr<manager::NetworkManager> networkManager,
               std::shared_ptr<manager::ControllerManager> controllerManager, QWidget* parent = nullptr);
    ~MainWindow() override;

    // --- Page requests ---------------------------------------------------------
    void connectToServer(const QString& callsign, const QString& typeCode, const QString& selcal,
                         bool observer);
    void disconnectFromServer();
    void reconnectSimulator();
    // Tune COM1/COM2 of the current back end; dropped unless finite and above 0.
    void onCom1FrequencyRequested(double mhz);
    void onCom2FrequencyRequested(double mhz);
    // One to four octal digits after trimming, passed on read as decimal (7700 -> 7700).
    void setTransponderCode(const QString& code);
    void onTransponderIdentRequested();
    void onTransponderModeToggleRequested();
    void onPrivateMessageRequested(const QString& target, const QString& message);
    void onRadioMessageRequested(const QString& message);
    void onWallopRequested(const QString& message);
    void onMessageSoundRequested(const QString& type, int priority);

    // --- Formatting of web-API and radio values ---------------------------------
    // "0小时 0分" for 0, else "%1小时 %2分" with two-digit minutes.
    static QString formatDuration(quint64 seconds);
    // "MM-dd hh:mm - hh:mm" in local time; the start alone without an end;
    // "时间未知" without a start.
    static QString formatFlightWindow(const QDateTime& start, const QDateTime& end);
    // {"name": "CID: <cid>", "hours": time / 3600} per row, in order.
    static QVariantList buildLeaderboardList(const QJsonArray& rows);
    // The frequencies of a received radio text, held as a variant list or a QList<uint>.
    static QList<uint> frequenciesOf(const QVariant& field);

    // --- For start-up and tests ---------------------------------------------------
    DashboardViewModel* dashboardViewModel() const { return m_dashboardViewModel; }
    SimulatorPageViewModel* simulatorViewModel() const { return m_simulatorViewModel; }
    ServerPageViewModel* serverViewModel() const { return m_serverViewModel; }
    MessagesPageViewModel* messagesViewModel() const { return m_messagesViewModel; }
    viewmodel::VoiceSettingsViewModel* voiceSettingsViewModel() const { return m_voiceSettingsViewModel; }
    viewmodel::SettingsViewModel* settingsViewModel() const { return m_settingsViewModel; }
    VoiceServiceViewModel* voiceServiceViewModel() const { return m_voiceServiceViewModel; }
    QQuickView* quickView() const { return m_view; }
    QMediaPlayer* mediaPlayer() const { return m_mediaPlayer; }
    QAudioOutput* audioOutput() const { return m_audioOutput; }
    QString currentMode() const { return m_currentMode; }

signals:
    void logoutRequested();
    void msfsSelected();
    void xplaneSelected();

public slots:
    void onLogoutClicked();
    void onModeSelected(QString mode);

private slots:
    // The voice mini window hands back: shown restored (a maximised window
    // stays maximised) and in front, even from minimised.
    void bringToFront();

protected:
    void showEvent(QShowEvent* event) override;
    // Closes the windows the dashboard opened of its own (the voice mini
    // window) with it: left open, they would keep the application running.
    void closeEvent(QCloseEvent* event) override;

private:
    void setupUi();
    void setupConnections();
    void initServerInfo();
    void loadUserInfo() const;
    void loadUserHistory() const;
    void loadLeaderboard() const;
    void playNotificationSound(const QUrl& source, double volume);
    // The audio output and media player, once.
    void createMediaPlayer();
    // Hands the chosen devices to a new audio engine, now and on every later choice.
    void bindAudioDevice(voice::AudioHandler* audio);

    void onNetworkConnected(const QString& callsign);
    void onNetworkDisconnected(bool forced);
    void onVoiceConnectionLost(const QString& reason);
    void onSimulatorConnectionStateChanged(bool connected);
    void onSimulatorConnectionFailed(const QString& message);
    void onNotificationPosted(const QString& message, common::MessageType type);
    // The first 16 of the session manager's 49 simulator values; the simulator
    // page takes all 49 through its own connection, made right after this one.
    void onSimulatorDataUpdated(bool simConnected, double latitude, double longitude, double altitudeMslM,
                                double altitudeAglM, double altitudePressure, double pitch, double heading,
                                double bank, double latitudeVelocity, double longitudeVelocity,
                                double altitudeVelocity, double pitchVelocity, double headingVelocity,
                                double bankVelocity, double groundSpeed);
    void onRadioMessageSent(const QString& message, const QList<uint>& frequencies);
    void onRadioMessageReceived(const network::RadioMessageReceived& args);
    void onSelcalAlertReceived(const QString& from, const QList<uint>& frequencies);

    input::PttService m_ptt;
    voice::AudioDevice m_audioDevice;
    AppConfig* m_config = nullptr;
    QString m_currentMode = QStringLiteral("NONE");
    std::shared_ptr<manager::NetworkManager> m_networkManager;
    std::shared_ptr<manager::ControllerManager> m_controllerManager;
    QQuickView* m_view = nullptr;
    QWidget* m_container = nullptr;
    DashboardViewModel* m_dashboardViewModel = nullptr;
    SimulatorPageViewModel* m_simulatorViewModel = nullptr;
    ServerPageViewModel* m_serverViewModel = nullptr;
    MessagesPageViewModel* m_messagesViewModel = nullptr;
    viewmodel::VoiceSettingsViewModel* m_voiceSettingsViewModel = nullptr;
    viewmodel::SettingsViewModel* m_settingsViewModel = nullptr;
    VoiceServiceViewModel* m_voiceServiceViewModel = nullptr;
    // Started with the view, on worker threads, so that they overlap its QML loading.
    QFuture<void> m_fontSystemStart;
    QFuture<QImage> m_windowIcon;
    QAudioOutput* m_audioOutput = nullptr;
    QMediaPlayer* m_mediaPlayer = nullptr;
    // The account's profile, history and leaderboards load on the first show only.
    bool m_accountRequested = false;
    // Set while a close takes the dashboard's own windows with it.
    bool m_closing = false;
};

} // namespace velk::ui
