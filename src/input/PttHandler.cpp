#include "input/PttHandler.h"

#include <QDebug>
#include <QTimer>

namespace velk::input {

namespace {
// The live handler; a second one is refused, since the input sources and SDL's
// event queue are process-wide.
PttHandler* g_liveHandler = nullptr;

constexpr int kPollIntervalMs = 16;

bool isMouseButtonCode(int code) {
    switch (code) {
    case MouseButtonCode::Left:
    case MouseButtonCode::Right:
    case MouseButtonCode::Middle:
    case MouseButtonCode::X1:
    case MouseButtonCode::X2:
        return true;
    default:
        return false;
    }
}
} // namespace

PttHandler::PttHandler(QObject* parent) : QObject(parent) {
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(kPollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &PttHandler::pollJoystick);
    if (g_liveHandler) {
        qWarning() << "PttHandler: another handler is live; this one stays inert";
        return;
    }
    g_liveHandler = this;
    installHooks();
}

PttHandler::~PttHandler() {
    m_pollTimer->stop();
    if (m_hooks) {
        m_hooks->uninstallKeyboard();
        m_hooks->uninstallMouse();
        m_hooks.reset();
    }
    m_keyboardHooked = m_mouseHooked = false;
    if (isLive()) {
        m_listening = false;
        m_hasBinding = false;
        ensureJoystickSubsystem();
        g_liveHandler = nullptr;
    }
    // Whoever listens must not be left transmitting.
    if (m_active) {
        setActive(false);
    }
}

bool PttHandler::isLive() const {
    return g_liveHandler == this;
}

void PttHandler::installHooks() {
    m_hooks = createInputHooks();
    QString error;
    m_keyboardHooked = m_hooks->installKeyboard([this](const KeyEvent& e) { handleKeyHook(e); }, &error);
    if (!m_keyboardHooked) {
        qWarning().noquote() << "PttHandler: keyboard hook failed, error:" << error;
    }
    error.clear();
    m_mouseHooked = m_hooks->installMouse([this](const MouseEvent& e) { handleMouseHook(e); }, &error);
    if (!m_mouseHooked) {
        qWarning().noquote() << "PttHandler: mouse hook failed, error:" << error;
    }
    m_hooks->setLostHandler([this](const QString& reason) { onHooksLost(reason); });
}

void PttHandler::onHooksLost(const QString& reason) {
    if (!m_keyboardHooked && !m_mouseHooked) {
        return;
    }
    m_keyboardHooked = m_mouseHooked = false;
    m_hooks->uninstallKeyboard();
    m_hooks->uninstallMouse();
    qWarning().noquote() << "PttHandler: keyboard and mouse hooks lost, error:" << reason;
    // No release can arrive any more for a held key or button.
    if (m_active && m_hasBinding && m_binding.kind != PttBinding::Kind::Joystick) {
        setActive(false);
    }
    m_heldSinceCapture = m_heldSinceCapture && m_binding.kind == PttBinding::Kind::Joystick;
}

void PttHandler::handleKeyHook(const KeyEvent& event) {
    // No key carries code 0 or one past the byte range, so a binding decoded
    // from a bad number ("kb:abc") matches nothing.
    if (event.virtualKey <= 0 || event.virtualKey > 0xFF || (event.down && event.injected)) {
        return;
    }
    handleInput(PttBinding::Kind::Keyboard, event.virtualKey, -1, event.down);
}

void PttHandler::handleMouseHook(const MouseEvent& event) {
    if (!isMouseButtonCode(event.button)) {
        return;
    }
    handleInput(PttBinding::Kind::Mouse, event.button, -1, event.down);
}

void PttHandler::handleInput(PttBinding::Kind kind, int code, qint32 instanceId, bool pressed) {
    if (pressed && m_listening) {
        capture(kind, code, instanceId);
        return;
    }
    if (!m_hasBinding || m_binding.kind != kind || m_binding.code != code) {
        return;
    }
    if (kind == PttBinding::Kind::Joystick && instanceId != m_boundInstanceId) {
        return;
    }
    if (m_heldSinceCapture) {
        m_heldSinceCapture = pressed;
        return;
    }
    if (m_active != pressed) {
        setActive(pressed);
    }
}

void PttHandler::capture(PttBinding::Kind kind, int code, qint32 instanceId) {
    PttBinding binding{kind, code, -1};
    if (kind == PttBinding::Kind::Joystick) {
        binding.joystickId = joystickPosition(instanceId);
        if (binding.joystickId < 0) {
            return; // the controller went away meanwhile
        }
    }
    m_binding = binding;
    m_hasBinding = true;
    m_boundInstanceId = instanceId;
    m_heldSinceCapture = true;
    if (m_active) {
        setActive(false);
    }
    m_listening = false;
    ensureJoystickSubsystem();
    emit listeningChanged(false);
    emit bindingCaptured(m_binding);
}

void PttHandler::setActive(bool active) {
    m_active = active;
    emit activeChanged(active);
}

void PttHandler::setBinding(const PttBinding& binding) {
    m_binding = binding;
    rebind(true);
}

void PttHandler::clearBinding() {
    rebind(false);
}

void PttHandler::rebind(bool hasBinding) {
    m_hasBinding = hasBinding;
    m_heldSinceCapture = false;
    m_boundInstanceId = -1;
    if (m_active) {
        setActive(false);
    }
    ensureJoystickSubsystem();
    resolveBoundJoystick();
}

void PttHandler::startListening() {
    setListening(true);
}

void PttHandler::stopListening() {
    setListening(false);
}

void PttHandler::setListening(bool listening) {
    if (m_listening == listening) {
        return;
    }
    m_listening = listening;
    ensureJoystickSubsystem();
    emit listeningChanged(listening);
}

} // namespace velk::input
