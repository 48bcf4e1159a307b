#pragma once

#include "simulator/Simulator.h"
#include "simulator/xplane/PluginProtocol.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>

class QUdpSocket;

namespace velk {
class AppConfig;
}

namespace velk::simulator::xplane {

class PluginChannel;

// The X-Plane back end: the user's aircraft over X-Plane's UDP dataref
// interface, and remote aircraft, controllers and messages over an nng pair
// socket to the companion plug-in.
//
// Everything runs on the thread that created it; only the plug-in channel
// receives on a thread of its own, and hands each message back to this thread.
class XPlaneAdapter : public Simulator {
public:
    // TCP port of the plug-in's pair socket when X-Plane runs on another machine.
    static constexpr quint16 kPluginTcpPort = 53100;
    static constexpr std::string_view kPluginIpcUrl = "ipc:///tmp//velkclient.ipc";
    static inline const QString kConnectionFailedText =
        QStringLiteral("模拟器未启动或连接服务异常，请联系VELK技术部");

    struct Options {
        QString pluginIpcUrl = QString::fromLatin1(kPluginIpcUrl.data(), kPluginIpcUrl.size());
        quint16 pluginTcpPort = kPluginTcpPort;
        // Seconds since the epoch; the system clock when empty.
        std::function<qint64()> clock;
        // When false the watchdog, the publisher and the delayed socket open
        // are not started: the caller ticks checkConnection(),
        // publishSimState() and openNngSocket() itself.
        bool startTimers = true;
        int connectTimeoutMs = 3000;
    };

    XPlaneAdapter();
    explicit XPlaneAdapter(Options options);
    ~XPlaneAdapter() override;

    // Simulator operations.
    void setTransponderCode(int code) override;
    void setCom1Frequency(float freq) override;
    void setCom2Frequency(float freq) override;
    void transponderIdent() override;
    void transponderModeToggle() override;
    void addRemoteAircraft(const manager::RemoteAircraft& aircraft) override;
    void updateRemoteAircraftConfig(const manager::RemoteAircraft& aircraft) override;
    void removeRemoteAircraft(const QString& callsign, const QString& reason) override;
    void removeAllRemoteAircraft() override;
    void updateControllerList(const QList<model::Controller>& controllers) override;
    void clearControllerList() override;
    void updateRemoteAircraftPosition(const manager::RemoteAircraft& aircraft,
                                      const model::AircraftVisualState& state) override;
    void updateRemoteAircraftFastPosition(const manager::RemoteAircraft& aircraft,
                                          const model::AircraftVisualState& state,
                                          const model::VelocityVector& positional,
                                          const model::VelocityVector& rotational) override;
    void sendHeartbeat(const QString& callsign) override;
    void notifyRadioMessageSent(const QString& message) override;
    void notifyRadioMessageReceived(const QString& from, const QString& message, bool isDirect) override;
    void showNotification(const QString& text, qint64 rgb) override;
    void notifyPrivateMessageSent(const QString& to, const QString& message) override;
    void notifyPrivateMessageReceived(const QString& from, const QString& message) override;
    void notifyNetworkConnected(const QString& callsign, const QString& selcalCode,
                                bool observerMode) override;
    void notifyNetworkDisconnected() override;
    void setStationCallsign(int radio, const QString& station) override;
    void notifySelcal() override;
    int simulatorGeneration() const override;
    void reconnectSimulator() override;
    double userPressureAltitudeFeet() const override;
    double userAltitudeFeet() const override;
    double adjustRemoteAltitude(double altitudeFeet) const override;

