#pragma once

#include "ui/viewmodel/MessageRecord.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace velk::model {
struct Controller;
struct RadioStackState;
} // namespace velk::model

namespace velk::ui {

// The message centre behind the messages page: every record of the run,
// the open conversations, unread marks, the compose box and the controllers
// in range. It calls no back end: sends leave as request signals, and an
// outgoing text is recorded only when the session manager reports it sent.
class MessagesPageViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList messages READ messages NOTIFY messagesChanged)
    Q_PROPERTY(QVariantList filteredMessages READ filteredMessages NOTIFY messagesChanged)
    Q_PROPERTY(QVariantList channels READ channels NOTIFY channelStatsChanged)
    Q_PROPERTY(QString activeChannel READ activeChannel WRITE setActiveChannel NOTIFY activeChannelChanged)
    Q_PROPERTY(QVariantList activeMessages READ activeMessages NOTIFY activeMessagesChanged)
    Q_PROPERTY(QVariantList privateSessions READ privateSessions NOTIFY sessionsChanged)
    Q_PROPERTY(QVariantList nearbyClients READ nearbyClients NOTIFY nearbyClientsChanged)
    Q_PROPERTY(QString draftTarget READ draftTarget WRITE setDraftTarget NOTIFY composeChanged)
    Q_PROPERTY(QString draftMessage READ draftMessage WRITE setDraftMessage NOTIFY composeChanged)
    Q_PROPERTY(QString activeFilter READ activeFilter WRITE setActiveFilter NOTIFY composeChanged)
    Q_PROPERTY(QString summaryText READ summaryText NOTIFY messagesChanged)
    Q_PROPERTY(int unreadCount READ unreadCount NOTIFY unreadChanged)
    Q_PROPERTY(bool networkConnected READ networkConnected NOTIFY networkStateChanged)
    Q_PROPERTY(bool activeChannelCanSend READ activeChannelCanSend NOTIFY composeChanged)
    Q_PROPERTY(QString activeChannelTitle READ activeChannelTitle NOTIFY activeChannelChanged)
    Q_PROPERTY(QString composePlaceholder READ composePlaceholder NOTIFY composeChanged)
    // Written by the page: true while it is on screen. Only then is an
    // incoming record of the active channel born read.
    Q_PROPERTY(bool pageVisible READ pageVisible WRITE setPageVisible NOTIFY pageVisibleChanged)

public:
    static constexpr int MaxMessages = 300;
    static constexpr int MaxConversations = 50;

    explicit MessagesPageViewModel(QObject* parent = nullptr);

    QVariantList messages() const;
    QVariantList filteredMessages() const;
    QVariantList channels() const;
    QString activeChannel() const { return m_activeChannel; }
    void setActiveChannel(const QString& channel);
    QVariantList activeMessages() const;
    QVariantList privateSessions() const;
    QVariantList nearbyClients() const { return m_nearbyClients; }
    QString draftTarget() const { return m_draftTarget; }
    void setDraftTarget(const QString& target);
    QString draftMessage() const { return m_draftMessage; }
    void setDraftMessage(const QString& message);
    QString activeFilter() const { return m_activeFilter; }
    void setActiveFilter(const QString& filter);
    QString summaryText() const { return m_summaryText; }
    int unreadCount() const { return m_unreadCount; }
    bool networkConnected() const { return m_networkConnected; }
    bool activeChannelCanSend() const;
    QString activeChannelTitle() const;
    QString composePlaceholder() const;
    bool pageVisible() const { return m_pageVisible; }
    void setPageVisible(bool visible);

    // The open conversation keys, in opening order.
    QStringList privateSessionKeys() const { return m_sessionKeys; }

signals:
    void messagesChanged();
    void channelStatsChanged();
    void activeChannelChanged();
    void activeMessagesChanged();
    void sessionsChanged();
    void unreadChanged();
    void networkStateChanged();
    void nearbyClientsChanged();
    void composeChanged();
    void messageSoundRequested(QString type, int priority);
    void privateMessageRequested(QString target, QString message);
    void radioMessageRequested(QString message);
    void wallopRequested(QString message);
    void pageVisibleChanged();

public:
    Q_INVOKABLE void clearMessages();
    Q_INVOKABLE void sendPrivateMessage(QString target, QString message);
    Q_INVOKABLE void sendRadioMessage(QString message);
    Q_INVOKABLE void sendWallopMessage(QString message);
    // The three below take a station's callsign.
    Q_INVOKABLE void prepareReply(QString target);
    Q_INVOKABLE void openPrivateSession(QString callsign);
    Q_INVOKABLE void closePrivateSession(QString callsign);
    Q_INVOKABLE QVariantList messagesForChannel(QString channel) const;
    Q_INVOKABLE int unreadForChannel(QString channel) const;

    // --- Events, connected or called by the main window ---------------------
    void onServerMessageReceived(const QString& message);
    void onPrivateMessageReceived(const QString& from, const QString& message);
    void onPrivateMessageSent(const QString& to, const QString& message);
    void onBroadcastMessageReceived(const QString& from, const QString& message);
    void onWallopSent(const QString& message);
    // A radio text heard from another station (whatever its callsign).
    void appendRadioMessage(const QString& from, const QString& message, const QStringList& frequencies,
                            bool isDirect);
    // The pilot's own radio text, as the session manager reports it sent.
    void appendOwnRadioMessage(const QString& message, const QStringList& frequencies);
    void appendSelcalAlert(const QString& from, const QStringList& frequencies);
    void appendSystemMessage(const QString& text);
    void setNetworkConnected(bool connected);
    void onControllerChanged(const model::Controller& controller);
    void onControllerDeleted(const model::Controller& controller);
    // Radio texts go out only while a COM radio transmits.
    void onRadioStackStateChanged(const model::RadioStackState& state);

private:
    struct Insert {
        QString type{};
        QString from{};
        QString to{};
        QString message{};
        QString channel{};
        QString direction{};
        QString meta{};
        QStringList frequencies{};
        bool isDirect = false;
        int priority = 0;
        bool sound = false;
    };

    static bool messageMatchesChannel(const MessageRecord& record, const QString& key);
    void appendMessage(const Insert& insert);
    void appendPrivateMessage(bool outgoing, const QString& station, const QString& message);
    bool refuseSend(const QString& key);
    void clearDraftMessage();
    void updateSummaryText();
    void updateUnreadCount();
    void markChannelRead(const QString& channel);
    void openConversation(const QString& key);
    void dropConversationForRoom();
    QVariantList recordsOf(const QString& key) const;
    int unreadOf(const QString& key) const;
    static bool isSendable(const QString& key);

    QList<MessageRecord> m_messages; // newest first
    QStringList m_sessionKeys;
    QString m_activeChannel;
    QVariantList m_nearbyClients;
    QString m_draftTarget;
    QString m_draftMessage;
    QString m_activeFilter;
    QString m_summaryText;
    int m_unreadCount = 0;
    int m_nextMessageId = 1;
    bool m_networkConnected = false;
    bool m_pageVisible = false;
    bool m_radioTransmitting = false;
};

} // namespace velk::ui
