#pragma once

#include "ui/viewmodel/StampedLog.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

namespace velk::ui {

// The server page's connection form (callsign, type code, SELCAL, observer,
// coordinated voice) with its validation and type-code suggestions, the
// server connection state, the server log and the recent events. Connect and
// disconnect leave as request signals; the main window feeds everything else.
class ServerPageViewModel : public QObject {
    Q_OBJECT

    Q_PROPERTY(bool serverConnected READ serverConnected NOTIFY serverStateChanged)
    Q_PROPERTY(QString serverStatusText READ serverStatusText NOTIFY serverStateChanged)
    Q_PROPERTY(QString endpoint READ endpoint NOTIFY endpointChanged)
    Q_PROPERTY(QString protocolLabel READ protocolLabel NOTIFY protocolChanged)
    Q_PROPERTY(QString currentMode READ currentMode NOTIFY formChanged)
    Q_PROPERTY(QString platformLabel READ platformLabel NOTIFY formChanged)
    Q_PROPERTY(QString connectActionLabel READ connectActionLabel NOTIFY formChanged)
    Q_PROPERTY(QString modeHintText READ modeHintText NOTIFY formChanged)
    Q_PROPERTY(QString callsign READ callsign WRITE setCallsign NOTIFY formChanged)
    Q_PROPERTY(QString typeCode READ typeCode WRITE setTypeCode NOTIFY formChanged)
    Q_PROPERTY(QString selcal READ selcal WRITE setSelcal NOTIFY formChanged)
    Q_PROPERTY(bool observerMode READ observerMode WRITE setObserverMode NOTIFY formChanged)
    Q_PROPERTY(bool coordinatedVoice READ coordinatedVoice WRITE setCoordinatedVoice NOTIFY formChanged)
    Q_PROPERTY(bool typeCodeRequired READ typeCodeRequired NOTIFY formChanged)
    Q_PROPERTY(bool connectedAsObserver READ connectedAsObserver NOTIFY serverStateChanged)
    Q_PROPERTY(bool canConnect READ canConnect NOTIFY formChanged)
    Q_PROPERTY(QString formErrorText READ formErrorText NOTIFY formChanged)
    Q_PROPERTY(QString serverLog READ serverLog NOTIFY logChanged)
    Q_PROPERTY(QVariantList recentEvents READ recentEvents NOTIFY recentEventsChanged)
    Q_PROPERTY(QVariantList typeCodeSuggestions READ typeCodeSuggestions NOTIFY typeCodeSuggestionsChanged)
    // The form is read-only while a connection is being made or stands, so
    // the values of the running session cannot drift from what is shown.
    Q_PROPERTY(bool formLocked READ formLocked NOTIFY serverStateChanged)

public:
    explicit ServerPageViewModel(QObject* parent = nullptr);

    static constexpr int MaxRecentEvents = 8;
    static constexpr int MaxSuggestions = 8;
    static constexpr int MaxLogLines = 500;

    bool serverConnected() const { return m_serverConnected; }
    QString serverStatusText() const { return m_serverStatusText; }
    QString endpoint() const { return m_endpoint; }
    QString protocolLabel() const { return m_protocolLabel; }
    QString currentMode() const { return m_currentMode; }
    QString platformLabel() const { return m_platformLabel; }
    QString connectActionLabel() const { return m_connectActionLabel; }
    QString modeHintText() const { return m_modeHintText; }
    QString callsign() const { return m_callsign; }
    QString typeCode() const { return m_typeCode; }
    QString selcal() const { return m_selcal; }
    bool observerMode() const { return m_observerMode; }
    bool coordinatedVoice() const { return m_coordinatedVoice; }
    bool typeCodeRequired() const { return m_typeCodeRequired; }
    bool connectedAsObserver() const { return m_connectedAsObserver; }
    bool canConnect() const { return formErrorText().isEmpty(); }
    QString formErrorText() const;
    QString serverLog() const { return m_serverLog.text(); }
    QVariantList recentEvents() const { return m_recentEvents; }
    QVariantList typeCodeSuggestions() const { return m_typeCodeSuggestions; }
    bool formLocked() const;

    // Form writes; ignored while the form is locked.
    void setCallsign(const QString& callsign);
    void setTypeCode(const QString& typeCode);
    void setSelcal(const QString& selcal);
    void setObserverMode(bool observer);
    void setCoordinatedVoice(bool enabled);

    // --- Fed by the main window ---------------------------------------------
    void setCurrentMode(const QString& mode);
    void setServerState(bool connected, const QString& statusText);
    // `observer` is the flag the session was opened with
    // (NetworkManager::connectInfo().observerMode), not the form's.
    void setConnectedCallsign(const QString& callsign, bool observer);
    void setEndpoint(const QString& host, int port);
    void setProtocol(bool vatsim);
    void appendLog(const QString& text);
    void addRecentEvent(const QString& title, const QString& detail, const QString& tag);

    Q_INVOKABLE void clearServerLog();
    Q_INVOKABLE void refreshTypeCodeSuggestions(QString query);
    Q_INVOKABLE void applyTypeCodeSuggestion(QString designator);

signals:
    void serverStateChanged();
    void endpointChanged();
    void protocolChanged();
    void formChanged();
    void logChanged();
    void recentEventsChanged();
    void typeCodeSuggestionsChanged();
    void connectRequested(QString callsign, QString typeCode, QString selcal, bool observer);
    void disconnectRequested();

public slots:
    void requestConnect();
    void requestDisconnect();

private:
    void refreshModeTexts();
    void clearSuggestions();

    bool m_serverConnected = false;
    QString m_serverStatusText;
    QString m_endpoint;
    QString m_protocolLabel;
    QString m_currentMode;
    QString m_platformLabel;
    QString m_connectActionLabel;
    QString m_modeHintText;
    QString m_callsign;
    QString m_typeCode;
    QString m_selcal;
    bool m_observerMode = false;
    bool m_coordinatedVoice = false;
    bool m_typeCodeRequired = true;
    bool m_connectedAsObserver = false;
    StampedLog m_serverLog{MaxLogLines};
    QVariantList m_recentEvents;
    QVariantList m_typeCodeSuggestions;
};

} // namespace velk::ui
