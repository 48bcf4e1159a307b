#include "support/DemoAccount.h"
#include "support/TestSupport.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>

using namespace velk;

namespace {

const QString LoginTitle = QStringLiteral("VELK Client - 登录");
const QString DashboardTitle = QStringLiteral("VELK Client - 控制面板");

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

} // namespace

// The real client on an X server of its own (Xvfb), driven like a pilot
// would: sign in, pick X-Plane, open every section, go back and log out.
class TestClientXvfb : public QObject {
    Q_OBJECT

    test::XvfbServer m_xvfb;
    QProcess m_client;
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
    // Warnings the client logged from the project's QML files.
    QStringList qmlWarnings() const;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signInPickXPlaneAndLogOut();
};

Geometry TestClientXvfb::geometry(const QString& id) const {
    Geometry g;
    QString shell;
    xdotool({"getwindowgeometry", "--shell", id}, &shell);
    for (const QString& line : shell.split('\n')) {
        const QString key = line.section('=', 0, 0);
        const int value = line.section('=', 1).toInt();
        if (key == "X")
            g.x = value;
        if (key == "Y")
            g.y = value;
        if (key == "WIDTH")
            g.width = value;
        if (key == "HEIGHT")
            g.height = value;
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
    QVERIFY2(m_xvfb.start({"-noreset", "-screen", "0", "1280x900x24", "-nolisten", "tcp"}, &error),
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
    m_client.start(exe, {});
    QVERIFY(m_client.waitForStarted());
}

void TestClientXvfb::cleanupTestCase() {
    if (m_client.state() != QProcess::NotRunning) {
        m_client.terminate();
        if (!m_client.waitForFinished(15000)) {
            m_client.kill();
            m_client.waitForFinished();
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
    QVERIFY(xdotool({"type", "--delay", "20", "pilot01"}));
    QVERIFY(xdotool({"key", "Tab"}));
    QVERIFY(xdotool({"type", "--delay", "20", "secret"}));
    QVERIFY(xdotool({"key", "Return"}));

    QString dashboard;
    QTRY_VERIFY_WITH_TIMEOUT(found(DashboardTitle, dashboard), 60000);
    QVERIFY(window(LoginTitle).isEmpty());
    QCOMPARE(m_api->requestsTo("/users/sessions").first().json().value("username").toString(), "pilot01");
    const Geometry g = geometry(dashboard);
    QVERIFY(g.width >= 1000 && g.height >= 700);
    // The sidebar's selected entry is a white pill: 总览 near its top left,
    // the next four 50 px apart, 设置 below the group label "其他".
    const QList<QPair<QString, int>> sections{{"dashboard", 134}, {"simulator", 184}, {"server", 234},
                                              {"voice", 284},     {"messages", 334},  {"settings", 414}};
    const auto pillShown = [&](int y) {
        const QRgb pixel = grab().pixel(g.x + 200, g.y + y);
        return qRed(pixel) > 245 && qGreen(pixel) > 245 && qBlue(pixel) > 245;
    };
    const auto overviewPillShown = [&] { return pillShown(134); };
    const auto pageArea = [&] { return grab().copy(g.x + 260, g.y, g.width - 260, g.height); };
    QTRY_VERIFY_WITH_TIMEOUT(
        !grab().isNull() && qGray(grab().pixel(g.x + g.width / 2, g.y + g.height - 40)) < 160, 30000);
    QVERIFY(grab().save(shots + "platform-choice.png"));

    // The X-Plane card: the right half of a centred row, about the window's middle.
    const int column = std::min(g.width * 9 / 10, 1100);
    const int card = (column - 40) / 2;
    click(dashboard, g.width / 2 + 20 + card / 2, g.height / 2);
    QTRY_VERIFY_WITH_TIMEOUT(overviewPillShown(), 30000);
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

    // Back to the platform choice (sidebar, bottom left), then log out.
    click(dashboard, 216, g.height - 45);
    QTRY_VERIFY_WITH_TIMEOUT(!overviewPillShown(), 30000);
    click(dashboard, g.width / 2, g.height / 2 + 195);
    QString loginAgain;
    QTRY_VERIFY_WITH_TIMEOUT(found(LoginTitle, loginAgain), 30000);
    QVERIFY(window(DashboardTitle).isEmpty());
    QVERIFY(grab().save(shots + "login-again.png"));
    QCOMPARE(qmlWarnings(), QStringList());
}

QTEST_GUILESS_MAIN(TestClientXvfb)
#include "tst_client_xvfb.moc"
