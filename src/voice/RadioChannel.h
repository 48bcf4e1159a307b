#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace velk::voice {

// One radio as the voice service sees it.
struct RadioChannel {
    qint32 id = 0;        // transmitter id: COM1 0, COM2 1
    qint32 frequency = 0; // kHz; 0 means not tuned
    bool transmit = false;
    bool receive = false;
    float volume = 1.0f;  // 0 to 2: 1 is the simulator's full volume, above it amplifies
    bool speaker = false; // play on the speaker output instead of the headphones

    bool operator==(const RadioChannel&) const = default;
};

} // namespace velk::voice

Q_DECLARE_METATYPE(velk::voice::RadioChannel)
