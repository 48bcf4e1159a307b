#include "ui/viewmodel/SettingsViewModel.h"

#include "AppConfig.h"
#include "common/AppVersion.h"
#include "common/Deployment.h"
#include "network/ApiService.h"
#include "ui/viewmodel/PropertyStore.h"
#include "ui/viewmodel/SettingsChecks.h"
#include "ui/viewmodel/VoiceSettingsViewModel.h"

#include <QRegularExpression>

#include <limits>

namespace velk::ui::viewmodel {

namespace {

const QString kLoaded = QStringLiteral("已从 config.ini 加载");
const QString kSaved = QStringLiteral("已保存到 config.ini");
const QString kReloadTriggered = QStringLiteral("已触发 MSFS 机模库重载");
const QString kNewline = QStringLiteral("\n");

bool blankOr(const QString& value, QLatin1String placeholder) {
    const QString trimmed = value.trimmed();
    return trimmed.isEmpty() || trimmed.compare(placeholder, Qt::CaseInsensitive) == 0;
}

} // namespace

SettingsViewModel::SettingsViewModel(VoiceSettingsViewModel* voiceSettings, QObject* parent)
    : QObject(parent), m_config(AppConfig::instance()), m_voiceSettings(voiceSettings) {
    reload();
}

QString SettingsViewModel::apiBaseUrl() const {
    return deployment::apiBaseUrl().toString();
}

QString SettingsViewModel::networkAddress() const {
    return deployment::fsdServer().host;
}

QString SettingsViewModel::voiceAddress() const {
    return deployment::voiceServer().host;
}

QString SettingsViewModel::appVersion() const {
    return common::appVersionString();
}

template <typename T> void SettingsViewModel::setSetting(T& field, const T& value) {
    storeAndNotify(this, &SettingsViewModel::settingsChanged, field, value);
}

void SettingsViewModel::setTrimmed(QString& field, const QString& value) {
    setSetting(field, value.trimmed());
}

void SettingsViewModel::setUsername(const QString& value) {
    setTrimmed(m_username, value);
}
void SettingsViewModel::setRealname(const QString& value) {
    setTrimmed(m_realname, value);
}
void SettingsViewModel::setHomeAirport(const QString& value) {
    setTrimmed(m_homeAirport, value);
}
void SettingsViewModel::setXplaneNetworkAddress(const QString& value) {
    setTrimmed(m_xplaneNetworkAddress, value);
}
void SettingsViewModel::setMsfsPackagesPath2020(const QString& value) {
    setTrimmed(m_msfsPackagesPath2020, value);
}
void SettingsViewModel::setMsfsCommunityPath2020(const QString& value) {
    setTrimmed(m_msfsCommunityPath2020, value);
}
void SettingsViewModel::setMsfsPackagesPath2024(const QString& value) {
    setTrimmed(m_msfsPackagesPath2024, value);
}
void SettingsViewModel::setMsfsCommunityPath2024(const QString& value) {
    setTrimmed(m_msfsCommunityPath2024, value);
}
void SettingsViewModel::setPassword(const QString& value) {
    setSetting(m_password, value);
}
void SettingsViewModel::setXplaneCslPathsText(const QString& value) {
    setSetting(m_xplaneCslPathsText, value);
}
void SettingsViewModel::setMsfsCustomMappingPaths2020(const QString& value) {
    setSetting(m_msfsCustomMappingPaths2020, value);
}
void SettingsViewModel::setMsfsCustomMappingPaths2024(const QString& value) {
    setSetting(m_msfsCustomMappingPaths2024, value);
}
void SettingsViewModel::setRememberPassword(bool value) {
    setSetting(m_rememberPassword, value);
}
void SettingsViewModel::setAutoLogin(bool value) {
    setSetting(m_autoLogin, value);
}
void SettingsViewModel::setVatsimProtocol(bool value) {
    setSetting(m_vatsimProtocol, value);
}
void SettingsViewModel::setXplaneUdpPort(int value) {
    setSetting(m_xplaneUdpPort, value);
}

void SettingsViewModel::setStatus(const QString& text, bool failed) {
    const bool textChanged = storeIfChanged(m_saveStatus, text);
    if (storeIfChanged(m_saveFailed, failed) || textChanged) {
        emit saveStatusChanged();
    }
}

QStringList SettingsViewModel::splitPathList(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\r\n;]+"));
    QStringList paths;
    for (const QString& piece : text.split(separators, Qt::SkipEmptyParts)) {
        const QString path = piece.trimmed();
        if (!path.isEmpty() && !paths.contains(path)) {
            paths << path;
        }
    }
    return paths;
}

QString SettingsViewModel::problem() const {
    QString issue = checks::udpPort(m_xplaneUdpPort);
    if (issue.isEmpty()) {
        issue = checks::xplaneAddress(m_xplaneNetworkAddress);
    }
    if (issue.isEmpty() && m_voiceSettings) {
        issue = m_voiceSettings->problem();
    }
    return issue;
}

