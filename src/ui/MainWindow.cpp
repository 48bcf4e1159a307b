#include "ui/MainWindow.h"

#include "AppConfig.h"
#include "common/Deployment.h"
#include "manager/ControllerManager.h"
#include "manager/NetworkManager.h"
#include "ui/QmlTypes.h"
#include "ui/WindowBackdrop.h"
#include "ui/viewmodel/DashboardViewModel.h"

#include <QAudioOutput>
#include <QDebug>
#include <QIcon>
#include <QMediaPlayer>
#include <QQmlContext>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickView>
#include <QRegularExpression>
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

QObject* none() {
    return nullptr;
}

} // namespace

MainWindow::MainWindow(std::shared_ptr<manager::NetworkManager> networkManager,
                       std::shared_ptr<manager::ControllerManager> controllerManager, QWidget* parent)
    : QMainWindow(parent), m_config(AppConfig::instance()), m_networkManager(std::move(networkManager)),
      m_controllerManager(std::move(controllerManager)) {
    m_dashboardViewModel = new DashboardViewModel(this);

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
    // The QML reads the view models and the view models point at the services:
    // tear down in that order, before the base class deletes children in an
    // order of its own.
    delete m_container;
    m_container = nullptr;
    m_view = nullptr;
    delete m_dashboardViewModel;
    m_dashboardViewModel = nullptr;
}

void MainWindow::setupUi() {
    setWindowTitle(QStringLiteral("VELK Client - 控制面板"));
    setWindowIcon(QIcon(QStringLiteral(":/resources/logo.png")));
    setMinimumSize(1000, 700);
    enableWindowBackdrop(this, true);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    setCentralWidget(central);

    // Normally done by main already; the view's engine must find the module.
    registerQmlTypes();

    m_view = new QQuickView();
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->setColor(Qt::transparent);

    // Pages whose view model is not part of this window yet see null.
    QQmlContext* context = m_view->rootContext();
    context->setContextProperty(QStringLiteral("dashboardBackend"), m_dashboardViewModel);
    context->setContextProperty(QStringLiteral("simulatorBackend"), none());
    context->setContextProperty(QStringLiteral("serverBackend"), none());
    context->setContextProperty(QStringLiteral("messagesBackend"), none());
    context->setContextProperty(QStringLiteral("settingsBackend"), none());
    context->setContextProperty(QStringLiteral("voiceSettingsBackend"), none());
    context->setContextProperty(QStringLiteral("voiceBackend"), none());

    m_view->setSource(QUrl(QStringLiteral("qrc:/src/ui/view/Dashboard.qml")));
    for (const QQmlError& error : m_view->errors()) {
        qWarning().noquote() << "MainWindow: dashboard QML:" << error.toString();
    }
    if (QQuickItem* root = m_view->rootObject()) {
        connect(root, SIGNAL(logoutRequested()), this, SLOT(onLogoutClicked()));
    }

    m_container = QWidget::createWindowContainer(m_view, this);
    m_container->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_container);
}

void MainWindow::setupConnections() {
    auto* overview = m_dashboardViewModel;
    connect(overview, &DashboardViewModel::modeChangedRequest, this, &MainWindow::onModeSelected);
    connect(overview, &DashboardViewModel::serverConnectRequest, this, &MainWindow::connectToServer);
    connect(overview, &DashboardViewModel::serverDisconnectRequest, this, &MainWindow::disconnectFromServer);
    connect(overview, &DashboardViewModel::simulatorReconnectRequest, this, &MainWindow::reconnectSimulator);

    if (!m_networkManager) {
        return;
    }
    using manager::NetworkManager;
    NetworkManager* nm = m_networkManager.get();
    connect(nm, &NetworkManager::networkConnected, this, &MainWindow::onNetworkConnected);
    connect(nm, &NetworkManager::networkDisconnected, this, &MainWindow::onNetworkDisconnected);
    connect(nm, &NetworkManager::simulatorConnectionStateChanged, this,
            &MainWindow::onSimulatorConnectionStateChanged);
    connect(nm, &NetworkManager::simulatorConnectionFailed, this, &MainWindow::onSimulatorConnectionFailed);
    connect(nm, &NetworkManager::notificationPosted, this, &MainWindow::onNotificationPosted);
    connect(nm, &NetworkManager::simulatorDataUpdated, this, &MainWindow::onSimulatorDataUpdated);
}

void MainWindow::initServerInfo() {
    qInfo().noquote() << QStringLiteral("MainWindow: FSD endpoint %1:%2, network %3")
                             .arg(fsdHost())
                             .arg(fsdPort())
                             .arg(m_config->value(ConfigKeys::AuthVatsim) ? QStringLiteral("VATSIM")
                                                                          : QStringLiteral("own"));
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

void MainWindow::onLogoutClicked() {
    emit logoutRequested();
}

void MainWindow::onModeSelected(QString mode) {
    if (!m_networkManager) {
        return;
    }
    m_currentMode = mode;
    m_dashboardViewModel->setCurrentMode(mode);
    m_networkManager->disconnectFromNetwork();
    if (mode == QLatin1String("XPLANE")) {
        emit xplaneSelected();
    } else if (mode == QLatin1String("MSFS")) {
        emit msfsSelected();
    } else {
        return;
    }
    m_dashboardViewModel->setSimulatorState(false, QStringLiteral("连接中..."));
}

void MainWindow::connectToServer(const QString& callsign, const QString& typeCode, const QString& selcal,
                                 bool observer) {
    if (!m_networkManager) {
        return;
    }
    if (!m_networkManager->connectToNetwork(callsign, typeCode, selcal, observer)) {
        m_dashboardViewModel->setServerState(false, QStringLiteral("未连接"));
        return;
    }
    m_dashboardViewModel->setServerState(false, QStringLiteral("连接中..."));
    const QString line = QStringLiteral("正在连接 FSD %1:%2，呼号=%3，机型=%4，观察员模式=%5")
                             .arg(fsdHost())
                             .arg(fsdPort())
                             .arg(callsign, typeCode, observer ? QStringLiteral("是") : QStringLiteral("否"));
    m_dashboardViewModel->appendServerLog(line);
}

void MainWindow::disconnectFromServer() {
    if (!m_networkManager) {
        return;
    }
    m_dashboardViewModel->setServerState(false, QStringLiteral("断开中..."));
    m_dashboardViewModel->appendServerLog(QStringLiteral("正在断开 FSD 连接..."));
    m_networkManager->disconnectFromNetwork();
}

void MainWindow::reconnectSimulator() {
    if (!m_networkManager) {
        return;
    }
    m_dashboardViewModel->setSimulatorState(false, QStringLiteral("连接中..."));
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
