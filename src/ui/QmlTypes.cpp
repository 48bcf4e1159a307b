#include "QmlTypes.h"

#include <QtQml/qqml.h>

#include <mutex>

namespace velk::ui {

namespace {
constexpr const char* BackendModule = "com.morvane.backend";
} // namespace

void registerQmlTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The pages name the settings, voice settings and voice service view
        // models by type (SettingsBackend, VoiceSettingsBackend,
        // VoiceServiceBackend); QML never creates them:
        //   qmlRegisterUncreatableType<Class>(BackendModule, 1, 0, "Name", QString());
        qmlRegisterModule(BackendModule, 1, 0);
    });
}

} // namespace velk::ui