    // UDP dataref link.
    void subscribeDataref(const QString& path, int index, int rate);
    void subscribeDatarefs();
    void writeDataref(const QString& path, float value);
    void sendCommand(const QString& path);
    void readPendingDatagrams();
    // Up to 1000 the value is MHz and becomes kHz; above, it is kHz already; 0 for <= 0.
    static float normalizeFrequencyKhz(float freq);
    // UDP target for "XPlane/NetworkAddress": localhost in any case is the
    // IPv4 loopback, anything else an address literal (null when it is not).
    static QHostAddress targetAddressFor(const QString& configured);
    // Dial address of the plug-in for "XPlane/NetworkAddress".
    static QString pluginUrlFor(const QString& configured, const QString& ipcUrl, quint16 tcpPort);

    // Lifecycle; timers call these, tests may tick them directly.
    void tryConnect();
    void checkConnection();
    void onConnectTimeout();
    void publishSimState();
    void validateCslPaths(const QStringList& paths);
    void openNngSocket();

    // Plug-in channel; runs on this object's thread.
    void handleNngMessage(const PluginMessage& message);

    bool isSimConnected() const { return m_simConnected; }
    bool isAttemptInProgress() const { return m_attemptInProgress; }
    bool isConnectTimeoutActive() const { return m_connectTimeout.isActive(); }
    bool isNngReady() const { return m_nngReady; }
    // A plug-in is attached to the live channel.
    bool isPluginAttached() const;
    // Plug-in messages handed to this thread and not yet taken.
    int pendingPluginMessages() const { return m_pendingPluginMessages.load(); }
    bool isSimPaused() const { return m_simPaused; }
    int xplaneVersion() const { return m_xplaneVersion; }
    qint64 lastDataTime() const { return m_lastDataTime; }
    quint16 udpLocalPort() const;
    QStringList subscribedDatarefs() const { return m_subscribedDatarefs; }
    const model::UserAircraftData& userAircraftData() const { return m_userAircraftData; }
    const model::UserAircraftConfigData& userAircraftConfigData() const { return m_userAircraftConfigData; }
    const model::RadioStackState& radioStackState() const { return m_radioStackState; }

private:
    qint64 now() const;
    void applyTargetAddress();
    void openChannel();
    void replaceChannel();
    void retireChannel();
    void startOverWithPlugin();
    void replaceChannelIfUnusable();
    std::unique_ptr<PluginChannel> makeChannel();
    void sendDatagram(const QByteArray& datagram);
    void sendMessage(const PluginMessageWriter& message);
    // For what a plug-in must get whenever it attaches: the version and CSL requests.
    void sendRequest(const PluginMessageWriter& message);
    void postFromReceiveThread(quint64 channel, PluginMessage message);
    void handleVersionReply(const msgpack::object& payload);
    void handleCslReply(const msgpack::object& payload);
    void handleShutdown();

    Options m_options;
    AppConfig* m_config = nullptr;
    QHostAddress m_target;
    QUdpSocket* m_udp = nullptr;
    qint64 m_lastDataTime = 0;

    bool m_simConnected = false;
    bool m_versionReplyReceived = false;
    bool m_pluginVersionValid = true;
    bool m_cslValid = true;
    bool m_simPaused = false;
    bool m_connectWanted = false;
    bool m_attemptInProgress = false;
    bool m_nngReady = false;
    // The plug-in address the channel dialled.
    QString m_pluginUrl;
    // An accepted RREF reply since the attempt began: no connection without X-Plane data.
    bool m_dataSinceAttempt = false;
    // An accepted RREF reply since the last publish: the user's aircraft goes
    // out again even when unchanged, so that a paused or parked aircraft stays fresh.
    bool m_replySincePublish = false;

    QTimer m_watchdog;
    QTimer m_publisher;
    QTimer m_connectTimeout;

    QStringList m_subscribedDatarefs;
    int m_xplaneVersion = 0;

    std::atomic<int> m_pendingPluginMessages{0};
    // Number of the live channel. A channel is retired by moving it on first:
    // its receive thread stops waiting for this thread, and whatever it handed
    // over and is still queued is dropped on arrival.
    std::atomic<quint64> m_liveChannel{0};
    std::unique_ptr<PluginChannel> m_channel;
};

} // namespace velk::simulator::xplane
