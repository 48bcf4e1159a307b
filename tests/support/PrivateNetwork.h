#pragma once

#include <QString>
#include <QtGlobal>

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
    // Cut, TCP to `port` meets "no route to host" inside the system, while
    // what comes from that port still arrives: what is sent to it stays
    // unsent, as when the route to a server is gone on the client's side.
    bool setUnreachable(quint16 port, bool cut);
    // Cut, TCP to 127.0.0.1 leaves by a link on which no neighbour ever
    // answers, while the system's own error reports still arrive: what is
    // sent meets "no route to host", as when the far end of a link or a router
    // vanished. The neighbour is given up after 0.3 s.
    bool setNoRouteToHost(bool cut);
    // Makes the link setNoRouteToHost cuts by (a tap device, which a
    // container may not offer): empty once it is in place, otherwise why not.
    QString deadLinkError();

private:
    QString makeDeadLink();

    int m_home = -1;
    int m_deadLink = -1; // the tap device's file; the device goes with it
    QString m_error;
    QString m_deadLinkError;
};

} // namespace velk::test
