#pragma once

#include "input/PttService.h"
#include "support/FakeInputSource.h"
#include "support/VoiceTestServer.h"
#include "ui/viewmodel/VoiceServiceViewModel.h"
#include "voice/AudioDevice.h"
#include "voice/AudioHandler.h"

#include <QStringList>

namespace velk::test {

// The voice service view model over a voice client pointed at a voice test
// server, a push-to-talk service on a fake input source and the device
// selection, wired as the main window wires them.
struct VoiceServiceHarness {
    VoiceTestServer server;
    FakeInputSource input;
    voice::VoiceClient client;
    input::PttService ptt;
    voice::AudioDevice devices;
    ui::VoiceServiceViewModel vm{&client, &ptt, &devices};
    QStringList texts; // connectionStateText at each connectStateChanged

    VoiceServiceHarness() {
        server.listen();
        client.transport()->setServer(server.server());
        client.setCid(1234567);
        QObject::connect(&client, &voice::VoiceClient::audioHandlerCreated, [this](voice::AudioHandler* a) {
            a->setInputDevice(devices.inputDeviceId());
            a->setOutputHeadphoneDevice(devices.outputHeadphoneDeviceId());
            a->setOutputSpeakerDevice(devices.outputSpeakerDeviceId());
        });
        QObject::connect(&vm, &ui::VoiceServiceViewModel::connectStateChanged,
                         [this] { texts << vm.connectionStateText(); });
    }
    voice::AudioHandler* audio() { return client.ensureAudioHandler(); }
};

} // namespace velk::test
