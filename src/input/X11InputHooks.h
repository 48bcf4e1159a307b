#pragma once

#include "input/InputHooks.h"

#include <memory>

class QSocketNotifier;
struct _XDisplay;

namespace velk::input {

// Push-to-talk input on X11: XInput2 raw key and button events of all master
// devices, read on an X connection of its own and serviced on the thread that
// installed the sources. Raw events reach a client even while another one holds
// a grab, and nothing is grabbed here, so no input is taken from anyone. Raw
// events carry no "synthesised" mark: every event is reported as not injected.
class X11InputHooks final : public InputHooks {
public:
    X11InputHooks();
    ~X11InputHooks() override;

    bool installKeyboard(KeySink sink, QString* error) override;
    bool installMouse(MouseSink sink, QString* error) override;
    void uninstallKeyboard() override;
    void uninstallMouse() override;
    void setLostHandler(LostHandler handler) override;

private:
    bool open(QString* error);
    // Selects the raw events the installed sinks need; closes the connection when none.
    void updateSelection();
    void close();
    void service();
    void dispatch(int evtype, int detail);

    _XDisplay* m_display = nullptr;
    int m_xiOpcode = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    KeySink m_keySink;
    MouseSink m_mouseSink;
    LostHandler m_lost;
    bool m_ioFailed = false;
};

} // namespace velk::input
