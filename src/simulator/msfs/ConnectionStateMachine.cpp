#include "simulator/msfs/ConnectionStateMachine.h"

#include <algorithm>

namespace velk::simulator::msfs {

void ConnectionStateMachine::start() {
    m_state = State::Connecting;
    m_failedAttempts = 0;
    m_retryAtMs = 0;
}

void ConnectionStateMachine::onConnected() {
    m_state = State::Connected;
    m_failedAttempts = 0;
}

bool ConnectionStateMachine::onError(int error, qint64 nowMs) {
    if (m_state == State::Idle || m_state == State::Failed)
        return false;
    const bool wasConnected = m_state == State::Connected;
    if (isFinalError(error)) {
        m_state = State::Failed;
        return wasConnected;
    }
    if (m_state == State::WaitingToReconnect)
        return false; // one retry is already planned
    scheduleRetry(nowMs);
    return wasConnected;
}

void ConnectionStateMachine::onDisconnected(qint64 nowMs) {
    if (m_state == State::Connected || m_state == State::Connecting)
        scheduleRetry(nowMs);
}

bool ConnectionStateMachine::tick(qint64 nowMs) {
    if (m_state != State::WaitingToReconnect || nowMs < m_retryAtMs)
        return false;
    m_state = State::Connecting;
    return true;
}

void ConnectionStateMachine::scheduleRetry(qint64 nowMs) {
    // 1 s, 2 s, 4 s ... up to 30 s between attempts.
    const int doublings = std::min(m_failedAttempts, 5);
    const qint64 delay = std::min(kFirstDelayMs << doublings, kMaxDelayMs);
    ++m_failedAttempts;
    m_state = State::WaitingToReconnect;
    m_retryAtMs = nowMs + delay;
}

} // namespace velk::simulator::msfs
