#include "support/FakeXPlanePlugin.h"

#include <nng/protocol/pair1/pair.h>

#include <QTest>

namespace velk::test {

FakeXPlanePlugin::FakeXPlanePlugin(const QString& url) {
    if (nng_pair1_open(&m_socket) != 0) {
        return;
    }
    nng_pipe_notify(m_socket, NNG_PIPE_EV_ADD_POST, &FakeXPlanePlugin::pipeEvent, this);
    nng_pipe_notify(m_socket, NNG_PIPE_EV_REM_POST, &FakeXPlanePlugin::pipeEvent, this);
    nng_socket_set_ms(m_socket, NNG_OPT_SENDTIMEO, 2000);
    nng_socket_set_ms(m_socket, NNG_OPT_RECVTIMEO, 100);
    m_listening = nng_listen(m_socket, url.toUtf8().constData(), &m_listener, 0) == 0;
    m_thread = std::thread([this] { receiveLoop(); });
}

// The receive thread ends before the socket closes: in nng 1.5 a receive
// that starts while the socket closes can wait for good.
FakeXPlanePlugin::~FakeXPlanePlugin() {
    m_receiving = false;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    nng_close(m_socket);
}

int FakeXPlanePlugin::tcpPort() const {
    int port = 0;
    nng_listener_get_int(m_listener, NNG_OPT_TCP_BOUND_PORT, &port);
    return port;
}

bool FakeXPlanePlugin::hasPeer() const {
    std::lock_guard lock(m_pipeMutex);
    return !m_peers.empty();
}

void FakeXPlanePlugin::pipeEvent(nng_pipe pipe, nng_pipe_ev event, void* self) {
    auto* plugin = static_cast<FakeXPlanePlugin*>(self);
    const auto id = static_cast<uint32_t>(nng_pipe_id(pipe));
    std::lock_guard lock(plugin->m_pipeMutex);
    if (event == NNG_PIPE_EV_ADD_POST) {
        plugin->m_peers.insert(id);
    } else if (event == NNG_PIPE_EV_REM_POST) {
        plugin->m_peers.erase(id);
    }
}

void FakeXPlanePlugin::receiveLoop() {
    while (m_receiving) {
        void* buffer = nullptr;
        size_t size = 0;
        const int rv = nng_recv(m_socket, &buffer, &size, NNG_FLAG_ALLOC);
        if (rv == NNG_ECLOSED) {
            return;
        }
        if (rv != 0) {
            continue;
        }
        Message m;
        m.raw = QByteArray(static_cast<const char*>(buffer), static_cast<qsizetype>(size));
        nng_free(buffer, size);
        try {
            const msgpack::object_handle h =
                msgpack::unpack(m.raw.constData(), static_cast<size_t>(m.raw.size()));
            const msgpack::object& root = h.get();
            if (root.type == msgpack::type::ARRAY && root.via.array.size >= 1 &&
                root.via.array.ptr[0].type == msgpack::type::STR) {
                const auto& t = root.via.array.ptr[0].via.str;
                m.type = QString::fromUtf8(t.ptr, static_cast<qsizetype>(t.size));
                if (root.via.array.size >= 2) {
                    m.payload = describe(root.via.array.ptr[1]);
                }
            }
        } catch (...) {
            m.type = QStringLiteral("<undecodable>");
        }
        std::lock_guard lock(m_mutex);
        m_messages.append(m);
    }
}

QString FakeXPlanePlugin::describe(const msgpack::object& o) {
    switch (o.type) {
    case msgpack::type::NIL:
        return QStringLiteral("nil");
    case msgpack::type::BOOLEAN:
        return o.via.boolean ? QStringLiteral("true") : QStringLiteral("false");
    case msgpack::type::POSITIVE_INTEGER:
        return QString::number(o.via.u64);
    case msgpack::type::NEGATIVE_INTEGER:
        return QString::number(o.via.i64);
    case msgpack::type::FLOAT32:
        return QStringLiteral("f32:") + QString::number(o.via.f64, 'g', 7);
    case msgpack::type::FLOAT64:
        return QStringLiteral("d:") + QString::number(o.via.f64, 'g', 15);
    case msgpack::type::STR:
        return QLatin1Char('"') + QString::fromUtf8(o.via.str.ptr, static_cast<qsizetype>(o.via.str.size)) +
               QLatin1Char('"');
    case msgpack::type::BIN:
        return QStringLiteral("bin:%1").arg(o.via.bin.size);
    case msgpack::type::ARRAY: {
        QStringList parts;
        for (uint32_t i = 0; i < o.via.array.size; ++i) {
            parts.append(describe(o.via.array.ptr[i]));
        }
        return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    case msgpack::type::MAP:
        return QStringLiteral("map:%1").arg(o.via.map.size);
    default:
        return QStringLiteral("?");
    }
}

QList<FakeXPlanePlugin::Message> FakeXPlanePlugin::messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

QList<FakeXPlanePlugin::Message> FakeXPlanePlugin::messagesOfType(const QString& type) const {
    QList<Message> out;
    for (const Message& m : messages()) {
        if (m.type == type) {
            out.append(m);
        }
    }
    return out;
}

int FakeXPlanePlugin::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_messages.size());
}

void FakeXPlanePlugin::clear() {
    std::lock_guard lock(m_mutex);
    m_messages.clear();
}

bool FakeXPlanePlugin::waitForCount(int n, int timeoutMs) const {
    return QTest::qWaitFor([&] { return count() >= n; }, timeoutMs);
}

void FakeXPlanePlugin::setSendTimeout(int ms) {
    nng_socket_set_ms(m_socket, NNG_OPT_SENDTIMEO, ms);
}

bool FakeXPlanePlugin::sendRaw(const QByteArray& bytes) {
    return nng_send(m_socket, const_cast<char*>(bytes.constData()), static_cast<size_t>(bytes.size()), 0) ==
           0;
}

bool FakeXPlanePlugin::send(const QString& type,
                            const std::function<void(msgpack::packer<msgpack::sbuffer>&)>& writePayload) {
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    packer.pack_array(2);
    packer.pack(type.toStdString());
    writePayload(packer);
    return sendRaw(QByteArray(buffer.data(), static_cast<qsizetype>(buffer.size())));
}

bool FakeXPlanePlugin::sendTypeOnly(const QString& type) {
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    packer.pack_array(1);
    packer.pack(type.toStdString());
    return sendRaw(QByteArray(buffer.data(), static_cast<qsizetype>(buffer.size())));
}

} // namespace velk::test
