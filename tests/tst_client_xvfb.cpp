#include "support/DemoAccount.h"
#include "support/HelperProcess.h"
#include "support/TestSupport.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <portaudio.h>

#include <cstdlib>
#include <memory>
#include <optional>

using namespace velk;

namespace {

const QString LoginTitle = QStringLiteral("VELK Client - 登录");
const QString DashboardTitle = QStringLiteral("VELK Client - 控制面板");

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

} // namespace

// The real client on an X server of its own (Xvfb), driven like a pilot
// would: sign in, pick X-Plane, open every section, close the voice mini
// window as it opens, go back and log out;
// then again under openbox, which takes the focus to the top-level window on
// every click, typing into the server page and picking a voice driver.
class TestClientXvfb : public QObject {
    Q_OBJECT

    test::XvfbServer m_xvfb;
    QProcess m_client;
    QProcess m_openbox;
    std::unique_ptr<test::WebApiTestServer> m_api;
    Display* m_x = nullptr;
    QString m_dir;

    bool xdotool(const QStringList& args, QString* out = nullptr) const { return m_xvfb.xdotool(args, out); }
    // Id of the visible window titled exactly `title`; empty when none.
    QString window(const QString& title) const {
        QString ids;
        xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &ids);
        return ids.section('\n', 0, 0);
    }
    // For QTRY: true once `id` holds the window's id. A search fails while
    // windows come and go, so an id once found is kept (QTRY checks twice).
    bool found(const QString& title, QString& id) const {
        if (id.isEmpty()) {
            id = window(title);
        }
        return !id.isEmpty();
    }
    Geometry geometry(const QString& id) const;
    QImage grab() const;
    void click(const QString& id, int x, int y) const;
    // Types the account into the focused login window and signs in.
    bool signIn() const;
    // The sidebar's selected entry is a white pill: 总览 near its top left,
    // the next four 50 px apart, 设置 below the group label "其他".
    bool pillShown(const Geometry& g, int y) const;
    bool platformChoiceShown(const Geometry& g) const;
    // Waits for the platform choice, picks X-Plane and waits for the overview.
    bool pickXPlane(const QString& id, const Geometry& g) const;
    // True when a pixel of row `y` between `x0` and `x1` of the window at `g`
    // is near `colour`.
    bool rowHas(const Geometry& g, int y, int x0, int x1, QRgb colour) const;
    // True when the keyboard goes to a window inside `id` (the dashboard's view).
    bool keyboardInside(const QString& id) const;
    bool hasProperty(const QString& id, const char* name) const { return property(id, name).has_value(); }
    // The first value of a window's property; none when it is not set.
    std::optional<long> property(const QString& id, const char* name) const;
    // What a window manager's close button sends (WM_DELETE_WINDOW).
    void closeWindow(const QString& id) const;
    // Warnings the client logged from the project's QML files.
    QStringList qmlWarnings() const;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signInPickXPlaneAndLogOut();
    void typeAndPickUnderOpenbox();
    void closingTheDashboardBesideTheVoiceMiniWindowEndsTheClient();
};

// Position on the screen from Xlib: xdotool's is off by the frame under a
// window manager.
Geometry TestClientXvfb::geometry(const QString& id) const {
    Geometry g;
    XWindowAttributes attributes;
    Window child = 0;
    if (XGetWindowAttributes(m_x, id.toULong(), &attributes) &&
        XTranslateCoordinates(m_x, id.toULong(), DefaultRootWindow(m_x), 0, 0, &g.x, &g.y, &child)) {
        g.width = attributes.width;
        g.height = attributes.height;
    }
    return g;
}

QImage TestClientXvfb::grab() const {
    const Window root = DefaultRootWindow(m_x);
    XWindowAttributes attributes;
    XGetWindowAttributes(m_x, root, &attributes);
    XImage* image = XGetImage(m_x, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image) {
        return {};
    }
    QImage out(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
            out.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y)) | 0xFF000000u);
        }
    }
    XDestroyImage(image);
    return out;
}

void TestClientXvfb::click(const QString& id, int x, int y) const {
    QVERIFY(xdotool({"mousemove", "--window", id, QString::number(x), QString::number(y)}));
    QVERIFY(xdotool({"click", "1"}));
}

bool TestClientXvfb::signIn() const {
    return xdotool({"key", "ctrl+a"}) && xdotool({"type", "--delay", "20", "pilot01"}) &&
           xdotool({"key", "Tab"}) && xdotool({"type", "--delay", "20", "secret"}) &&
           xdotool({"key", "Return"});
}

