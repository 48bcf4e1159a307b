#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace velk::test {

// An X server of the test's own (Xvfb), driven by xdotool.
class XvfbServer {
public:
    ~XvfbServer() { stop(); }

    // Why the test cannot run here; empty when Xvfb and xdotool are installed.
    static QString skipReason();

    // Starts Xvfb with `args` after "-displayfd 1" and waits for its display.
    // On failure `error` gets Xvfb's complaint.
    bool start(const QStringList& args, QString* error = nullptr);
    // ":N"; empty before start().
    QString display() const { return m_display; }
    // Runs xdotool on this display; false when it fails. Its output goes to `out`.
    bool xdotool(const QStringList& args, QString* out = nullptr) const;
    // Ends the server at once, as a crash would.
    void kill() { m_process.kill(); }
    void stop();

private:
    QProcess m_process;
    QString m_display;
};

} // namespace velk::test
