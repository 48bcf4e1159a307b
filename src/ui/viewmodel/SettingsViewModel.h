#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace velk {
class AppConfig;
struct ConfigWrite;
} // namespace velk

namespace velk::ui::viewmodel {

class VoiceSettingsViewModel;

// The settings page: account, profile, X-Plane and MSFS settings of
// config.ini as editable copies, written back in one go by saveAll() (the
// voice settings first), the MSFS model-library rescan and the build
// information. Nothing reaches the configuration store before saveAll().
class SettingsViewModel : public QObject {
    Q_OBJECT

    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY settingsChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY settingsChanged)
    Q_PROPERTY(bool rememberPassword READ rememberPassword WRITE setRememberPassword NOTIFY settingsChanged)
    Q_PROPERTY(bool autoLogin READ autoLogin WRITE setAutoLogin NOTIFY settingsChanged)
    Q_PROPERTY(bool vatsimProtocol READ vatsimProtocol WRITE setVatsimProtocol NOTIFY settingsChanged)
    Q_PROPERTY(QString realname READ realname WRITE setRealname NOTIFY settingsChanged)
    Q_PROPERTY(QString homeAirport READ homeAirport WRITE setHomeAirport NOTIFY settingsChanged)
    Q_PROPERTY(int xplaneUdpPort READ xplaneUdpPort WRITE setXplaneUdpPort NOTIFY settingsChanged)
    Q_PROPERTY(QString xplaneNetworkAddress READ xplaneNetworkAddress WRITE setXplaneNetworkAddress NOTIFY
                   settingsChanged)
    Q_PROPERTY(
        QString xplaneCslPathsText READ xplaneCslPathsText WRITE setXplaneCslPathsText NOTIFY settingsChanged)
    Q_PROPERTY(QString msfsPackagesPath2020 READ msfsPackagesPath2020 WRITE setMsfsPackagesPath2020 NOTIFY
                   settingsChanged)
    Q_PROPERTY(QString msfsCommunityPath2020 READ msfsCommunityPath2020 WRITE setMsfsCommunityPath2020 NOTIFY
                   settingsChanged)
    Q_PROPERTY(QString msfsPackagesPath2024 READ msfsPackagesPath2024 WRITE setMsfsPackagesPath2024 NOTIFY
                   settingsChanged)
    Q_PROPERTY(QString msfsCommunityPath2024 READ msfsCommunityPath2024 WRITE setMsfsCommunityPath2024 NOTIFY
                   settingsChanged)
    Q_PROPERTY(QString msfsCustomMappingPaths2020 READ msfsCustomMappingPaths2020 WRITE
                   setMsfsCustomMappingPaths2020 NOTIFY settingsChanged)
    Q_PROPERTY(QString msfsCustomMappingPaths2024 READ msfsCustomMappingPaths2024 WRITE
                   setMsfsCustomMappingPaths2024 NOTIFY settingsChanged)
    Q_PROPERTY(int msfsLibraryReloadToken READ msfsLibraryReloadToken NOTIFY settingsChanged)
    Q_PROPERTY(QString apiBaseUrl READ apiBaseUrl CONSTANT)
    Q_PROPERTY(QString networkAddress READ networkAddress CONSTANT)
    Q_PROPERTY(QString voiceAddress READ voiceAddress CONSTANT)
    Q_PROPERTY(QString appVersion READ appVersion CONSTANT)
    Q_PROPERTY(QString saveStatus READ saveStatus NOTIFY saveStatusChanged)
    // The status line reports a refused or failed save, or a bad config.ini.
    Q_PROPERTY(bool saveFailed READ saveFailed NOTIFY saveStatusChanged)

public:
    // `voiceSettings` may be null (its section then saves nothing).
    explicit SettingsViewModel(VoiceSettingsViewModel* voiceSettings, QObject* parent = nullptr);