bool TestClientXvfb::pillShown(const Geometry& g, int y) const {
    const QRgb pixel = grab().pixel(g.x + 200, g.y + y);
    return qRed(pixel) > 245 && qGreen(pixel) > 245 && qBlue(pixel) > 245;
}

bool TestClientXvfb::platformChoiceShown(const Geometry& g) const {
    return qGray(grab().pixel(g.x + g.width / 2, g.y + g.height - 40)) < 160;
}

bool TestClientXvfb::pickXPlane(const QString& id, const Geometry& g) const {
    if (!QTest::qWaitFor([&] { return platformChoiceShown(g); }, 30000)) {
        return false;
    }
    // The X-Plane card: the right half of a centred row, about the window's middle.
    const int column = std::min(g.width * 9 / 10, 1100);
    const int card = (column - 40) / 2;
    click(id, g.width / 2 + 20 + card / 2, g.height / 2);
    return QTest::qWaitFor([&] { return pillShown(g, 134); }, 30000);
}

bool TestClientXvfb::rowHas(const Geometry& g, int y, int x0, int x1, QRgb colour) const {
    const QImage screen = grab();
    for (int x = x0; x <= x1; ++x) {
        const QRgb pixel = screen.pixel(g.x + x, g.y + y);
        if (std::abs(qRed(pixel) - qRed(colour)) + std::abs(qGreen(pixel) - qGreen(colour)) +
                std::abs(qBlue(pixel) - qBlue(colour)) <
            40) {
            return true;
        }
    }
    return false;
}

bool TestClientXvfb::keyboardInside(const QString& id) const {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(m_x, &focus, &revert);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (focus == None || focus == PointerRoot || !XQueryTree(m_x, focus, &root, &parent, &children, &count)) {
        return false;
    }
    if (children) {
        XFree(children);
    }
    return parent == id.toULong();
}

