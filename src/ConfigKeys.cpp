#include "ConfigKeys.h"

namespace velk::ConfigKeys {

namespace {
template <typename T>
ConfigKeyInfo info(const ConfigKey<T>& key) {
    return {key.name, QVariant::fromValue(key.defaultValue), key.storage};
}
} // namespace

const std::vector<ConfigKeyInfo>& all() {
    static const std::vector<ConfigKeyInfo> keys = {
        info(AuthToken), info(AuthRefreshToken), info(AuthUsername), info(AuthPassword),
        info(AuthRememberPassword), info(AuthAutoLogin), info(AuthVatsim),
        info(ProfileRealname), info(ProfileHomeAirport),
        info(XPlaneUDPPort), info(XPlaneNetworkAddress), info(XPlaneCSL),
        info(MSFSPackagesPath2020), info(MSFSPackagesPath2024), info(MSFSCommunityPath2020),
        info(MSFSCommunityPath2024), info(MSFSCustomMappingPaths2020), info(MSFSCustomMappingPaths2024),
        info(MSFSLibraryReloadToken),
        info(VoiceDriver), info(VoiceInputDevice), info(VoiceOutputHeadphoneDevice),
        info(VoiceOutputSpeakerDevice), info(VoicePttKey), info(VoiceMicGain), info(VoicePttPressFreq),
        info(VoicePttReleaseFreq), info(VoicePttVolume), info(VoicePttPlayDevice), info(VoiceConflictVolume),
        info(VoiceConflictPlayDevice),
    };
    return keys;
}

const ConfigKeyInfo* find(const QString& name) {
    for (const auto& key : all()) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

} // namespace velk::ConfigKeys