    QString username() const { return m_username; }
    QString password() const { return m_password; }
    bool rememberPassword() const { return m_rememberPassword; }
    bool autoLogin() const { return m_autoLogin; }
    bool vatsimProtocol() const { return m_vatsimProtocol; }
    QString realname() const { return m_realname; }
    QString homeAirport() const { return m_homeAirport; }
    int xplaneUdpPort() const { return m_xplaneUdpPort; }
    QString xplaneNetworkAddress() const { return m_xplaneNetworkAddress; }
    QString xplaneCslPathsText() const { return m_xplaneCslPathsText; }
    QString msfsPackagesPath2020() const { return m_msfsPackagesPath2020; }
    QString msfsCommunityPath2020() const { return m_msfsCommunityPath2020; }
    QString msfsPackagesPath2024() const { return m_msfsPackagesPath2024; }
    QString msfsCommunityPath2024() const { return m_msfsCommunityPath2024; }
    QString msfsCustomMappingPaths2020() const { return m_msfsCustomMappingPaths2020; }
    QString msfsCustomMappingPaths2024() const { return m_msfsCustomMappingPaths2024; }
    int msfsLibraryReloadToken() const { return m_msfsLibraryReloadToken; }
    QString apiBaseUrl() const;
    QString networkAddress() const;
    QString voiceAddress() const;
    QString appVersion() const;
    QString saveStatus() const { return m_saveStatus; }
    bool saveFailed() const { return m_saveFailed; }

    // Trimmed on the way in.
    void setUsername(const QString& value);
    void setRealname(const QString& value);
    void setHomeAirport(const QString& value);
    void setXplaneNetworkAddress(const QString& value);
    void setMsfsPackagesPath2020(const QString& value);
    void setMsfsCommunityPath2020(const QString& value);
    void setMsfsPackagesPath2024(const QString& value);
    void setMsfsCommunityPath2024(const QString& value);
    // Kept exactly as written.
    void setPassword(const QString& value);
    void setXplaneCslPathsText(const QString& value);
    void setMsfsCustomMappingPaths2020(const QString& value);
    void setMsfsCustomMappingPaths2024(const QString& value);
    void setRememberPassword(bool value);
    void setAutoLogin(bool value);
    void setVatsimProtocol(bool value);
    void setXplaneUdpPort(int value);

    // One path per piece of text split at line breaks and ';' (a comma may
    // stand in a folder name); pieces trimmed, empty ones and repeats dropped.
    static QStringList splitPathList(const QString& text);

    // The first field out of its range, voice settings included, as the
    // status line names it; empty when every field holds.
    QString problem() const;

public slots:
    void reload();
    void saveAll();
    void triggerMsfsLibraryReload();
    void triggerMSFSLibraryReload() { triggerMsfsLibraryReload(); }

signals:
    void settingsChanged();
    void saveStatusChanged();

private:
    void setTrimmed(QString& field, const QString& value);
    template <typename T> void setSetting(T& field, const T& value);
    void setStatus(const QString& text, bool failed = false);
    // The page's keys as it holds them, the voice section's among them.
    QList<ConfigWrite> writes() const;

    AppConfig* m_config;
    VoiceSettingsViewModel* m_voiceSettings;
    QString m_username;
    QString m_password;
    bool m_rememberPassword = false;
    bool m_autoLogin = false;
    bool m_vatsimProtocol = false;
    QString m_realname;
    QString m_homeAirport;
    int m_xplaneUdpPort = 49000;
    QString m_xplaneNetworkAddress = QStringLiteral("127.0.0.1");
    QString m_xplaneCslPathsText;
    QString m_msfsPackagesPath2020;
    QString m_msfsCommunityPath2020;
    QString m_msfsPackagesPath2024;
    QString m_msfsCommunityPath2024;
    QString m_msfsCustomMappingPaths2020;
    QString m_msfsCustomMappingPaths2024;
    int m_msfsLibraryReloadToken = 0;
    QString m_saveStatus;
    bool m_saveFailed = false;
};

} // namespace velk::ui::viewmodel
