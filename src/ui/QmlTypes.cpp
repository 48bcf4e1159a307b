#include "QmlTypes.h"

#include "ui/ScreenArea.h"
#include "ui/viewmodel/SettingsViewModel.h"
#include "ui/viewmodel/VoiceServiceViewModel.h"
#include "ui/viewmodel/VoiceSettingsViewModel.h"

#include <QtQml/qqml.h>

#include <mutex>

namespace velk::ui {

namespace {
constexpr const char* BackendModule = "com.morvane.backend";
} // namespace

void registerQmlTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Property types of the pages only: QML never creates them.
        qmlRegisterUncreatableType<viewmodel::SettingsViewModel>(BackendModule, 1, 0, "SettingsBackend",
                                                                 QString());
        qmlRegisterUncreatableType<VoiceServiceViewModel>(BackendModule, 1, 0, "VoiceServiceBackend",
                                                          QString());
        qmlRegisterUncreatableType<viewmodel::VoiceSettingsViewModel>(BackendModule, 1, 0,
                                                                      "VoiceSettingsBackend", QString());
        qmlRegisterSingletonType<ScreenArea>(BackendModule, 1, 0, "ScreenArea",
                                             [](QQmlEngine*, QJSEngine*) { return new ScreenArea(); });
    });
}

} // namespace velk::ui
