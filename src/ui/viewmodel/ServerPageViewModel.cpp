#include "ui/viewmodel/ServerPageViewModel.h"

#include "fsd/pdu/PDUFields.h"
#include "network/SwiftAircraftIcaoService.h"
#include "ui/viewmodel/PropertyStore.h"

#include <QStringList>
#include <QTime>
#include <QVariantMap>

namespace velk::ui {

namespace {

const QString kConnecting = QStringLiteral("连接中...");
const QString kDisconnecting = QStringLiteral("断开中...");

QString clockText() {
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
}

} // namespace

ServerPageViewModel::ServerPageViewModel(QObject* parent)
    : QObject(parent), m_serverStatusText(QStringLiteral("未连接")),
      m_protocolLabel(QStringLiteral("经典协议")), m_currentMode(QStringLiteral("NONE")) {
    refreshModeTexts();
}

QString ServerPageViewModel::formErrorText() const {
    if (m_serverConnected) {
        return {};
    }
    if (m_serverStatusText == kConnecting) {
        return QStringLiteral("正在连接服务器，请等待当前连接完成。");
    }
    if (m_serverStatusText == kDisconnecting) {
        return QStringLiteral("正在断开服务器，请稍后再连接。");
    }
    if (m_callsign.isEmpty()) {
        return QStringLiteral("请先填写呼号。");
    }
    if (!fsd::pdu::isValidCallsign(m_callsign)) {
        return QStringLiteral("呼号只能包含 A-Z、0-9 和下划线，长度 2-12 位，不能包含空格或中文。");
    }
    if (m_typeCodeRequired && m_typeCode.trimmed().isEmpty()) {
        return QStringLiteral("飞行员模式需要填写机型代码。");
    }
    return {};
}

bool ServerPageViewModel::formLocked() const {
    return m_serverConnected || m_serverStatusText == kConnecting;
}

void ServerPageViewModel::setCallsign(const QString& callsign) {
    if (!formLocked() && storeIfChanged(m_callsign, callsign.trimmed().toUpper())) {
        emit formChanged();
    }
}

void ServerPageViewModel::setTypeCode(const QString& typeCode) {
    if (!formLocked() && storeIfChanged(m_typeCode, typeCode.trimmed().toUpper())) {
        refreshTypeCodeSuggestions(m_typeCode);
        emit formChanged();
    }
}

void ServerPageViewModel::setSelcal(const QString& selcal) {
    if (!formLocked() && storeIfChanged(m_selcal, selcal.trimmed().toUpper())) {
        emit formChanged();
    }
}

void ServerPageViewModel::setObserverMode(bool observer) {
    if (formLocked() || !storeIfChanged(m_observerMode, observer)) {
        return;
    }
    if (observer) {
        clearSuggestions();
    }
    refreshModeTexts();
    emit formChanged();
}

void ServerPageViewModel::setCoordinatedVoice(bool enabled) {
    if (!formLocked() && storeIfChanged(m_coordinatedVoice, enabled)) {
        emit formChanged();
    }
}

void ServerPageViewModel::setCurrentMode(const QString& mode) {
    if (storeIfChanged(m_currentMode, mode.trimmed().toUpper())) {
        refreshModeTexts();
        emit formChanged();
    }
}

void ServerPageViewModel::setServerState(bool connected, const QString& statusText) {
    bool changed = storeIfChanged(m_serverConnected, connected);
    changed |= storeIfChanged(m_serverStatusText, statusText);
    if (!connected && m_connectedAsObserver) {
        m_connectedAsObserver = false;
        changed = true;
    }
    if (changed) {
        emit serverStateChanged();
        emit formChanged();
    }
}

void ServerPageViewModel::setConnectedCallsign(const QString& callsign, bool observer) {
    bool changed = false;
    const QString normalized = callsign.trimmed().toUpper();
    if (!normalized.isEmpty()) {
        changed |= storeIfChanged(m_callsign, normalized);
    }
    if (storeIfChanged(m_observerMode, observer)) {
        if (observer) {
            clearSuggestions();
        }
        refreshModeTexts();
        changed = true;
    }
    if (storeIfChanged(m_connectedAsObserver, observer)) {
        emit serverStateChanged();
    }
    if (changed) {
        emit formChanged();
    }
}

void ServerPageViewModel::setEndpoint(const QString& host, int port) {
    if (storeIfChanged(m_endpoint, QStringLiteral("%1:%2").arg(host).arg(port))) {
        emit endpointChanged();
    }
}

void ServerPageViewModel::setProtocol(bool vatsim) {
    if (storeIfChanged(m_protocolLabel,
                       vatsim ? QStringLiteral("VATSIM 协议") : QStringLiteral("经典协议"))) {
        emit protocolChanged();
    }
}

void ServerPageViewModel::appendLog(const QString& text) {
    m_serverLog.append(QDateTime::currentDateTime(), text);
    emit logChanged();
}

void ServerPageViewModel::addRecentEvent(const QString& title, const QString& detail, const QString& tag) {
    m_recentEvents.prepend(QVariantMap{{QStringLiteral("time"), clockText()},
                                       {QStringLiteral("title"), title},
                                       {QStringLiteral("detail"), detail},
                                       {QStringLiteral("tag"), tag}});
    while (m_recentEvents.size() > MaxRecentEvents) {
        m_recentEvents.removeLast();
    }
    emit recentEventsChanged();
}

void ServerPageViewModel::clearServerLog() {
    if (m_serverLog.isEmpty() && m_recentEvents.isEmpty()) {
        return;
    }
    if (!m_serverLog.isEmpty()) {
        m_serverLog.clear();
        emit logChanged();
    }
    if (!m_recentEvents.isEmpty()) {
        m_recentEvents.clear();
        emit recentEventsChanged();
    }
    addRecentEvent(QStringLiteral("日志已清空"), QStringLiteral("服务器日志和最近事件已重置。"),
                   QStringLiteral("系统"));
}

void ServerPageViewModel::refreshTypeCodeSuggestions(QString query) {
    const QString normalized = query.trimmed().toUpper();
    if (m_observerMode || normalized.isEmpty()) {
        clearSuggestions();
        return;
    }
    auto* database = network::SwiftAircraftIcaoService::instance();
    database->ensureReady();
    QVariantList suggestions;
    for (const QString& designator : database->searchDesignators(normalized, MaxSuggestions)) {
        const auto records = database->recordsForDesignator(designator);
        const network::AircraftIcaoRecord first =
            records.isEmpty() ? network::AircraftIcaoRecord{} : records.first();
        QStringList parts;
        for (const QString& part : {first.manufacturer.trimmed(), first.model.trimmed()}) {
            if (!part.isEmpty()) {
                parts << part;
            }
        }
        if (!first.wakeTurbulenceCategory.trimmed().isEmpty()) {
            parts << QStringLiteral("WTC %1").arg(first.wakeTurbulenceCategory.trimmed());
        }
        suggestions.append(QVariantMap{{QStringLiteral("designator"), designator},
                                       {QStringLiteral("title"), designator},
                                       {QStringLiteral("detail"), parts.join(QStringLiteral(" · "))}});
    }
    if (storeIfChanged(m_typeCodeSuggestions, suggestions)) {
        emit typeCodeSuggestionsChanged();
    }
}

void ServerPageViewModel::applyTypeCodeSuggestion(QString designator) {
    const QString normalized = designator.trimmed().toUpper();
    if (normalized.isEmpty() || formLocked()) {
        return;
    }
    m_typeCode = normalized;
    clearSuggestions();
    emit formChanged();
}

void ServerPageViewModel::requestConnect() {
    emit connectRequested(m_callsign, m_typeCode, m_selcal, m_observerMode);
}

void ServerPageViewModel::requestDisconnect() {
    emit disconnectRequested();
}

void ServerPageViewModel::refreshModeTexts() {
    const bool msfs = m_currentMode == QLatin1String("MSFS");
    const bool xplane = m_currentMode == QLatin1String("XPLANE");
    if (msfs) {
        m_platformLabel = QStringLiteral("Microsoft Flight Simulator");
        m_connectActionLabel =
            m_observerMode ? QStringLiteral("以观察员连接 MSFS") : QStringLiteral("连接 MSFS 网络");
        m_modeHintText = m_observerMode ? QStringLiteral("观察员模式会自动规范呼号，并跳过机型代码要求。")
                                        : QStringLiteral("MSFS 飞行模式需要填写呼号和机型代码。");
    } else if (xplane) {
        m_platformLabel = QStringLiteral("X-Plane");
        m_connectActionLabel =
            m_observerMode ? QStringLiteral("以观察员连接 X-Plane") : QStringLiteral("连接 X-Plane 网络");
        m_modeHintText = m_observerMode ? QStringLiteral("适合监听和观察，同时保持 X-Plane 插件在线。")
                                        : QStringLiteral("连接前建议先确认插件版本、CSL 配置和无线电状态。");
    } else {
        m_platformLabel = QStringLiteral("未选择平台");
        m_connectActionLabel = QStringLiteral("连接网络");
        m_modeHintText = QStringLiteral("请先选择模拟器平台。");
    }
    m_typeCodeRequired = !m_observerMode;
}

void ServerPageViewModel::clearSuggestions() {
    if (!m_typeCodeSuggestions.isEmpty()) {
        m_typeCodeSuggestions.clear();
        emit typeCodeSuggestionsChanged();
    }
}

} // namespace velk::ui
