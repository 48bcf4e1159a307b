#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace velk::input {

// One key going down or up anywhere on the desktop.
struct KeyEvent {
    int virtualKey = 0; // Windows virtual-key code, left/right modifiers distinct
    bool down = false;
    bool injected = false; // synthesised by another program
};

// One mouse button going down or up anywhere on the desktop.
struct MouseEvent {
    int button = 0; // MouseButtonCode; sources drop wheels and other buttons
    bool down = false;
    bool injected = false;
};

// System-wide keyboard and mouse sources for push-to-talk. They only watch:
// no event is ever swallowed. Sinks are called on the thread that installed them.
class InputHooks {
public:
    using KeySink = std::function<void(const KeyEvent&)>;
    using MouseSink = std::function<void(const MouseEvent&)>;
    using LostHandler = std::function<void(const QString& reason)>;

    virtual ~InputHooks() = default;

    // False, with the reason in `error`, when the source cannot run; that
    // family then stays silent.
    virtual bool installKeyboard(KeySink sink, QString* error) = 0;
    virtual bool installMouse(MouseSink sink, QString* error) = 0;
    virtual void uninstallKeyboard() = 0;
    virtual void uninstallMouse() = 0;
    // Called once when the installed sources end for good (the desktop session
    // went away); both are uninstalled by then.
    virtual void setLostHandler(LostHandler handler) = 0;
};

using InputHooksFactory = std::function<std::unique_ptr<InputHooks>()>;

// The platform's input layer, or what the factory below was set to.
std::unique_ptr<InputHooks> createInputHooks();
// Substitutes the input layer (tests, benchmarks); an empty factory restores the platform's.
void setInputHooksFactory(InputHooksFactory factory);

} // namespace velk::input
