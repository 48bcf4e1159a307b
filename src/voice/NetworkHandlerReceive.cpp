// Voice transport: the control and voice receive loops.
#include "voice/NetworkHandler.h"

#include "common/LogThrottle.h"
#include "voice/ControlLineReader.h"
#include "voice/NetworkHandlerText.h"

#include <QDebug>

#include <exception>

namespace velk::voice {

using detail::connectionLost;
using detail::utf8;

namespace {

// Control lines arrive one at a time, not as a datagram flood: a few more of
// them are worth seeing before the log is thinned.
constexpr quint64 kWarnedControlLines = 10;

} // namespace

void NetworkHandler::tcpReceiveLoop(quint64 generation, sockets::Handle socket) {
    ControlLineReader reader;
    QString reason;
    bool byServer = false;
    while (m_tcpRunning) {
        const std::span<char> space = reader.writable();
        const sockets::IoResult got = sockets::receive(socket, space.data(), space.size());
        if (got.bytes < 0 && sockets::isInterrupted(got.error)) {
            continue;
        }
        if (got.bytes <= 0) {
            {
                // A loss the client decided keeps its reason, even when bytes
                // the server sent after it drew a reset.
                std::lock_guard lock(m_controlSendMutex);
                reason = m_givenUpReason;
            }
            // Only a close or reset is the server's own end; a path that died is not.
            byServer = reason.isEmpty() && (got.bytes == 0 || sockets::isReset(got.error));
            if (reason.isEmpty()) {
                const int writeError = m_writeError;
                reason = got.bytes < 0     ? connectionLost(got.error)
                         : writeError != 0 ? connectionLost(writeError)
                                           : QStringLiteral("Voice server closed the connection");
            }
            break;
        }
        heard();
        reader.commit(
            static_cast<std::size_t>(got.bytes),
            [&](std::string_view line) {
                // Nothing more once the connection is given up.
                if (m_tcpRunning) {
                    parseControlMessage(generation, line);
                }
            },
            [](std::size_t dropped) {
                qWarning() << "NetworkHandler: control line longer than" << ControlLineReader::kMaxPendingLine
                           << "bytes dropped after" << dropped << "bytes";
            });
    }
    // Reported only when the loss is not our own stop.
    loseConnection(generation, reason, byServer);
}

void NetworkHandler::parseControlMessage(quint64 generation, std::string_view line) {
    try {
        if (post({generation, Event::Kind::Control, false, readControlMessage(line), {}},
                 kMaxQueuedControlEvents)) {
            return;
        }
        const QString text = QStringLiteral("Voice server sent control messages faster than they can be "
                                            "handled (%1 waiting); disconnected")
                                 .arg(kMaxQueuedControlEvents);
        loseConnection(generation, text, false, true);
    } catch (const std::exception& e) {
        // A control line is up to 64 KB and its text may be in the message: the start is enough.
        if (common::worthWarning(++m_badControlLines, kWarnedControlLines)) {
            qWarning().noquote() << "NetworkHandler: failed to parse control message:"
                                 << common::logExcerpt(QString::fromUtf8(e.what()));
        }
    }
}

void NetworkHandler::udpReceiveLoop(quint64 generation, sockets::Handle socket) {
    std::vector<std::uint8_t> buffer(kDatagramBufferSize);
    bool failing = false;
    while (m_udpRunning) {
        const sockets::IoResult got = sockets::receive(socket, buffer.data(), buffer.size());
        if (!m_udpRunning) {
            break;
        }
        if (got.bytes >= 0) {
            heard();
            failing = false;
            handleDatagram(generation, buffer.data(), static_cast<std::size_t>(got.bytes));
            continue;
        }
        // Refused: an earlier send found the server's voice side not up yet.
        if (sockets::isInterrupted(got.error) || sockets::isRefused(got.error)) {
            continue;
        }
        if (!failing) {
            failing = true;
            const QString text = QStringLiteral("Voice path receive failed: %1 (errno=%2)")
                                     .arg(utf8(sockets::errorText(got.error)))
                                     .arg(got.error);
            qWarning().noquote() << "NetworkHandler:" << text;
            post({generation, Event::Kind::Error, false, {}, text});
        }
        std::unique_lock lock(m_pingMutex);
        m_pingWake.wait_for(lock, std::chrono::milliseconds(100), [this] { return !m_udpRunning; });
    }
}

void NetworkHandler::handleDatagram(quint64 generation, const std::uint8_t* data, std::size_t length) {
    VoiceDecodeError error = VoiceDecodeError::None;
    std::optional<VoicePacket> packet = decodeVoicePacket(data, length, &error);
    if (packet) {
        postVoicePacket(generation, std::move(*packet));
        return;
    }
    const quint64 dropped = ++m_droppedDatagrams;
    if (common::worthWarning(dropped)) {
        qWarning().noquote() << QStringLiteral(
                                    "NetworkHandler: voice datagram of %1 bytes dropped: %2 (%3 so far)")
                                    .arg(length)
                                    .arg(QLatin1String(voiceDecodeErrorText(error)))
                                    .arg(dropped);
    }
}

} // namespace velk::voice
