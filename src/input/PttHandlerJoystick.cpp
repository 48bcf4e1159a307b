// Game-controller side of the push-to-talk handler: SDL's joystick subsystem,
// run only while a binding is being captured or the binding is a joystick button.
#include "input/PttHandler.h"

#include <QDebug>
#include <QTimer>

#include <SDL.h>

#include <algorithm>

namespace velk::input {

namespace {
constexpr Uint32 kSdlFlags = SDL_INIT_JOYSTICK | SDL_INIT_EVENTS;
} // namespace

void PttHandler::ensureJoystickSubsystem() {
    if (!isLive()) {
        return;
    }
    const bool wanted = m_listening || (m_hasBinding && m_binding.kind == PttBinding::Kind::Joystick);
    if (!wanted) {
        m_pollTimer->stop();
        closeJoysticks();
        if (SDL_WasInit(kSdlFlags) != 0) {
            SDL_QuitSubSystem(kSdlFlags);
        }
        return;
    }
    if (SDL_WasInit(kSdlFlags) == 0) {
        // Otherwise SDL turns SIGINT and SIGTERM into a quit event that the poll
        // below drains, and the process can no longer be stopped.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetMainReady();
        if (SDL_InitSubSystem(kSdlFlags) < 0) {
            qWarning().noquote() << "SDL_InitSubSystem failed:" << SDL_GetError();
            return;
        }
        // Buttons count while another application has the focus.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        openJoysticks();
    }
    if (!m_pollTimer->isActive()) {
        m_pollTimer->start();
    }
}

void PttHandler::appendJoystick(SDL_Joystick* handle) {
    m_joysticks.push_back({handle, SDL_JoystickInstanceID(handle)});
}

void PttHandler::openJoysticks() {
    if (!m_joysticks.empty()) {
        return;
    }
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        SDL_Joystick* handle = SDL_JoystickOpen(i);
        if (!handle) {
            continue;
        }
        appendJoystick(handle);
        qDebug().noquote() << "Opened joystick:" << SDL_JoystickName(handle);
    }
    resolveBoundJoystick();
}

void PttHandler::closeJoysticks() {
    for (const OpenJoystick& j : m_joysticks) {
        SDL_JoystickClose(j.handle);
    }
    m_joysticks.clear();
}

qint32 PttHandler::joystickPosition(qint32 instanceId) {
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        if (SDL_JoystickGetDeviceInstanceID(i) == instanceId) {
            return i;
        }
    }
    return -1;
}

void PttHandler::resolveBoundJoystick() {
    if (!m_hasBinding || m_binding.kind != PttBinding::Kind::Joystick || SDL_WasInit(kSdlFlags) == 0) {
        return;
    }
    const qint32 position = m_binding.joystickId;
    m_boundInstanceId =
        position >= 0 && position < SDL_NumJoysticks() ? SDL_JoystickGetDeviceInstanceID(position) : -1;
}

void PttHandler::pollJoystick() {
    SDL_Event event;
    // A handler of the signals below may end the subsystem.
    while (SDL_WasInit(kSdlFlags) != 0 && SDL_PollEvent(&event) != 0) {
        switch (event.type) {
        case SDL_JOYDEVICEADDED: {
            // SDL announces the controllers present at start-up too, which are open already.
            const qint32 added = SDL_JoystickGetDeviceInstanceID(event.jdevice.which);
            if (std::any_of(m_joysticks.cbegin(), m_joysticks.cend(),
                            [added](const OpenJoystick& j) { return j.instanceId == added; })) {
                break;
            }
            if (SDL_Joystick* handle = SDL_JoystickOpen(event.jdevice.which)) {
                appendJoystick(handle);
                qDebug().noquote() << "Joystick connected:" << SDL_JoystickName(handle);
                resolveBoundJoystick();
            }
            break;
        }
        case SDL_JOYDEVICEREMOVED: {
            const qint32 which = event.jdevice.which;
            const auto gone =
                std::remove_if(m_joysticks.begin(), m_joysticks.end(), [which](const OpenJoystick& j) {
                    if (j.instanceId != which) {
                        return false;
                    }
                    SDL_JoystickClose(j.handle);
                    return true;
                });
            m_joysticks.erase(gone, m_joysticks.end());
            if (m_hasBinding && m_binding.kind == PttBinding::Kind::Joystick && which == m_boundInstanceId) {
                m_heldSinceCapture = false;
                if (m_active) {
                    setActive(false);
                }
            }
            break;
        }
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP:
            handleInput(PttBinding::Kind::Joystick, event.jbutton.button, event.jbutton.which,
                        event.type == SDL_JOYBUTTONDOWN);
            break;
        default:
            break;
        }
    }
}

} // namespace velk::input
