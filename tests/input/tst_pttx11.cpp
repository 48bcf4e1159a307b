// Push-to-talk through the X11 input layer, against an X server of the test's
// own (Xvfb) driven by xdotool. The Qt platform stays offscreen: only the layer
// uses DISPLAY.
#include "input/PttService.h"
#include "support/MessageLog.h"
#include "support/XvfbServer.h"

#include <QSignalSpy>
#include <QTest>

using namespace velk::input;
using velk::test::MessageLog;

namespace {
constexpr const char* kRightCtrlKeycode = "105"; // Control_R; by name xdotool also presses the left one
constexpr const char* kLeftCtrlKeycode = "37";
} // namespace

class TestPttX11 : public QObject {
    Q_OBJECT

    velk::test::XvfbServer m_xvfb;

    bool xdotool(const QStringList& args) { return m_xvfb.xdotool(args); }

private slots:
    void initTestCase() {
        if (const QString reason = velk::test::XvfbServer::skipReason(); !reason.isEmpty()) {
            QSKIP(qPrintable(reason));
        }
        // -noreset: a desktop stays up between clients, whereas Xvfb would reset
        // whenever a test's service (its only client) closes, dropping the next
        // one's connection.
        QString error;
        if (!m_xvfb.start({"-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24"}, &error)) {
            QSKIP(qPrintable("Xvfb cannot start: " + error));
        }
        qputenv("DISPLAY", m_xvfb.display().toLocal8Bit());
    }

    void cleanupTestCase() { m_xvfb.stop(); }

    void rightCtrlFollowsKeycode105() {
        PttService service;
        service.setBoundKey(QStringLiteral("kb:163"));
        QSignalSpy active(&service, &PttService::activeChanged);
        QVERIFY(
            xdotool({"keydown", kLeftCtrlKeycode, "keyup", kLeftCtrlKeycode, "keydown", kRightCtrlKeycode}));
        QTRY_COMPARE(active.count(), 1);
        QVERIFY(service.isActive());
        QVERIFY(xdotool({"keyup", kRightCtrlKeycode}));
        QTRY_COMPARE(active.count(), 2);
        QVERIFY(!service.isActive());
    }

    void listeningTurnsButton8IntoMs8AndIgnoresTheWheel() {
        PttService service;
        QSignalSpy captured(&service, &PttService::keyCaptured);
        service.startListening();
        QVERIFY(xdotool({"click", "4", "click", "5", "click", "8"}));
        QTRY_COMPARE(captured.count(), 1);
        QCOMPARE(captured.at(0).at(0).value<PttKey>().text(), QStringLiteral("ms:8"));
    }

    // Last: it ends the X server.
    void losingTheXServerReleasesAndWarnsOnce() {
        MessageLog log;
        {
            PttService service;
            service.setBoundKey(QStringLiteral("kb:163"));
            QVERIFY(xdotool({"keydown", kRightCtrlKeycode}));
            QTRY_VERIFY(service.isActive());
            m_xvfb.kill();
            QTRY_VERIFY(!service.isActive());
            QCOMPARE(log.count(QStringLiteral("PttHandler: keyboard and mouse hooks lost, error:")), 1);
        }
        PttService withoutServer;
        QCOMPARE(log.count(QStringLiteral("PttHandler: keyboard hook failed, error: cannot open X display")),
                 1);
        QCOMPARE(log.count(QStringLiteral("PttHandler: mouse hook failed, error: cannot open X display")), 1);
    }
};

QTEST_GUILESS_MAIN(TestPttX11)
#include "tst_pttx11.moc"
