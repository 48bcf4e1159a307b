#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// A headless JACK server for tests with real audio: the dummy driver keeps
// real time without a sound card, and its loopback device plays back into its
// own capture one period later. Start it before the program's first
// Pa_Initialize: PortAudio finds JACK's devices only when it initialises.
class JackRig {
public:
    JackRig(int sampleRate, int channels);
    ~JackRig(); // SIGTERM

    static bool jackdAvailable();
    // VELK_REQUIRE_AUDIO_RIG=1 turns a missing jackd into a failure.
    static bool required();

    // Takes a free name (waiting while every one is taken), starts a server
    // under it and waits until it answers.
    bool start(QString* error);

    // Keeps PortAudio initialised until the rig goes: JACK's devices are then
    // found once, not again at every engine's start, where a loaded machine
    // can make the JACK host API miss its server. False when it does not start.
    bool holdPortAudio();

    // Process id of the server; 0 before start().
    qint64 serverPid() const { return m_jackd.processId(); }
    // Stops the server, as a pilot's sound server may stop: its devices
    // vanish under whatever still uses them.
    void stopServer();

    // PortAudio device index of a JACK device ("system", "loopback"); -1 when absent.
    static int device(const QByteArray& name);
    // config.ini as the pilot would set it for this rig.
    static void writeVoiceConfig();

private:
    bool takeName(QString* error);
    bool launch(QString* error);

    int m_rate;
    int m_channels;
    QString m_name;
    int m_nameHold = -1;
    QProcess m_jackd;
    bool m_portAudioHeld = false;
};

// In initTestCase: skips the program without jackd (fails when the rig is
// required) and starts the rig.
#define VELK_START_JACK_RIG(rig)                                                                             \
    do {                                                                                                     \
        if (!JackRig::jackdAvailable()) {                                                                    \
            if (JackRig::required())                                                                         \
                QFAIL("jackd is missing but VELK_REQUIRE_AUDIO_RIG=1");                                      \
            QSKIP("jackd is not installed");                                                                 \
        }                                                                                                    \
        QString rigError;                                                                                    \
        QVERIFY2((rig).start(&rigError), qPrintable(rigError));                                              \
    } while (false)
