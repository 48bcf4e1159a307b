#include "ui/MainWindow.h"

#include "AppConfig.h"
#include "common/Deployment.h"
#include "manager/ControllerManager.h"
#include "manager/NetworkManager.h"
#include "ui/BackgroundPreparation.h"
#include "ui/DashboardPreload.h"
#include "ui/EmbeddedViewFocus.h"
#include "ui/QmlTypes.h"
#include "ui/WindowBackdrop.h"
#include "ui/viewmodel/DashboardViewModel.h"
#include "ui/viewmodel/MessagesPageViewModel.h"
#include "ui/viewmodel/ServerPageViewModel.h"
#include "ui/viewmodel/SettingsViewModel.h"
#include "ui/viewmodel/SimulatorPageViewModel.h"
#include "ui/viewmodel/VoiceServiceViewModel.h"
#include "ui/viewmodel/VoiceSettingsViewModel.h"
#include "voice/AudioHandler.h"
#include "voice/VoiceClient.h"

#include <QAudioOutput>
#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QMediaPlayer>
#include <QPixmap>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickView>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>

namespace velk::ui {

namespace {

// The FSD endpoint shown to the pilot and written to the connect log line.
const QString& fsdHost() {
    static const QString host = deployment::fsdServer().host;
    return host;
}

quint16 fsdPort() {
    return deployment::fsdServer().port;
}

} // namespace

MainWindow::MainWindow(std::shared_ptr<manager::NetworkManager> networkManager,
                       std::shared_ptr<manager::ControllerManager> controllerManager, QWidget* parent)
    : QMainWindow(parent), m_ptt(this), m_config(AppConfig::instance()),
      m_networkManager(std::move(networkManager)), m_controllerManager(std::move(controllerManager)) {
    m_dashboardViewModel = new DashboardViewModel(this);
    m_simulatorViewModel = new SimulatorPageViewModel(this);
    m_serverViewModel = new ServerPageViewModel(this);
    m_messagesViewModel = new MessagesPageViewModel(this);
    m_voiceSettingsViewModel = new viewmodel::VoiceSettingsViewModel(&m_ptt, &m_audioDevice, this);
    m_settingsViewModel = new viewmodel::SettingsViewModel(m_voiceSettingsViewModel, this);
    // The voice page needs a voice client, which only a session manager has.
    if (m_networkManager) {
        m_voiceServiceViewModel =
            new VoiceServiceViewModel(m_networkManager->voiceClient(), &m_ptt, &m_audioDevice, this);
    }
    m_ptt.setBoundKey(m_config->value(ConfigKeys::VoicePttKey));

    setupUi();
    setupConnections();
    initServerInfo();

    // The media back end takes a while to start: not before the dashboard's first frame.
    connect(m_view, &QQuickWindow::frameSwapped, this, &MainWindow::createMediaPlayer,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

void MainWindow::createMediaPlayer() {
    if (m_mediaPlayer) {
        return;
    }
    m_audioOutput = new QAudioOutput(this);
    m_mediaPlayer = new QMediaPlayer(this);
    m_audioOutput->setVolume(static_cast<float>(SoundVolume));
    m_mediaPlayer->setAudioOutput(m_audioOutput);
}

MainWindow::~MainWindow() {
    // Font data must not be read while the application tears down.
    m_fontSystemStart.waitForFinished();
    // The QML reads the view models and the view models point at the services:
    // tear down in that order, before the base class deletes children in an
    // order of its own.
    delete m_container;
    m_container = nullptr;
    m_view = nullptr;
    // The voice client outlives the window: a key held now must not leave it transmitting.
    if (m_voiceServiceViewModel) {
        m_voiceServiceViewModel->setPtt(false);
    }
    delete m_voiceServiceViewModel;
    m_voiceServiceViewModel = nullptr;
    delete m_settingsViewModel;
    m_settingsViewModel = nullptr;
    delete m_voiceSettingsViewModel;
    m_voiceSettingsViewModel = nullptr;
    delete m_messagesViewModel;
    m_messagesViewModel = nullptr;
    delete m_serverViewModel;
    m_serverViewModel = nullptr;
    delete m_simulatorViewModel;
    m_simulatorViewModel = nullptr;
    delete m_dashboardViewModel;
    m_dashboardViewModel = nullptr;
}

void MainWindow::setupUi() {
    setWindowTitle(QStringLiteral("VELK Client - 控制面板"));
    setMinimumSize(1000, 700);
    enableWindowBackdrop(this, true);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    setCentralWidget(central);

    // Normally done by main already; the view's engine must find the module.
    registerQmlTypes();

    // Usually made while the login window waited for the pilot.
    m_view = takePreparedDashboardView().release();
    if (!m_view) {
        m_view = new QQuickView();
        m_view->setResizeMode(QQuickView::SizeRootObjectToView);
        m_view->setColor(Qt::transparent);
    }
    // Beside the loading of the QML below rather than the view's construction,
    // which runs slower with them beside it.
    m_fontSystemStart = startFontSystemInBackground();
    m_windowIcon = decodeImageInBackground(QStringLiteral(":/resources/logo.png"));

    QQmlContext* context = m_view->rootContext();
    context->setContextProperty(QStringLiteral("dashboardBackend"), m_dashboardViewModel);
    context->setContextProperty(QStringLiteral("simulatorBackend"), m_simulatorViewModel);
    context->setContextProperty(QStringLiteral("serverBackend"), m_serverViewModel);
    context->setContextProperty(QStringLiteral("messagesBackend"), m_messagesViewModel);
    context->setContextProperty(QStringLiteral("settingsBackend"), m_settingsViewModel);
    context->setContextProperty(QStringLiteral("voiceSettingsBackend"), m_voiceSettingsViewModel);
    context->setContextProperty(QStringLiteral("voiceBackend"), m_voiceServiceViewModel);

    m_view->setSource(QUrl(QStringLiteral("qrc:/src/ui/view/Dashboard.qml")));
    for (const QQmlError& error : m_view->errors()) {
        qWarning().noquote() << "MainWindow: dashboard QML:" << error.toString();
    }
    if (QQuickItem* root = m_view->rootObject()) {
        connect(root, SIGNAL(logoutRequested()), this, SLOT(onLogoutClicked()));
        connect(root, SIGNAL(dashboardRequested()), this, SLOT(bringToFront()));
    }

    // Decoded while the QML loaded, in time for the window's first show.
    setWindowIcon(QIcon(QPixmap::fromImage(m_windowIcon.result())));

    m_container = QWidget::createWindowContainer(m_view, this);
    m_container->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_container);
    new EmbeddedViewFocus(m_view, this);
}

void MainWindow::setupConnections() {
    auto* overview = m_dashboardViewModel;
    auto* simulatorPage = m_simulatorViewModel;
    auto* serverPage = m_serverViewModel;
    auto* messages = m_messagesViewModel;
    using Simulator = SimulatorPageViewModel;
    using Messages = MessagesPageViewModel;
    connect(overview, &DashboardViewModel::modeChangedRequest, this, &MainWindow::onModeSelected);
    connect(overview, &DashboardViewModel::serverConnectRequest, this, &MainWindow::connectToServer);
    connect(overview, &DashboardViewModel::serverDisconnectRequest, this, &MainWindow::disconnectFromServer);
    connect(serverPage, &ServerPageViewModel::connectRequested, this, &MainWindow::connectToServer);
    connect(serverPage, &ServerPageViewModel::disconnectRequested, this, &MainWindow::disconnectFromServer);
    connect(overview, &DashboardViewModel::simulatorReconnectRequest, this, &MainWindow::reconnectSimulator);
    connect(simulatorPage, &Simulator::reconnectRequested, this, &MainWindow::reconnectSimulator);
    connect(simulatorPage, &Simulator::setCom1FrequencyRequested, this,
            &MainWindow::onCom1FrequencyRequested);
    connect(simulatorPage, &Simulator::setCom2FrequencyRequested, this,
            &MainWindow::onCom2FrequencyRequested);
    connect(simulatorPage, &Simulator::setTransponderCodeRequested, this, &MainWindow::setTransponderCode);
    connect(simulatorPage, &Simulator::transponderIdentRequested, this,
            &MainWindow::onTransponderIdentRequested);
    connect(simulatorPage, &Simulator::transponderModeToggleRequested, this,
            &MainWindow::onTransponderModeToggleRequested);
    connect(messages, &Messages::privateMessageRequested, this, &MainWindow::onPrivateMessageRequested);
    connect(messages, &Messages::radioMessageRequested, this, &MainWindow::onRadioMessageRequested);
    connect(messages, &Messages::wallopRequested, this, &MainWindow::onWallopRequested);
    connect(messages, &Messages::messageSoundRequested, this, &MainWindow::onMessageSoundRequested);

    if (!m_networkManager) {
        return;
    }
    using manager::NetworkManager;
    NetworkManager* nm = m_networkManager.get();
    connect(nm, &NetworkManager::radioStatesUpdate, m_voiceServiceViewModel,
            &VoiceServiceViewModel::radioStackUpdate);
    connect(nm->voiceClient(), &voice::VoiceClient::audioHandlerCreated, this, &MainWindow::bindAudioDevice);
    connect(nm->voiceClient(), &voice::VoiceClient::connectionLost, this, &MainWindow::onVoiceConnectionLost);
    // The messages page refuses radio texts until it knows a COM radio transmits;
    // radios reported before this window existed count too.
    connect(nm, &NetworkManager::radioStatesUpdate, messages, &Messages::onRadioStackStateChanged);
    messages->onRadioStackStateChanged(nm->radioStackState());
    connect(nm, &NetworkManager::networkConnected, this, &MainWindow::onNetworkConnected);
    connect(nm, &NetworkManager::networkDisconnected, this, &MainWindow::onNetworkDisconnected);
    connect(nm, &NetworkManager::simulatorConnectionStateChanged, this,
            &MainWindow::onSimulatorConnectionStateChanged);
    connect(nm, &NetworkManager::simulatorConnectionFailed, this, &MainWindow::onSimulatorConnectionFailed);
    connect(nm, &NetworkManager::simulatorPluginStatusUpdated, simulatorPage,
            &Simulator::onPluginStatusUpdated);
    connect(nm, &NetworkManager::simulatorCslStatusUpdated, simulatorPage, &Simulator::onCslStatusUpdated);
    connect(nm, &NetworkManager::simulatorTrafficMappingStatusUpdated, simulatorPage,
            &Simulator::onTrafficMappingStatusUpdated);
    connect(nm, &NetworkManager::simulatorXPlaneVersionUpdated, simulatorPage,
            &Simulator::onXPlaneVersionUpdated);
    connect(nm, &NetworkManager::simulatorTrafficSnapshotUpdated, simulatorPage,
            &Simulator::onTrafficSnapshotUpdated);
    connect(nm, &NetworkManager::notificationPosted, this, &MainWindow::onNotificationPosted);
    // The window's handler first (it may mark the simulator connected), then the page's 49 values.
    connect(nm, &NetworkManager::simulatorDataUpdated, this, &MainWindow::onSimulatorDataUpdated);
    connect(nm, &NetworkManager::simulatorDataUpdated, simulatorPage, &Simulator::updateFromSimulatorData);
    connect(nm, &NetworkManager::serverMessageReceived, messages, &Messages::onServerMessageReceived);
    connect(nm, &NetworkManager::privateMessageReceived, messages, &Messages::onPrivateMessageReceived);
    connect(nm, &NetworkManager::privateMessageSent, messages, &Messages::onPrivateMessageSent);
    connect(nm, &NetworkManager::broadcastMessageReceived, messages, &Messages::onBroadcastMessageReceived);
    connect(nm, &NetworkManager::wallopSent, messages, &Messages::onWallopSent);
    connect(nm, &NetworkManager::radioMessageSent, this, &MainWindow::onRadioMessageSent);
    connect(nm, &NetworkManager::radioMessageReceived, this, &MainWindow::onRadioMessageReceived);
    connect(nm, &NetworkManager::selcalAlertReceived, this, &MainWindow::onSelcalAlertReceived);

    if (!m_controllerManager) {
        return;
    }
    using manager::ControllerManager;
    ControllerManager* cm = m_controllerManager.get();
    connect(cm, &ControllerManager::controllerAdded, messages, &Messages::onControllerChanged);
    connect(cm, &ControllerManager::controllerUpdated, messages, &Messages::onControllerChanged);
    connect(cm, &ControllerManager::controllerDeleted, messages, &Messages::onControllerDeleted);
}

void MainWindow::bindAudioDevice(voice::AudioHandler* audio) {
    if (!audio) {
        return;
    }
    using voice::AudioDevice;
    using voice::AudioHandler;
    connect(&m_audioDevice, &AudioDevice::inputDeviceChanged, audio, &AudioHandler::setInputDevice,
            Qt::UniqueConnection);
    connect(&m_audioDevice, &AudioDevice::outputHeadphoneDeviceChanged, audio,
            &AudioHandler::setOutputHeadphoneDevice, Qt::UniqueConnection);
    connect(&m_audioDevice, &AudioDevice::outputSpeakerDeviceChanged, audio,
            &AudioHandler::setOutputSpeakerDevice, Qt::UniqueConnection);
    if (m_audioDevice.isLoaded()) {
        audio->setInputDevice(m_audioDevice.inputDeviceId());
        audio->setOutputHeadphoneDevice(m_audioDevice.outputHeadphoneDeviceId());
        audio->setOutputSpeakerDevice(m_audioDevice.outputSpeakerDeviceId());
    } else {
        // Announces its selections through the connections just made.
        m_audioDevice.ensureLoaded();
    }
    audio->reloadSettings();
}

void MainWindow::initServerInfo() {
    m_serverViewModel->setEndpoint(fsdHost(), fsdPort());
    m_serverViewModel->setProtocol(m_config->value(ConfigKeys::AuthVatsim));
    m_serverViewModel->setCurrentMode(m_currentMode);
    m_simulatorViewModel->applyMode(m_currentMode);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Restoring a minimised window is a show too: load once, or every restore
    // would fire three web requests.
    if (m_accountRequested) {
        return;
    }
    m_accountRequested = true;
    loadUserInfo();
    loadUserHistory();
    loadLeaderboard();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (!event->isAccepted() || !m_view) {
        return;
    }
    // Closed first, so that the dashboard going is the last window closed.
    // The mini window, closed, hands back to a dashboard that is going.
    const QScopedValueRollback closing(m_closing, true);
    const QQmlEngine* engine = m_view->engine();
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && qmlEngine(window) == engine) {
            window->close();
        }
    }
}

