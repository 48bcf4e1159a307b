// A connection attempt that the server's host refuses: the error is posted,
// the session is idle again and a new attempt can start.
#include "manager/NetworkManager.h"
#include "support/WebApiTestServer.h"

#include <QSignalSpy>
#include <QTest>

using velk::common::MessageType;
using velk::manager::NetworkManager;

class TestNetworkManagerRefused : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const quint16 port = velk::test::WebApiTestServer::closedPort();
        qputenv("VELK_FSD_SERVER", QStringLiteral("127.0.0.1:%1").arg(port).toUtf8());
    }

    void refusedConnectionEndsTheAttemptOnceAndAllowsAnother() {
        NetworkManager nm;
        QSignalSpy notices(&nm, &NetworkManager::notificationPosted);
        QSignalSpy disconnected(&nm, &NetworkManager::networkDisconnected);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QVERIFY(nm.connectToNetwork(QStringLiteral("ABC_OBS"), {}, {}, true));
            QCOMPARE(nm.sessionState(), NetworkManager::Connecting);
            QTRY_COMPARE(disconnected.count(), attempt);
            QCOMPARE(disconnected.last().at(0).toBool(), false);
            QCOMPARE(nm.sessionState(), NetworkManager::Idle);
            QCOMPARE(notices.last().at(1).value<MessageType>(), MessageType::Error);
            QVERIFY(notices.last().at(0).toString().contains(QStringLiteral("ConnectionRefused")));
        }
        QCoreApplication::processEvents();
        QCOMPARE(disconnected.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerRefused)
#include "tst_networkmanager_refused.moc"
