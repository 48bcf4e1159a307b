// A connection attempt that fails before a connection exists: the server's
// host refuses it, or its name does not resolve. The error is posted, the
// session is idle again and a new attempt can start.
#include "AppConfig.h"
#include "manager/NetworkManager.h"
#include "support/MessageLog.h"
#include "support/WebApiTestServer.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTest>

using velk::common::MessageType;
using velk::manager::NetworkManager;

class TestNetworkManagerRefused : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A name, so that each test decides what it resolves to.
        const quint16 port = velk::test::WebApiTestServer::closedPort();
        qputenv("VELK_FSD_SERVER", QStringLiteral("fsd.test.invalid:%1").arg(port).toUtf8());
        velk::AppConfig::instance()->setValue(velk::ConfigKeys::AuthUsername, QStringLiteral("1234567"));
    }

    void aFailedAttemptEndsOnceAndAllowsAnother_data() {
        QTest::addColumn<bool>("resolves");
        QTest::addColumn<QString>("error");
        QTest::newRow("refused") << true << QStringLiteral("ConnectionRefused");
        QTest::newRow("unresolved")
            << false
            << QStringLiteral("Network server address returned null, possibly due to a failed DNS lookup.");
    }

    void aFailedAttemptEndsOnceAndAllowsAnother() {
        QFETCH(bool, resolves);
        QFETCH(QString, error);
        NetworkManager nm;
        nm.fsdClient()->setHostResolver([resolves](const QString&) {
            return resolves ? QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)}
                            : QList<QHostAddress>{};
        });
        QSignalSpy notices(&nm, &NetworkManager::notificationPosted);
        QSignalSpy disconnected(&nm, &NetworkManager::networkDisconnected);
        const velk::test::MessageLog log;
        for (int attempt = 1; attempt <= 2; ++attempt) {
            // An unresolved name fails at once; a refusal comes later.
            QCOMPARE(nm.connectToNetwork(QStringLiteral("ABC_OBS"), {}, {}, true), resolves);
            QTRY_COMPARE(disconnected.count(), attempt);
            QCOMPARE(disconnected.last().at(0).toBool(), false);
            QCOMPARE(nm.sessionState(), NetworkManager::Idle);
            QCOMPARE(notices.count(), 2 * attempt);
            QCOMPARE(notices.at(notices.count() - 2).at(0).toString(),
                     QStringLiteral("Connecting to network..."));
            QCOMPARE(notices.last().at(1).value<MessageType>(), MessageType::Error);
            QVERIFY2(notices.last().at(0).toString().contains(error),
                     qPrintable(notices.last().at(0).toString()));
            QCOMPARE(log.count(QStringLiteral(R"(FSD connecting to "fsd.test.invalid")")), attempt);
            QCOMPARE(log.count(QStringLiteral("FSD connection attempt failed:")), attempt);
            QCOMPARE(log.count(error), attempt);
        }
        QCoreApplication::processEvents();
        QCOMPARE(disconnected.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerRefused)
#include "tst_networkmanager_refused.moc"