void MainWindow::bringToFront() {
    if (m_closing) {
        return;
    }
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void MainWindow::onLogoutClicked() {
    emit logoutRequested();
}

void MainWindow::onModeSelected(QString mode) {
    if (!m_networkManager) {
        return;
    }
    m_currentMode = mode;
    m_dashboardViewModel->setCurrentMode(mode);
    m_simulatorViewModel->setCurrentMode(mode);
    m_simulatorViewModel->applyMode(mode);
    m_serverViewModel->setCurrentMode(mode);
    m_networkManager->disconnectFromNetwork();
    if (mode == QLatin1String("XPLANE")) {
        emit xplaneSelected();
    } else if (mode == QLatin1String("MSFS")) {
        emit msfsSelected();
    } else {
        // Nothing on the platform choice shows voice: a session left open
        // there would go on transmitting on push-to-talk unseen.
        voice::VoiceClient* voice = m_networkManager->voiceClient();
        if (voice->connectionState() != voice::ConnectionState::Disconnected) {
            voice->disconnectFromServer();
        }
        return;
    }
    m_dashboardViewModel->setSimulatorState(false, QStringLiteral("连接中..."));
    m_simulatorViewModel->setSimulatorConnected(false, QStringLiteral("连接中..."));
}

void MainWindow::connectToServer(const QString& callsign, const QString& typeCode, const QString& selcal,
                                 bool observer) {
    if (!m_networkManager) {
        return;
    }
    if (!m_networkManager->connectToNetwork(callsign, typeCode, selcal, observer)) {
        // Refused because a session is open or opening: that session's state stands.
        if (m_networkManager->sessionState() == manager::NetworkManager::Idle) {
            m_dashboardViewModel->setServerState(false, QStringLiteral("未连接"));
            m_serverViewModel->setServerState(false, QStringLiteral("未连接"));
        }
        return;
    }
    m_dashboardViewModel->setServerState(false, QStringLiteral("连接中..."));
    m_serverViewModel->setServerState(false, QStringLiteral("连接中..."));
    const QString line = QStringLiteral("正在连接 FSD %1:%2，呼号=%3，机型=%4，观察员模式=%5")
                             .arg(fsdHost())
                             .arg(fsdPort())
                             .arg(callsign, typeCode, observer ? QStringLiteral("是") : QStringLiteral("否"));
    m_dashboardViewModel->appendServerLog(line);
    m_serverViewModel->appendLog(line);
}

void MainWindow::disconnectFromServer() {
    // Without a session no disconnect event follows: "断开中..." would stay and
    // keep the server page from connecting.
    if (!m_networkManager || m_networkManager->sessionState() == manager::NetworkManager::Idle) {
        return;
    }
    const QString status = QStringLiteral("断开中...");
    const QString line = QStringLiteral("正在断开 FSD 连接...");
    m_dashboardViewModel->setServerState(false, status);
    m_serverViewModel->setServerState(false, status);
    m_dashboardViewModel->appendServerLog(line);
    m_serverViewModel->appendLog(line);
    m_networkManager->disconnectFromNetwork();
}

void MainWindow::reconnectSimulator() {
    if (!m_networkManager) {
        return;
    }
    m_dashboardViewModel->setSimulatorState(false, QStringLiteral("连接中..."));
    m_simulatorViewModel->setSimulatorConnected(false, QStringLiteral("连接中..."));
    m_networkManager->reconnectSimulator();
}

void MainWindow::onCom1FrequencyRequested(double mhz) {
    if (!m_networkManager || !std::isfinite(mhz) || !(mhz > 0)) {
        return;
    }
    if (auto simulator = m_networkManager->simulator()) {
        simulator->setCom1Frequency(static_cast<float>(mhz));
    }
}

void MainWindow::onCom2FrequencyRequested(double mhz) {
    if (!m_networkManager || !std::isfinite(mhz) || !(mhz > 0)) {
        return;
    }
    if (auto simulator = m_networkManager->simulator()) {
        simulator->setCom2Frequency(static_cast<float>(mhz));
    }
}

void MainWindow::setTransponderCode(const QString& code) {
    if (!m_networkManager) {
        return;
    }
    auto simulator = m_networkManager->simulator();
    if (!simulator) {
        return;
    }
    static const QRegularExpression pattern(QStringLiteral("^[0-7]{1,4}$"));
    const QString trimmed = code.trimmed();
    if (!pattern.match(trimmed).hasMatch()) {
        return;
    }
    bool ok = false;
    const int value = trimmed.toInt(&ok, 10);
    if (!ok || value < 0) {
        return;
    }
    simulator->setTransponderCode(value);
}

void MainWindow::onTransponderIdentRequested() {
    if (!m_networkManager) {
        return;
    }
    if (auto simulator = m_networkManager->simulator()) {
        simulator->transponderIdent();
    }
}

void MainWindow::onTransponderModeToggleRequested() {
    if (!m_networkManager) {
        return;
    }
    if (auto simulator = m_networkManager->simulator()) {
        simulator->transponderModeToggle();
    }
}

void MainWindow::onPrivateMessageRequested(const QString& target, const QString& message) {
    if (m_networkManager) {
        m_networkManager->sendPrivateMessage(target, message);
    }
}

void MainWindow::onRadioMessageRequested(const QString& message) {
    if (m_networkManager) {
        m_networkManager->sendRadioMessage(message);
    }
}

void MainWindow::onWallopRequested(const QString& message) {
    if (m_networkManager) {
        m_networkManager->sendWallop(message);
    }
}

void MainWindow::onMessageSoundRequested(const QString& /*type*/, int priority) {
    static constexpr double volumes[2] = {SoundVolume, UrgentSoundVolume};
    playNotificationSound(QUrl(QString::fromLatin1(MessageSound)), volumes[priority >= 2 ? 1 : 0]);
}

void MainWindow::playNotificationSound(const QUrl& source, double volume) {
    createMediaPlayer();
    if (!m_mediaPlayer || !m_audioOutput) {
        return;
    }
    m_audioOutput->setVolume(static_cast<float>(volume));
    // A new sound cuts off the one playing.
    m_mediaPlayer->stop();
    if (m_mediaPlayer->source() != source) {
        m_mediaPlayer->setSource(source);
    }
    m_mediaPlayer->setPosition(0);
    m_mediaPlayer->play();
}

} // namespace velk::ui
