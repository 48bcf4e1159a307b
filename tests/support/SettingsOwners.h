#pragma once

#include "input/PttService.h"
#include "support/FakeInputSource.h"
#include "ui/viewmodel/SettingsViewModel.h"
#include "ui/viewmodel/VoiceSettingsViewModel.h"
#include "voice/AudioDevice.h"

namespace velk::test {

// The settings page's two view models over push-to-talk on a fake input
// source and a device selection, owned in the main window's order.
struct SettingsOwners {
    FakeInputSource input;
    input::PttService ptt;
    voice::AudioDevice devices;
    ui::viewmodel::VoiceSettingsViewModel voice{&ptt, &devices};
    ui::viewmodel::SettingsViewModel settings{&voice};
};

} // namespace velk::test
