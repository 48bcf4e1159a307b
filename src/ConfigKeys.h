#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace velk {

enum class ConfigStorage {
    Plain,      // written to config.ini as is
    Encrypted,  // AES-GCM sealed, Base64 text in config.ini
    SessionOnly // kept in memory for this run only
};

// A key of config.ini with its type, default and storage.
template <typename T>
struct ConfigKey {
    QString name;
    T defaultValue;
    ConfigStorage storage = ConfigStorage::Plain;
};

// Untyped view of a key, for start-up defaults and look-ups by name.
struct ConfigKeyInfo {
    QString name;
    QVariant defaultValue;
    ConfigStorage storage;
};

namespace ConfigKeys {

inline const ConfigKey<QString> AuthToken{QStringLiteral("Auth/Token"), {}, ConfigStorage::SessionOnly};
inline const ConfigKey<QString> AuthRefreshToken{QStringLiteral("Auth/RefreshToken"), {}, ConfigStorage::Encrypted};
inline const ConfigKey<QString> AuthUsername{QStringLiteral("Auth/Username"), {}};
inline const ConfigKey<QString> AuthPassword{QStringLiteral("Auth/Password"), {}, ConfigStorage::Encrypted};
inline const ConfigKey<bool> AuthRememberPassword{QStringLiteral("Auth/RememberPassword"), false};
inline const ConfigKey<bool> AuthAutoLogin{QStringLiteral("Auth/AutoLogin"), false};
inline const ConfigKey<bool> AuthVatsim{QStringLiteral("Auth/Vatsim"), true};

inline const ConfigKey<QString> ProfileRealname{QStringLiteral("Profile/Realname"), {}};
inline const ConfigKey<QString> ProfileHomeAirport{QStringLiteral("Profile/HomeAirport"), QStringLiteral("ZBAA")};

inline const ConfigKey<int> XPlaneUDPPort{QStringLiteral("XPlane/UDPPort"), 49000};
inline const ConfigKey<QString> XPlaneNetworkAddress{QStringLiteral("XPlane/NetworkAddress"),
                                                     QStringLiteral("127.0.0.1")};
inline const ConfigKey<QStringList> XPlaneCSL{QStringLiteral("XPlane/CSL"), {}};

inline const ConfigKey<QString> MSFSPackagesPath2020{QStringLiteral("MSFS/PackagesPath2020"), {}};
inline const ConfigKey<QString> MSFSPackagesPath2024{QStringLiteral("MSFS/PackagesPath2024"), {}};
inline const ConfigKey<QString> MSFSCommunityPath2020{QStringLiteral("MSFS/CommunityPath2020"), {}};
inline const ConfigKey<QString> MSFSCommunityPath2024{QStringLiteral("MSFS/CommunityPath2024"), {}};
inline const ConfigKey<QStringList> MSFSCustomMappingPaths2020{QStringLiteral("MSFS/CustomMappingPaths2020"), {}};
inline const ConfigKey<QStringList> MSFSCustomMappingPaths2024{QStringLiteral("MSFS/CustomMappingPaths2024"), {}};
inline const ConfigKey<int> MSFSLibraryReloadToken{QStringLiteral("MSFS/LibraryReloadToken"), 0};

// 13 is PortAudio's host-API type id of WASAPI.
inline const ConfigKey<int> VoiceDriver{QStringLiteral("Voice/Driver"), 13};
inline const ConfigKey<QString> VoiceInputDevice{QStringLiteral("Voice/InputDevice"), QStringLiteral("Default")};
inline const ConfigKey<QString> VoiceOutputHeadphoneDevice{QStringLiteral("Voice/OutputHeadphoneDevice"),
                                                           QStringLiteral("Default")};
inline const ConfigKey<QString> VoiceOutputSpeakerDevice{QStringLiteral("Voice/OutputSpeakerDevice"),
                                                         QStringLiteral("Default")};
inline const ConfigKey<QString> VoicePttKey{QStringLiteral("Voice/PttKey"), QStringLiteral("kb:163")};
inline const ConfigKey<double> VoiceMicGain{QStringLiteral("Voice/MicGain"), 0.0};
inline const ConfigKey<double> VoicePttPressFreq{QStringLiteral("Voice/PttPressFreq"), 1500.0};
inline const ConfigKey<double> VoicePttReleaseFreq{QStringLiteral("Voice/PttReleaseFreq"), 1000.0};
inline const ConfigKey<double> VoicePttVolume{QStringLiteral("Voice/PttVolume"), 1.0};
inline const ConfigKey<int> VoicePttPlayDevice{QStringLiteral("Voice/PttPlayDevice"), 0};
inline const ConfigKey<double> VoiceConflictVolume{QStringLiteral("Voice/ConflictVolume"), 1.0};
inline const ConfigKey<int> VoiceConflictPlayDevice{QStringLiteral("Voice/ConflictPlayDevice"), 0};

// Every key, in table order.
const std::vector<ConfigKeyInfo>& all();
// nullptr for an unknown name.
const ConfigKeyInfo* find(const QString& name);

} // namespace ConfigKeys
} // namespace velk
