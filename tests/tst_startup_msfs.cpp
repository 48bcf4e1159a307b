#include "Startup.h"
#include "manager/NetworkManager.h"
#include "support/StandInSimConnect.h"

#include <QSignalSpy>
#include <QTest>

using namespace velk;

// Choosing MSFS hands the back end to the session manager, whose request is
// the connection's only start.
class TestStartupMsfs : public QObject {
    Q_OBJECT

private slots:
    void activationOpensTheConnectionOnce() {
        qunsetenv("APPDATA");
        qunsetenv("LOCALAPPDATA");
        StandInSimConnect lib; // outlives the back end's last Close
        onLoginSuccess();
        activateMsfsBackend();
        std::shared_ptr<simulator::Simulator> backEnd = networkManager()->simulator();
        QVERIFY(backEnd);
        QSignalSpy state(backEnd.get(), &simulator::Simulator::simConnectionStateChanged);
        QTRY_COMPARE(state.size(), 1);
        // Everything activation queued has run once a call queued after it has.
        bool turned = false;
        QMetaObject::invokeMethod(
            this, [&turned] { turned = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(turned);
        QCOMPARE(lib.callsOf("SimConnect_Open").size(), 1);
        QCOMPARE(state.size(), 1);
        QCOMPARE(state[0][0].toBool(), true);
        backEnd.reset();
        tearDownSession();
    }
};

QTEST_MAIN(TestStartupMsfs)
#include "tst_startup_msfs.moc"
