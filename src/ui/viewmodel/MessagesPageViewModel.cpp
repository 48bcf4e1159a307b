#include "ui/viewmodel/MessagesPageViewModel.h"

#include "fsd/pdu/PDUFields.h"
#include "model/AircraftState.h"
#include "model/Controller.h"
#include "ui/viewmodel/MessageChannels.h"

#include <QDateTime>
#include <QDebug>
#include <QHash>
#include <QVariantMap>

#include <algorithm>

namespace velk::ui {

using namespace messages;

namespace {

const QString kIn = QStringLiteral("in");
const QString kOut = QStringLiteral("out");
const QString kSystem = QStringLiteral("system");
const QString kMe = QStringLiteral("我");
const QString kAll = QStringLiteral("ALL");

// Why a text stays in the compose box: the notice shown, the log line's reason.
struct Refusal {
    QString notice;
    const char* log;
};
const Refusal kNotConnected{QStringLiteral("网络未连接，消息未发送。"), "not connected"};
const Refusal kNoTransmitter{QStringLiteral("没有处于发射状态的 COM 电台，无线电消息未发送。"),
                             "no COM radio transmits"};
const Refusal kBadRecipient{QStringLiteral("收件人呼号无效（不能为空，不能含空格或冒号），私聊消息未发送。"),
                            "recipient is not one callsign"};

QString radioMeta(const QStringList& frequencies, bool isDirect) {
    return frequencies.join(QStringLiteral(", ")) + (isDirect ? QStringLiteral(" | 定向呼叫") : QString());
}

} // namespace

MessagesPageViewModel::MessagesPageViewModel(QObject* parent)
    : QObject(parent), m_activeChannel(Server), m_activeFilter(kAll),
      m_summaryText(QStringLiteral("暂无消息")) {}

// --- Reading ------------------------------------------------------------------

bool MessagesPageViewModel::messageMatchesChannel(const MessageRecord& record, const QString& key) {
    return key == Private ? record.isPrivate() : record.channel == key;
}

QVariantList MessagesPageViewModel::messages() const {
    QVariantList list;
    list.reserve(m_messages.size());
    for (const MessageRecord& record : m_messages) {
        list.append(record.toMap());
    }
    return list;
}

QVariantList MessagesPageViewModel::filteredMessages() const {
    if (m_activeFilter == kAll) {
        return messages();
    }
    const QString& f = m_activeFilter;
    QVariantList list;
    for (const MessageRecord& r : m_messages) {
        const bool passes =
            (f == Private && r.isPrivate()) ||
            (f == Radio && (r.type == QLatin1String("radio_in") || r.type == QLatin1String("radio_out"))) ||
            (f == Server && (r.type == QLatin1String("server") || r.type == kSystem)) || r.channel == f;
        if (passes) {
            list.append(r.toMap());
        }
    }
    return list;
}

QVariantList MessagesPageViewModel::recordsOf(const QString& key) const {
    QVariantList list;
    for (const MessageRecord& record : m_messages) {
        if (messageMatchesChannel(record, key)) {
            list.append(record.toMap());
        }
    }
    return list;
}

int MessagesPageViewModel::unreadOf(const QString& key) const {
    return static_cast<int>(
        std::count_if(m_messages.cbegin(), m_messages.cend(),
                      [&](const MessageRecord& r) { return r.unread && messageMatchesChannel(r, key); }));
}

QVariantList MessagesPageViewModel::messagesForChannel(QString channel) const {
    return recordsOf(normalizeChannelKey(channel));
}

int MessagesPageViewModel::unreadForChannel(QString channel) const {
    return unreadOf(normalizeChannelKey(channel));
}

QVariantList MessagesPageViewModel::activeMessages() const {
    return recordsOf(m_activeChannel);
}

QVariantList MessagesPageViewModel::channels() const {
    QVariantList list;
    for (const QString& key : fixedChannels()) {
        list.append(QVariantMap{
            {QStringLiteral("key"), key},
            {QStringLiteral("label"), channelLabel(key)},
            {QStringLiteral("active"), key == m_activeChannel},
            {QStringLiteral("unread"), unreadOf(key)},
            {QStringLiteral("canSend"), key == Radio || key == Wallop},
            {QStringLiteral("fixed"), true},
        });
    }
    return list;
}

QVariantList MessagesPageViewModel::privateSessions() const {
    // One pass over the records for all conversations: a conversation's
    // records are those filed under its key.
    struct Tally {
        int unread = 0;
        const MessageRecord* newest = nullptr;
    };
    QHash<QString, Tally> tallies;
    for (const QString& key : m_sessionKeys) {
        tallies.insert(key, {});
    }
    for (const MessageRecord& record : m_messages) {
        const auto it = tallies.find(record.channel);
        if (it == tallies.end()) {
            continue;
        }
        it->unread += record.unread ? 1 : 0;
        if (it->newest == nullptr) {
            it->newest = &record;
        }
    }
    QVariantList list;
    for (const QString& key : m_sessionKeys) {
        const Tally& tally = tallies[key];
        QVariantMap entry{
            {QStringLiteral("key"), key},
            {QStringLiteral("callsign"), callsignOfKey(key)},
            {QStringLiteral("unread"), tally.unread},
        };
        if (tally.newest != nullptr) {
            entry.insert(QStringLiteral("lastMessage"), tally.newest->message);
            entry.insert(QStringLiteral("lastTime"), tally.newest->time);
        }
        list.append(entry);
    }
    return list;
}

bool MessagesPageViewModel::isSendable(const QString& key) {
    return key == Radio || key == Wallop || !isFixedChannel(key);
}

bool MessagesPageViewModel::activeChannelCanSend() const {
    return m_networkConnected && isSendable(m_activeChannel);
}

QString MessagesPageViewModel::activeChannelTitle() const {
    if (isFixedChannel(m_activeChannel)) {
        return channelLabel(m_activeChannel);
    }
    return QStringLiteral("私聊 %1").arg(callsignOfKey(m_activeChannel));
}

QString MessagesPageViewModel::composePlaceholder() const {
    if (!m_networkConnected) {
        return QStringLiteral("网络未连接");
    }
    if (m_activeChannel == Radio) {
        return QStringLiteral("发送无线电文本消息...");
    }
    if (m_activeChannel == Wallop) {
        return QStringLiteral("发送 WALLOP 管理员报告...");
    }
    if (isFixedChannel(m_activeChannel)) {
        return QStringLiteral("当前频道只读");
    }
    return QStringLiteral("发送私聊消息给 %1...").arg(callsignOfKey(m_activeChannel));
}

// --- Writing from the page ----------------------------------------------------

void MessagesPageViewModel::setActiveChannel(const QString& channel) {
    const QString key = normalizeChannelKey(channel);
    if (key == m_activeChannel) {
        markChannelRead(key);
        return;
    }
    m_activeChannel = key;
    markChannelRead(key);
    emit activeChannelChanged();
    emit activeMessagesChanged();
    emit composeChanged();
    // The rows' active flags moved.
    emit channelStatsChanged();
}

void MessagesPageViewModel::setDraftTarget(const QString& target) {
    const QString key = normalizeChannelKey(target);
    if (key != m_draftTarget) {
        m_draftTarget = key;
        emit composeChanged();
    }
}

void MessagesPageViewModel::setDraftMessage(const QString& message) {
    if (message != m_draftMessage) {
        m_draftMessage = message;
        emit composeChanged();
    }
}

void MessagesPageViewModel::clearDraftMessage() {
    setDraftMessage(QString());
}

void MessagesPageViewModel::setActiveFilter(const QString& filter) {
    QString value = filter.trimmed().toUpper();
    if (value.isEmpty()) {
        value = kAll;
    }
    if (value == m_activeFilter) {
        return;
    }
    m_activeFilter = value;
    emit composeChanged();
    emit messagesChanged();
    emit activeMessagesChanged();
}

void MessagesPageViewModel::setPageVisible(bool visible) {
    if (visible == m_pageVisible) {
        return;
    }
    m_pageVisible = visible;
    emit pageVisibleChanged();
    // What the page now shows has been seen.
    if (visible) {
        markChannelRead(m_activeChannel);
    }
}

void MessagesPageViewModel::clearMessages() {
    if (m_messages.isEmpty()) {
        return;
    }
    m_messages.clear();
    updateSummaryText();
    updateUnreadCount();
    emit messagesChanged();
    emit activeMessagesChanged();
    emit channelStatsChanged();
    emit sessionsChanged();
}

// --- Sending ------------------------------------------------------------------

// Whether a text for `key` must stay in the compose box; if so, a notice in
// that channel says why. The session manager would drop it for the same reasons.
bool MessagesPageViewModel::refuseSend(const QString& key) {
    const Refusal* reason = nullptr;
    if (!isFixedChannel(key) && !fsd::pdu::isAddressField(callsignOfKey(key))) {
        reason = &kBadRecipient;
    } else if (!m_networkConnected) {
        reason = &kNotConnected;
    } else if (key == Radio && !m_radioTransmitting) {
        reason = &kNoTransmitter;
    }
    if (reason == nullptr) {
        return false;
    }
    qInfo().noquote() << "Messages: text to" << key << "not sent:" << reason->log;
    appendMessage({.type = kSystem,
                   .from = QStringLiteral("系统"),
                   .message = reason->notice,
                   .channel = key,
                   .direction = kSystem});
    return true;
}

void MessagesPageViewModel::sendRadioMessage(QString message) {
    const QString text = message.trimmed();
    if (text.isEmpty() || refuseSend(Radio)) {
        return;
    }
    emit radioMessageRequested(text);
    clearDraftMessage();
}

void MessagesPageViewModel::sendWallopMessage(QString message) {
    const QString text = message.trimmed();
    if (text.isEmpty() || refuseSend(Wallop)) {
        return;
    }
    emit wallopRequested(text);
    clearDraftMessage();
}

void MessagesPageViewModel::sendPrivateMessage(QString target, QString message) {
    const QString key = normalizeChannelKey(target);
    const QString text = message.trimmed();
    if (isFixedChannel(key) || text.isEmpty()) {
        return;
    }
    openConversation(key);
    if (refuseSend(key)) {
        return;
    }
    emit privateMessageRequested(callsignOfKey(key), text);
    setDraftTarget(key);
    clearDraftMessage();
}

void MessagesPageViewModel::prepareReply(QString target) {
    const QString key = conversationKey(target);
    if (key.isEmpty()) {
        return;
    }
    openConversation(key);
    setActiveChannel(key);
    setDraftTarget(key);
}

// --- Conversations ------------------------------------------------------------

void MessagesPageViewModel::openPrivateSession(QString callsign) {
    const QString key = conversationKey(callsign);
    if (!key.isEmpty()) {
        openConversation(key);
    }
}

void MessagesPageViewModel::openConversation(const QString& key) {
    if (m_sessionKeys.contains(key)) {
        return;
    }
    if (m_sessionKeys.size() >= MaxConversations) {
        dropConversationForRoom();
    }
    m_sessionKeys.append(key);
    emit sessionsChanged();
    emit channelStatsChanged();
}

// The oldest conversation that is neither selected nor holding unread
// records goes; when every one holds unread records, the oldest unselected
// one. Its records stay under "PRIVATE".
void MessagesPageViewModel::dropConversationForRoom() {
    qsizetype victim = -1;
    for (qsizetype i = 0; i < m_sessionKeys.size(); ++i) {
        const QString& key = m_sessionKeys.at(i);
        if (key == m_activeChannel) {
            continue;
        }
        if (unreadOf(key) == 0) {
            victim = i;
            break;
        }
        if (victim < 0) {
            victim = i;
        }
    }
    if (victim >= 0) {
        qInfo().noquote() << "Messages: conversation" << m_sessionKeys.at(victim) << "closed to make room";
        m_sessionKeys.removeAt(victim);
    }
}

void MessagesPageViewModel::closePrivateSession(QString callsign) {
    const QString key = conversationKey(callsign);
    if (key.isEmpty() || !m_sessionKeys.removeOne(key)) {
        return;
    }
    emit sessionsChanged();
    emit channelStatsChanged();
    if (key == m_activeChannel) {
        setActiveChannel(Server);
    }
}

// --- Events -------------------------------------------------------------------

void MessagesPageViewModel::onServerMessageReceived(const QString& message) {
    appendMessage({.type = QStringLiteral("server"),
                   .from = QStringLiteral("服务器"),
                   .message = message,
                   .channel = Server,
                   .direction = kSystem,
                   .sound = true});
}

void MessagesPageViewModel::appendSystemMessage(const QString& text) {
    appendMessage({.type = kSystem,
                   .from = QStringLiteral("系统"),
                   .message = text,
                   .channel = Server,
                   .direction = kSystem});
}

void MessagesPageViewModel::onPrivateMessageReceived(const QString& from, const QString& message) {
    appendPrivateMessage(false, from, message);
}

void MessagesPageViewModel::onPrivateMessageSent(const QString& to, const QString& message) {
    appendPrivateMessage(true, to, message);
}

// Filed under the station's conversation, opened first. A text without a
// station can be read under "PRIVATE" but not answered.
void MessagesPageViewModel::appendPrivateMessage(bool outgoing, const QString& station,
                                                 const QString& message) {
    const QString key = conversationKey(station);
    if (!key.isEmpty()) {
        openConversation(key);
    }
    const QString callsign = callsignOfKey(key);
    appendMessage({.type = outgoing ? QStringLiteral("private_out") : QStringLiteral("private_in"),
                   .from = outgoing ? kMe : callsign,
                   .to = outgoing ? callsign : kMe,
                   .message = message,
                   .channel = key.isEmpty() ? Private : key,
                   .direction = outgoing ? kOut : kIn,
                   .sound = !outgoing});
}

void MessagesPageViewModel::onBroadcastMessageReceived(const QString& from, const QString& message) {
    appendMessage({.type = QStringLiteral("broadcast"),
                   .from = from.toUpper(),
                   .to = QStringLiteral("全体"),
                   .message = message,
                   .channel = Broadcast,
                   .direction = kIn,
                   .meta = QStringLiteral("全网广播"),
                   .priority = 1,
                   .sound = true});
}

void MessagesPageViewModel::onWallopSent(const QString& message) {
    appendMessage({.type = QStringLiteral("wallop_out"),
                   .from = kMe,
                   .to = Wallop,
                   .message = message,
                   .channel = Wallop,
                   .direction = kOut,
                   .meta = QStringLiteral("管理员报告"),
                   .priority = 1});
}

void MessagesPageViewModel::appendRadioMessage(const QString& from, const QString& message,
                                               const QStringList& frequencies, bool isDirect) {
    appendMessage({.type = QStringLiteral("radio_in"),
                   .from = from.toUpper(),
                   .message = message,
                   .channel = Radio,
                   .direction = kIn,
                   .meta = radioMeta(frequencies, isDirect),
                   .frequencies = frequencies,
                   .isDirect = isDirect,
                   .priority = isDirect ? 1 : 0,
                   .sound = true});
}

void MessagesPageViewModel::appendOwnRadioMessage(const QString& message, const QStringList& frequencies) {
    appendMessage({.type = QStringLiteral("radio_out"),
                   .from = kMe,
                   .message = message,
                   .channel = Radio,
                   .direction = kOut,
                   .meta = radioMeta(frequencies, false),
                   .frequencies = frequencies});
}

void MessagesPageViewModel::appendSelcalAlert(const QString& from, const QStringList& frequencies) {
    appendMessage({.type = QStringLiteral("selcal"),
                   .from = from.toUpper(),
                   .to = kMe,
                   .message = QString(),
                   .channel = Selcal,
                   .direction = kIn,
                   .meta = frequencies.join(QStringLiteral(", ")),
                   .frequencies = frequencies,
                   .isDirect = true,
                   .priority = 2,
                   .sound = true});
}

void MessagesPageViewModel::setNetworkConnected(bool connected) {
    if (connected == m_networkConnected) {
        return;
    }
    m_networkConnected = connected;
    emit networkStateChanged();
    emit composeChanged();
}

void MessagesPageViewModel::onRadioStackStateChanged(const model::RadioStackState& state) {
    m_radioTransmitting = state.com1TransmitEnabled || state.com2TransmitEnabled;
}

// --- Nearby controllers -------------------------------------------------------

void MessagesPageViewModel::onControllerChanged(const model::Controller& controller) {
    if (!controller.isAtc || controller.frequency == model::Controller::NoFrequency) {
        onControllerDeleted(controller);
        return;
    }
    const QString callsign = controller.callsign.trimmed().toUpper();
    if (callsign.isEmpty()) {
        return;
    }
    const QVariantMap entry{
        {QStringLiteral("callsign"), callsign},
        {QStringLiteral("type"), QStringLiteral("atc")},
        {QStringLiteral("frequency"), frequencyText(controller.normalizedFrequency)},
        {QStringLiteral("name"), controller.realName},
    };
    for (QVariant& existing : m_nearbyClients) {
        if (existing.toMap().value(QStringLiteral("callsign")).toString() == callsign) {
            if (existing.toMap() != entry) {
                existing = entry;
                emit nearbyClientsChanged();
            }
            return;
        }
    }
    m_nearbyClients.append(entry);
    emit nearbyClientsChanged();
}

void MessagesPageViewModel::onControllerDeleted(const model::Controller& controller) {
    const QString callsign = controller.callsign.trimmed().toUpper();
    if (callsign.isEmpty()) {
        return;
    }
    for (qsizetype i = 0; i < m_nearbyClients.size(); ++i) {
        if (m_nearbyClients.at(i).toMap().value(QStringLiteral("callsign")).toString() == callsign) {
            m_nearbyClients.removeAt(i);
            emit nearbyClientsChanged();
            return;
        }
    }
}

// --- Insertion and bookkeeping -------------------------------------------------

void MessagesPageViewModel::appendMessage(const Insert& insert) {
    const QDateTime now = QDateTime::currentDateTime();
    MessageRecord record;
    record.id = m_nextMessageId++;
    record.time = now.toString(QStringLiteral("hh:mm:ss"));
    record.timestamp = now.toMSecsSinceEpoch();
    record.type = insert.type;
    record.direction = insert.direction;
    record.channel = normalizeChannelKey(insert.channel);
    record.from = insert.from;
    record.to = insert.to;
    record.message = insert.message;
    record.meta = insert.meta;
    record.frequencies = insert.frequencies;
    record.isDirect = insert.isDirect;
    record.priority = insert.priority;
    // Born read only when the pilot sees it arrive.
    record.unread =
        record.direction == kIn && !(m_pageVisible && messageMatchesChannel(record, m_activeChannel));

    m_messages.prepend(record);
    while (m_messages.size() > MaxMessages) {
        m_messages.removeLast();
    }
    updateSummaryText();
    updateUnreadCount();
    emit messagesChanged();
    emit activeMessagesChanged();
    emit channelStatsChanged();
    emit sessionsChanged();
    if (record.unread && insert.sound) {
        emit messageSoundRequested(record.type, record.priority);
    }
}

void MessagesPageViewModel::updateSummaryText() {
    if (m_messages.isEmpty()) {
        m_summaryText = QStringLiteral("暂无消息");
        return;
    }
    int privateCount = 0;
    int radio = 0;
    int service = 0;
    int alert = 0;
    for (const MessageRecord& r : m_messages) {
        if (r.isPrivate()) {
            ++privateCount;
        } else if (r.channel == Radio) {
            ++radio;
        } else if (r.channel == Server || r.channel == Broadcast || r.channel == Wallop) {
            ++service;
        } else if (r.channel == Selcal) {
            ++alert;
        }
    }
    m_summaryText = QStringLiteral("%1 条消息 | 私聊 %2 | 无线电 %3 | 服务 %4 | 告警 %5")
                        .arg(m_messages.size())
                        .arg(privateCount)
                        .arg(radio)
                        .arg(service)
                        .arg(alert);
}

void MessagesPageViewModel::updateUnreadCount() {
    const int count = static_cast<int>(std::count_if(m_messages.cbegin(), m_messages.cend(),
                                                     [](const MessageRecord& r) { return r.unread; }));
    if (count != m_unreadCount) {
        m_unreadCount = count;
        emit unreadChanged();
    }
}

void MessagesPageViewModel::markChannelRead(const QString& channel) {
    const QString key = normalizeChannelKey(channel);
    bool changed = false;
    for (MessageRecord& record : m_messages) {
        if (record.unread && messageMatchesChannel(record, key)) {
            record.unread = false;
            changed = true;
        }
    }
    if (!changed) {
        return;
    }
    updateUnreadCount();
    emit messagesChanged();
    emit activeMessagesChanged();
    emit sessionsChanged();
    emit channelStatsChanged();
}

} // namespace velk::ui
