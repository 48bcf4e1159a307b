#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <msgpack.hpp>
#include <nng/nng.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace velk::test {

// The X-Plane plug-in's end of the IPC channel: an nng pair1 listener that
// records every message the client sends and can answer with any bytes.
class FakeXPlanePlugin {
public:
    struct Message {
        QByteArray raw;
        QString type;
        // The payload written out with its MessagePack types, e.g.
        // ["DLH1",nil,true,f32:0.25,d:48.1,7,"x"] (d: f64, f32: float32).
        QString payload;
    };

    // Listens on `url` (ipc:// or tcp://).
    explicit FakeXPlanePlugin(const QString& url);
    ~FakeXPlanePlugin();

    bool isListening() const { return m_listening; }
    // The bound port of a tcp:// listener.
    int tcpPort() const;
    // True while a client is connected.
    bool hasPeer() const;

    QList<Message> messages() const;
    QList<Message> messagesOfType(const QString& type) const;
    int count() const;
    void clear();

    // Waits (processing events) until `n` messages have arrived.
    bool waitForCount(int n, int timeoutMs = 5000) const;

    // Sends wait at most this long for room or a peer (forever by default).
    void setSendTimeout(int ms);
    bool sendRaw(const QByteArray& bytes);
    // Sends [type, payload] with the payload written by `writePayload`.
    bool send(const QString& type,
              const std::function<void(msgpack::packer<msgpack::sbuffer>&)>& writePayload);
    // Sends [type] with no payload.
    bool sendTypeOnly(const QString& type);

    static QString describe(const msgpack::object& object);

private:
    void receiveLoop();
    static void pipeEvent(nng_pipe pipe, nng_pipe_ev event, void* self);

    nng_socket m_socket = NNG_SOCKET_INITIALIZER;
    nng_listener m_listener = NNG_LISTENER_INITIALIZER;
    bool m_listening = false;
    // Pipes taken as the peer: nng also tells the removal of pipes it refused.
    mutable std::mutex m_pipeMutex;
    std::set<uint32_t> m_peers;
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    std::atomic<bool> m_receiving{true};
    std::thread m_thread;
};

} // namespace velk::test
