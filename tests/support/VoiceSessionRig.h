#pragma once

#include "support/JackRig.h"
#include "support/VoiceTestServer.h"
#include "voice/VoiceClient.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace velk::test {

// JACK rig devices a voice client's audio engine plays on, by name.
struct RigDevices {
    QByteArray input = "system";
    QByteArray headphone = "system";
    QByteArray speaker = "system";
};

// As the main window does when the client announces its engine: the devices
// are set before the streams start. A name the rig lacks gives a device
// index PortAudio does not know.
inline void useRigDevices(voice::VoiceClient& client, const RigDevices& devices = {}) {
    QObject::connect(&client, &voice::VoiceClient::audioHandlerCreated, &client,
                     [devices](voice::AudioHandler* audio) {
                         const auto index = [](const QByteArray& name) {
                             const int device = JackRig::device(name);
                             return device >= 0 ? device : 9999;
                         };
                         audio->setInputDevice(index(devices.input));
                         audio->setOutputHeadphoneDevice(index(devices.headphone));
                         audio->setOutputSpeakerDevice(index(devices.speaker));
                     });
}

// A voice test server and a client pointed at it, with spies on the client.
// Start a JackRig first: Ready needs running audio streams. Resetting `owned`
// logs the client out.
struct VoiceSessionRig {
    VoiceTestServer server;
    std::unique_ptr<voice::VoiceClient> owned = std::make_unique<voice::VoiceClient>();
    voice::VoiceClient& client = *owned;
    QSignalSpy states{&client, &voice::VoiceClient::connectionStateChanged};
    QSignalSpy errors{&client, &voice::VoiceClient::errorOccurred};
    QSignalSpy lost{&client, &voice::VoiceClient::connectionLost};

    explicit VoiceSessionRig(const RigDevices& devices = {}) {
        server.listen();
        client.transport()->setServer(server.server());
        useRigDevices(client, devices);
    }
    bool signOn(quint32 cid = 1234567) {
        client.setCid(cid);
        client.connectToServer(QStringLiteral("jwt.token"));
        return QTest::qWaitFor(
                   [&] { return client.connectionState() == voice::ConnectionState::Connected; }) &&
               server.waitForLines(0) && server.waitForUdpPeer();
    }
    bool becomeReady(quint32 cid = 1234567) {
        const bool on = signOn(cid);
        server.sendWelcome("CES123");
        return on &&
               QTest::qWaitFor([&] { return client.connectionState() == voice::ConnectionState::Ready; });
    }
    QList<voice::ConnectionState> seen() const {
        QList<voice::ConnectionState> out;
        for (const QList<QVariant>& args : states) {
            out.append(args.at(0).value<voice::ConnectionState>());
        }
        return out;
    }
};

} // namespace velk::test
