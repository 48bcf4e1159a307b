#pragma once

#include <QString>

namespace velk::test {

// Puts the calling thread in a network namespace of its own, with only a
// loopback interface, so that a test can cut the path under a connection on
// 127.0.0.1. Sockets opened by the thread meanwhile stay in it; the namespace
// goes once the last of them is closed. Needs root (CI runs as root).
class PrivateNetwork {
public:
    PrivateNetwork();
    // Back to the namespace the thread came from.
    ~PrivateNetwork();
    PrivateNetwork(const PrivateNetwork&) = delete;
    PrivateNetwork& operator=(const PrivateNetwork&) = delete;

    // Empty when the namespace is in place; otherwise why not.
    QString error() const { return m_error; }
    // Down, the loopback interface drops every packet: a path that died
    // without a FIN or a reset.
    bool setLoopbackUp(bool up);

private:
    int m_home = -1;
    QString m_error;
};

} // namespace velk::test