std::optional<long> TestClientXvfb::property(const QString& id, const char* name) const {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<long> value;
    if (XGetWindowProperty(m_x, id.toULong(), XInternAtom(m_x, name, False), 0, 1, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        type != None) {
        value = format == 32 && count == 1 ? reinterpret_cast<const long*>(data)[0] : 0;
    }
    if (data) {
        XFree(data);
    }
    return value;
}

void TestClientXvfb::closeWindow(const QString& id) const {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = id.toULong();
    event.xclient.message_type = XInternAtom(m_x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    QVERIFY(XSendEvent(m_x, id.toULong(), False, NoEventMask, &event));
    XFlush(m_x);
}

QStringList TestClientXvfb::qmlWarnings() const {
    QStringList out;
    const QDir logs(m_dir + "/logs");
    for (const QString& name : logs.entryList({"*.log"}, QDir::Files)) {
        QFile file(logs.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
            const bool warning = line.contains("| WARN  |") || line.contains("| ERROR |");
            if (warning && (line.contains("qrc:/src/ui/view/") || line.contains(".qml:"))) {
                out << line;
            }
        }
    }
    return out;
}

void TestClientXvfb::initTestCase() {
    if (const QString reason = test::XvfbServer::skipReason(); !reason.isEmpty()) {
        QSKIP(qPrintable(reason));
    }
    QString error;
    QVERIFY2(m_xvfb.start({"-noreset", "-screen", "0", "1366x768x24", "-nolisten", "tcp"}, &error),
             qPrintable(error));
    m_x = XOpenDisplay(m_xvfb.display().toLatin1().constData());
    QVERIFY(m_x);

    m_api = std::make_unique<test::WebApiTestServer>();
    test::DemoAccount::install(*m_api);

    m_dir = test::freshDir("client");
    const QString exe = m_dir + "/velk-client";
    QVERIFY(QFile::copy(QStringLiteral(VELK_CLIENT_PATH), exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_xvfb.display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("VELK_API_BASE_URL", m_api->url().toString());
    env.insert("VELK_FSD_SERVER", QString("127.0.0.1:%1").arg(test::WebApiTestServer::closedPort()));
    m_client.setProcessEnvironment(env);
    m_client.setProcessChannelMode(QProcess::ForwardedChannels);
    test::endWithTest(m_client);
    m_client.start(exe, {});
    QVERIFY(m_client.waitForStarted());
}

void TestClientXvfb::cleanupTestCase() {
    for (QProcess* process : {&m_client, &m_openbox}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(30000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    if (m_x) {
        XCloseDisplay(m_x);
    }
    m_xvfb.stop();
}

void TestClientXvfb::signInPickXPlaneAndLogOut() {
    const QString shots = m_dir + "/screenshots/";
    QDir().mkpath(shots);
    QString login;
    QTRY_VERIFY_WITH_TIMEOUT(found(LoginTitle, login), 60000);
    QVERIFY(xdotool({"windowfocus", "--sync", login}));
    QVERIFY(signIn());

    QString dashboard;
    QTRY_VERIFY_WITH_TIMEOUT(found(DashboardTitle, dashboard), 60000);
    QVERIFY(window(LoginTitle).isEmpty());
    QCOMPARE(m_api->requestsTo("/users/sessions").first().json().value("username").toString(), "pilot01");
    const Geometry g = geometry(dashboard);
    QVERIFY(g.width >= 1000 && g.height >= 700);
    // Where the centred login window was, moved up to stay on a laptop's 1366×768 screen.
    QVERIFY(g.y >= 0 && g.y + g.height <= 768);
    const QList<QPair<QString, int>> sections{{"dashboard", 134}, {"simulator", 184}, {"server", 234},
                                              {"voice", 284},     {"messages", 334},  {"settings", 414}};
    const auto pillShown = [&](int y) { return this->pillShown(g, y); };
    const auto pageArea = [&] { return grab().copy(g.x + 260, g.y, g.width - 260, g.height); };
    QTRY_VERIFY_WITH_TIMEOUT(platformChoiceShown(g), 30000);
    QVERIFY(grab().save(shots + "platform-choice.png"));
    QVERIFY(pickXPlane(dashboard, g));
    QVERIFY(grab().save(shots + "dashboard.png"));

    // Every section opens its own page: the pill moves and the page changes.
    QImage previous = pageArea();
    for (qsizetype i = 1; i <= sections.size(); ++i) {
        const auto& [name, y] = sections.at(i % sections.size());
        click(dashboard, 120, y);
        QTRY_VERIFY2_WITH_TIMEOUT(pillShown(y) && !pillShown(sections.at(i - 1).second), qPrintable(name),
                                  30000);
        QTRY_VERIFY2_WITH_TIMEOUT(pageArea() != previous, qPrintable(name), 30000);
        previous = pageArea();
        QVERIFY(grab().save(shots + "section-" + name + ".png"));
    }
    QCOMPARE(qmlWarnings(), QStringList());

    // Without a window manager, one close request sent the moment the voice
    // mini window shows closes it, every time, back on the voice section.
    click(dashboard, 120, 284);
    QTRY_VERIFY_WITH_TIMEOUT(pillShown(284), 30000);
    const QString miniTitle = QStringLiteral("语音服务");
    for (int i = 0; i < 4; ++i) {
        click(dashboard, g.width - 86, 53);
        QString mini;
        QTRY_VERIFY_WITH_TIMEOUT(found(miniTitle, mini), 30000);
        closeWindow(mini);
        QTRY_VERIFY2_WITH_TIMEOUT(window(miniTitle).isEmpty() && pillShown(284),
                                  qPrintable(QString::number(i)), 30000);
    }

    // Back to the platform choice (sidebar, bottom left), then log out.
    click(dashboard, 216, g.height - 45);
    QTRY_VERIFY_WITH_TIMEOUT(!pillShown(134), 30000);
    click(dashboard, g.width / 2, g.height / 2 + 195);
    QString loginAgain;
    QTRY_VERIFY_WITH_TIMEOUT(found(LoginTitle, loginAgain), 30000);
    QVERIFY(window(DashboardTitle).isEmpty());
    QVERIFY(grab().save(shots + "login-again.png"));
    QCOMPARE(qmlWarnings(), QStringList());
}

void TestClientXvfb::typeAndPickUnderOpenbox() {
    if (QStandardPaths::findExecutable("openbox").isEmpty()) {
        QSKIP("openbox is needed (scripts/install-deps.sh installs it)");
    }
    QString login;
    QTRY_VERIFY_WITH_TIMEOUT(found(LoginTitle, login), 30000);
    // Its usual binding: a press in a window focuses and raises it.
    const QString config = m_dir + "/openbox";
    QVERIFY(QDir().mkpath(config));
    QFile rc(config + "/rc.xml");
    QVERIFY(rc.open(QIODevice::WriteOnly));
    rc.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <mouse><context name="Client">
    <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
  </context></mouse>
</openbox_config>
)");
    rc.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_xvfb.display());
    // Nothing read from or written to the user's own folders.
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_CACHE_HOME", config);
    m_openbox.setProcessEnvironment(env);
    m_openbox.setStandardOutputFile(QProcess::nullDevice());
    m_openbox.setStandardErrorFile(QProcess::nullDevice());
    test::endWithTest(m_openbox);
    m_openbox.start("openbox", {"--sm-disable", "--config-file", rc.fileName()});
    QVERIFY(m_openbox.waitForStarted());
    // Managed once framed.
    QTRY_VERIFY_WITH_TIMEOUT(hasProperty(login, "_NET_FRAME_EXTENTS"), 30000);
    QVERIFY(xdotool({"windowactivate", "--sync", login}));
    QVERIFY(signIn());

    QString dashboard;
    QTRY_VERIFY_WITH_TIMEOUT(found(DashboardTitle, dashboard), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(hasProperty(dashboard, "_NET_FRAME_EXTENTS"), 30000);
    const Geometry g = geometry(dashboard);
    QVERIFY(pickXPlane(dashboard, g));

    // A click shows the control's blue ring at its left edge once the view
    // has the focus; the keyboard must reach the view then.
    const QRgb ring = qRgb(0x3B, 0x82, 0xF6);
    const auto focusByClick = [&](int left, int y, int clickX) {
        click(dashboard, clickX, y);
        return QTest::qWaitFor([&] { return rowHas(g, y, left - 6, left + 6, ring); }, 30000) &&
               QTest::qWaitFor([&] { return keyboardInside(dashboard); }, 30000);
    };
    // Server page: callsign, then type code (the right-hand of the three
    // fields, half of what the fixed SELCAL field leaves); the form's red
    // notice goes once both are in.
    click(dashboard, 120, 234);
    QTRY_VERIFY_WITH_TIMEOUT(pillShown(g, 234), 30000);
    const QRgb formError = qRgb(0xF4, 0x3F, 0x5E);
    QTRY_VERIFY_WITH_TIMEOUT(rowHas(g, 295, 280, 700, formError), 30000);
    QVERIFY(focusByClick(288, 211, 340));
    QVERIFY(xdotool({"type", "--delay", "20", "CES2352"}));
    const int typeCodeLeft = (g.width + 439) / 2;
    QVERIFY(focusByClick(typeCodeLeft, 211, typeCodeLeft + 60));
    QVERIFY(xdotool({"type", "--delay", "20", "A320"}));
    QTRY_VERIFY_WITH_TIMEOUT(!rowHas(g, 295, 280, 700, formError), 30000);

    // Settings, voice: the driver list's second entry (OSS; ALSA comes
    // first), then save.
    click(dashboard, 120, 414);
    QTRY_VERIFY_WITH_TIMEOUT(pillShown(g, 414), 30000);
    click(dashboard, 445, 185);
    QTRY_VERIFY_WITH_TIMEOUT(qGray(grab().pixel(g.x + 445, g.y + 185)) < 80, 30000);
    const int combo = g.width - 200;
    QVERIFY(focusByClick(634, 89, combo));
    click(dashboard, combo, 179);
    click(dashboard, 414, g.height - 47);
    const auto savedDriver = [&] {
        return QSettings(m_dir + "/config.ini", QSettings::IniFormat).value("Voice/Driver").toInt();
    };
    QTRY_COMPARE_WITH_TIMEOUT(savedDriver(), int(paOSS), 30000);
    QCOMPARE(qmlWarnings(), QStringList());
}

// The voice page's 缩小 opens the mini window beside the dashboard; its ⤢ and
// the window manager's close each bring back the dashboard from minimised;
// closing the dashboard still ends the client.
void TestClientXvfb::closingTheDashboardBesideTheVoiceMiniWindowEndsTheClient() {
    QString dashboard;
    if (!found(DashboardTitle, dashboard)) {
        QSKIP("needs the dashboard that the openbox check leaves open");
    }
    const Geometry g = geometry(dashboard);
    click(dashboard, 120, 284);
    QTRY_VERIFY_WITH_TIMEOUT(pillShown(g, 284), 30000);
    const QString miniTitle = QStringLiteral("语音服务");
    for (const bool expand : {true, false}) {
        click(dashboard, g.width - 86, 53);
        QString mini;
        QTRY_VERIFY_WITH_TIMEOUT(found(miniTitle, mini), 30000);
        QVERIFY(xdotool({"windowminimize", "--sync", dashboard}));
        // Known to the client before the mini window is used.
        QTRY_COMPARE_WITH_TIMEOUT(property(dashboard, "WM_STATE"), std::optional<long>(IconicState), 30000);
        if (expand) {
            click(mini, 257, 29);
        } else {
            closeWindow(mini);
        }
        // Drawn again, on the voice section.
        QTRY_VERIFY_WITH_TIMEOUT(window(miniTitle).isEmpty() && pillShown(g, 284), 30000);
    }
    click(dashboard, g.width - 86, 53);
    QString mini;
    QTRY_VERIFY_WITH_TIMEOUT(found(miniTitle, mini), 30000);
    closeWindow(dashboard);
    QVERIFY(m_client.waitForFinished(30000));
    QCOMPARE(m_client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_client.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestClientXvfb)
#include "tst_client_xvfb.moc"
