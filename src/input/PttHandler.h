#pragma once

#include "input/InputHooks.h"
#include "input/PttBinding.h"

#include <QObject>

#include <memory>
#include <vector>

class QTimer;
struct _SDL_Joystick;

namespace velk::input {

// The process's source of push-to-talk input: every key and mouse button of
// the desktop through the input layer, and game-controller buttons through
// SDL's joystick subsystem, whichever window has the focus. Reports whether the
// bound input is held (`active`) and, while `listening`, turns the next press
// into the binding. Owned by the push-to-talk service; all on the GUI thread.
//
// Only one handler may be live at a time (the input sources and SDL's event
// queue are process-wide): a second one logs a warning and stays inert.
class PttHandler : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
    Q_PROPERTY(bool listening READ isListening NOTIFY listeningChanged)

public:
    explicit PttHandler(QObject* parent = nullptr);
    ~PttHandler() override;

    bool isActive() const { return m_active; }
    bool isListening() const { return m_listening; }
    bool hasBinding() const { return m_hasBinding; }
    const PttBinding& binding() const { return m_binding; }

    void setBinding(const PttBinding& binding);
    void clearBinding();
    void startListening();
    void stopListening();

    // Entry points of the input layer. An injected key-down is ignored (another
    // program typing must not key the radio); every key-up and mouse event counts.
    void handleKeyHook(const KeyEvent& event);
    void handleMouseHook(const MouseEvent& event);

signals:
    void activeChanged(bool active);
    void listeningChanged(bool listening);
    void bindingCaptured(velk::input::PttBinding binding);

public slots:
    void pollJoystick();

private:
    struct OpenJoystick {
        _SDL_Joystick* handle;
        qint32 instanceId;
    };

    bool isLive() const;
    void installHooks();
    void onHooksLost(const QString& reason);
    // Steps of every press and release, whatever the source; `instanceId` is
    // the SDL instance of a joystick event, -1 otherwise.
    void handleInput(PttBinding::Kind kind, int code, qint32 instanceId, bool pressed);
    void capture(PttBinding::Kind kind, int code, qint32 instanceId);
    void setActive(bool active);
    // Every change of the binding releases push-to-talk first.
    void rebind(bool hasBinding);
    void setListening(bool listening);
    void ensureJoystickSubsystem();
    void openJoysticks();
    void closeJoysticks();
    void appendJoystick(_SDL_Joystick* handle);
    void resolveBoundJoystick();
    // Position of a controller in SDL's current device order; -1 when it is gone.
    static qint32 joystickPosition(qint32 instanceId);

    std::unique_ptr<InputHooks> m_hooks;
    bool m_keyboardHooked = false;
    bool m_mouseHooked = false;
    QTimer* m_pollTimer = nullptr;
    PttBinding m_binding;
    bool m_hasBinding = false;
    bool m_active = false;
    bool m_listening = false;
    // The input just captured is still down: its repeats and release must not key the radio.
    bool m_heldSinceCapture = false;
    // SDL instance id of the bound controller as devices are now numbered; -1 when absent.
    qint32 m_boundInstanceId = -1;
    std::vector<OpenJoystick> m_joysticks;
};

} // namespace velk::input
