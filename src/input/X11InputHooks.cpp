#include "input/X11InputHooks.h"

#include "input/X11KeyMap.h"

#include <QByteArray>
#include <QDebug>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <array>
#include <mutex>

namespace velk::input {

namespace {

// Xlib's default error handlers end the process. The layer's connection must
// never do that (losing the X server only stops push-to-talk), so process-wide
// handlers return for our connections and hand every other one to whoever was
// installed before.
std::mutex g_displaysMutex;
QSet<Display*> g_ourDisplays;
XIOErrorHandler g_previousIoHandler = nullptr;
XErrorHandler g_previousErrorHandler = nullptr;

bool isOurs(Display* display) {
    std::lock_guard lock(g_displaysMutex);
    return g_ourDisplays.contains(display);
}

int onIoError(Display* display) {
    if (isOurs(display)) {
        return 0;
    }
    return g_previousIoHandler ? g_previousIoHandler(display) : 0;
}

int onError(Display* display, XErrorEvent* event) {
    if (isOurs(display)) {
        qWarning().nospace() << "X11InputHooks: X error " << event->error_code << " on request "
                             << event->request_code << "." << event->minor_code;
        return 0;
    }
    return g_previousErrorHandler ? g_previousErrorHandler(display, event) : 0;
}

void installErrorHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_previousIoHandler = XSetIOErrorHandler(onIoError);
        g_previousErrorHandler = XSetErrorHandler(onError);
    });
}

void onIoExit(Display*, void* data) {
    // Returning (instead of exiting) leaves the connection marked broken; the
    // notifier's slot sees the flag and shuts the source down.
    *static_cast<bool*>(data) = true;
}

} // namespace

X11InputHooks::X11InputHooks() = default;

X11InputHooks::~X11InputHooks() {
    close();
}

bool X11InputHooks::open(QString* error) {
    if (m_display) {
        return true;
    }
    const QByteArray name = qgetenv("DISPLAY");
    if (name.isEmpty()) {
        *error = QStringLiteral("DISPLAY is not set (no X server)");
        return false;
    }
    installErrorHandlers();
    Display* display = XOpenDisplay(name.constData());
    if (!display) {
        *error = QStringLiteral("cannot open X display \"%1\"").arg(QString::fromLocal8Bit(name));
        return false;
    }
    {
        std::lock_guard lock(g_displaysMutex);
        g_ourDisplays.insert(display);
    }
    m_ioFailed = false;
    XSetIOErrorExitHandler(display, onIoExit, &m_ioFailed);
    int event = 0;
    int errorBase = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &m_xiOpcode, &event, &errorBase)) {
        *error = QStringLiteral("the X server has no XInput extension");
    } else if (XIQueryVersion(display, &major, &minor) != Success || major * 100 + minor < 202) {
        *error =
            QStringLiteral("XInput 2.2 is not available (the X server offers %1.%2)").arg(major).arg(minor);
    } else {
        m_display = display;
        m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { service(); });
        return true;
    }
    {
        std::lock_guard lock(g_displaysMutex);
        g_ourDisplays.remove(display);
    }
    XCloseDisplay(display);
    return false;
}

void X11InputHooks::close() {
    if (!m_display) {
        return;
    }
    m_notifier.reset();
    Display* display = m_display;
    m_display = nullptr;
    m_keySink = nullptr;
    m_mouseSink = nullptr;
    XCloseDisplay(display);
    std::lock_guard lock(g_displaysMutex);
    g_ourDisplays.remove(display);
}

void X11InputHooks::updateSelection() {
    if (!m_keySink && !m_mouseSink) {
        close();
        return;
    }
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    if (m_keySink) {
        XISetMask(bits.data(), XI_RawKeyPress);
        XISetMask(bits.data(), XI_RawKeyRelease);
    }
    if (m_mouseSink) {
        XISetMask(bits.data(), XI_RawButtonPress);
        XISetMask(bits.data(), XI_RawButtonRelease);
    }
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = static_cast<int>(bits.size());
    mask.mask = bits.data();
    XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1);
    // A round trip, so that the selection holds once an install returns; events
    // read meanwhile wait in Xlib's queue, where the notifier cannot see them.
    XSync(m_display, False);
    if (XEventsQueued(m_display, QueuedAlready) > 0) {
        QTimer::singleShot(0, m_notifier.get(), [this] { service(); });
    }
}

bool X11InputHooks::installKeyboard(KeySink sink, QString* error) {
    if (!open(error)) {
        return false;
    }
    m_keySink = std::move(sink);
    updateSelection();
    return true;
}

bool X11InputHooks::installMouse(MouseSink sink, QString* error) {
    if (!open(error)) {
        return false;
    }
    m_mouseSink = std::move(sink);
    updateSelection();
    return true;
}

void X11InputHooks::uninstallKeyboard() {
    if (m_display && m_keySink) {
        m_keySink = nullptr;
        updateSelection();
    }
}

void X11InputHooks::uninstallMouse() {
    if (m_display && m_mouseSink) {
        m_mouseSink = nullptr;
        updateSelection();
    }
}

void X11InputHooks::setLostHandler(LostHandler handler) {
    m_lost = std::move(handler);
}

void X11InputHooks::service() {
    while (!m_ioFailed && m_display && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            continue;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (event.type != GenericEvent || cookie->extension != m_xiOpcode ||
            !XGetEventData(m_display, cookie)) {
            continue;
        }
        const int detail = static_cast<const XIRawEvent*>(cookie->data)->detail;
        const int evtype = cookie->evtype;
        XFreeEventData(m_display, cookie);
        dispatch(evtype, detail);
    }
    if (m_ioFailed && m_display) {
        close();
        if (m_lost) {
            m_lost(QStringLiteral("the connection to the X server was lost"));
        }
    }
}

void X11InputHooks::dispatch(int evtype, int detail) {
    switch (evtype) {
    case XI_RawKeyPress:
    case XI_RawKeyRelease: {
        const KeySym keysym = XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(detail), 0, 0);
        const int virtualKey = virtualKeyFromKeysym(keysym);
        if (virtualKey != 0 && m_keySink) {
            m_keySink(KeyEvent{virtualKey, evtype == XI_RawKeyPress, false});
        }
        break;
    }
    case XI_RawButtonPress:
    case XI_RawButtonRelease: {
        const int button = mouseCodeFromXButton(detail);
        if (button != 0 && m_mouseSink) {
            m_mouseSink(MouseEvent{button, evtype == XI_RawButtonPress, false});
        }
        break;
    }
    default:
        break;
    }
}

} // namespace velk::input
