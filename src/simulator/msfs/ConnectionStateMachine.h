#pragma once

#include <QtGlobal>

namespace velk::simulator::msfs {

// When the MSFS back end connects and reconnects. Pure state: the owner makes
// the calls and drives time through tick().
class ConnectionStateMachine {
public:
    enum class State : quint8 {
        Idle = 0,
        Connecting = 1,
        Connected = 2,
        WaitingToReconnect = 3,
        Failed = 4,
    };

    static constexpr qint64 kFirstDelayMs = 1000;
    static constexpr qint64 kMaxDelayMs = 30000;

    // Errors after which no further attempt is made.
    static bool isFinalError(int error) { return error == 2 || error == 3; }

    State state() const { return m_state; }
    int failedAttempts() const { return m_failedAttempts; }
    // Time of the next attempt while waiting to reconnect.
    qint64 retryAtMs() const { return m_retryAtMs; }

    // A fresh start, also out of Failed: the caller connects now.
    void start();
    void onConnected();
    // Returns true when the caller should drop the current connection.
    bool onError(int error, qint64 nowMs);
    void onDisconnected(qint64 nowMs);
    // True when an attempt is due; the state becomes Connecting.
    bool tick(qint64 nowMs);

private:
    void scheduleRetry(qint64 nowMs);

    State m_state = State::Idle;
    int m_failedAttempts = 0;
    qint64 m_retryAtMs = 0;
};

} // namespace velk::simulator::msfs