void SettingsViewModel::reload() {
    using namespace ConfigKeys;
    m_username = m_config->value(AuthUsername);
    m_password = m_config->value(AuthPassword);
    m_rememberPassword = m_config->value(AuthRememberPassword);
    m_autoLogin = m_config->value(AuthAutoLogin);
    m_vatsimProtocol = m_config->value(AuthVatsim);

    m_realname = m_config->value(ProfileRealname);
    if (blankOr(m_realname, QLatin1String("Unknown"))) {
        const QString account = network::ApiService::instance()->currentUser().username.trimmed();
        m_realname = account.isEmpty() ? m_username : account;
    }
    m_homeAirport = m_config->value(ProfileHomeAirport);
    if (blankOr(m_homeAirport, QLatin1String("ZZZZ"))) {
        m_homeAirport = QStringLiteral("ZBAA");
    }

    m_xplaneUdpPort = m_config->value(XPlaneUDPPort);
    m_xplaneNetworkAddress = m_config->value(XPlaneNetworkAddress);
    m_xplaneCslPathsText = m_config->value(XPlaneCSL).join(kNewline);

    m_msfsPackagesPath2020 = m_config->value(MSFSPackagesPath2020);
    m_msfsCommunityPath2020 = m_config->value(MSFSCommunityPath2020);
    m_msfsPackagesPath2024 = m_config->value(MSFSPackagesPath2024);
    m_msfsCommunityPath2024 = m_config->value(MSFSCommunityPath2024);
    m_msfsCustomMappingPaths2020 = m_config->value(MSFSCustomMappingPaths2020).join(kNewline);
    m_msfsCustomMappingPaths2024 = m_config->value(MSFSCustomMappingPaths2024).join(kNewline);
    m_msfsLibraryReloadToken = m_config->value(MSFSLibraryReloadToken);

    const QString unread = m_config->readProblem();
    const QString unwritten = m_config->writeProblem();
    const QString issue = problem();
    if (!unread.isEmpty()) {
        setStatus(checks::notRead(m_config->filePath(), unread, m_config->isSetAside()), true);
    } else if (!unwritten.isEmpty()) {
        setStatus(checks::notWritable(m_config->filePath(), unwritten), true);
    } else {
        setStatus(issue.isEmpty() ? kLoaded : checks::loadedWithProblem(issue), !issue.isEmpty());
    }
    emit settingsChanged();
}

QList<ConfigWrite> SettingsViewModel::writes() const {
    using namespace ConfigKeys;
    QList<ConfigWrite> all = m_voiceSettings ? m_voiceSettings->writes() : QList<ConfigWrite>();
    all << configWrite(AuthUsername, m_username);
    // A stored password this run cannot open shows as none: it stays until
    // the pilot types another, as its key may be back at the next start.
    if (!m_password.isEmpty() || !m_config->isUnreadable(AuthPassword)) {
        all << configWrite(AuthPassword, m_password);
    }
    all << configWrite(AuthRememberPassword, m_rememberPassword) << configWrite(AuthAutoLogin, m_autoLogin)
        << configWrite(AuthVatsim, m_vatsimProtocol) << configWrite(ProfileRealname, m_realname)
        << configWrite(ProfileHomeAirport, m_homeAirport) << configWrite(XPlaneUDPPort, m_xplaneUdpPort)
        << configWrite(XPlaneNetworkAddress, m_xplaneNetworkAddress)
        << configWrite(XPlaneCSL, splitPathList(m_xplaneCslPathsText))
        << configWrite(MSFSPackagesPath2020, m_msfsPackagesPath2020)
        << configWrite(MSFSCommunityPath2020, m_msfsCommunityPath2020)
        << configWrite(MSFSPackagesPath2024, m_msfsPackagesPath2024)
        << configWrite(MSFSCommunityPath2024, m_msfsCommunityPath2024)
        << configWrite(MSFSCustomMappingPaths2020, splitPathList(m_msfsCustomMappingPaths2020))
        << configWrite(MSFSCustomMappingPaths2024, splitPathList(m_msfsCustomMappingPaths2024));
    return all;
}

void SettingsViewModel::saveAll() {
    // Nothing is written while a field is out of range, so config.ini never
    // holds half of a save.
    const QString issue = problem();
    if (!issue.isEmpty()) {
        setStatus(checks::saveRefused(issue), true);
        return;
    }
    // One save for the page; the store keeps the password in memory when it
    // cannot seal it for good.
    QStringList notWritten;
    const bool written = m_config->write(writes(), &notWritten);
    // With config.ini unread, nothing on the page is known to be in it, also
    // when nothing was to be written: why it cannot be read stays in view.
    const QString unread = m_config->readProblem();
    if (!unread.isEmpty()) {
        setStatus(checks::notRead(m_config->filePath(), unread, m_config->isSetAside()), true);
    } else if (written) {
        setStatus(kSaved);
    } else if (notWritten == QStringList{ConfigKeys::AuthPassword.name}) {
        setStatus(checks::kPasswordNotStored, true);
    } else {
        setStatus(checks::writeFailed(m_config->filePath(), m_config->writeProblem()), true);
    }
}

void SettingsViewModel::triggerMsfsLibraryReload() {
    const int stored = m_config->value(ConfigKeys::MSFSLibraryReloadToken);
    // Any new value rescans; a hand-edited maximum wraps instead of overflowing.
    m_msfsLibraryReloadToken = stored < std::numeric_limits<int>::max() ? stored + 1 : 0;
    // The MSFS back end rescans on the change signal, which follows even a
    // write that did not reach the file.
    m_config->setValue(ConfigKeys::MSFSLibraryReloadToken, m_msfsLibraryReloadToken);
    setStatus(kReloadTriggered);
    emit settingsChanged();
}

} // namespace velk::ui::viewmodel
