#include "network/SwiftAircraftIcaoService.h"
#include "support/AircraftIcaoFixtures.h"
#include "support/Fifo.h"
#include "support/MessageLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace velk;
using network::AircraftIcaoRecord;
using network::SwiftAircraftIcaoService;

namespace {

const QString kNotReadyNotice = QStringLiteral("Swift aircraft ICAO SQLite data is not ready");

// The name of a service's SQL connection: its address in lower-case hex.
QString connectionOf(const SwiftAircraftIcaoService* service) {
    return QStringLiteral("swift_aircraft_icao_%1").arg(reinterpret_cast<quintptr>(service), 0, 16);
}

} // namespace

class TestAircraftIcaoStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::isolateUserDataFolder(); }

    void firstStartWithNoDataCreatesTheSchemaAndStaysNotReady() {
        const QString dir = test::freshDir(QStringLiteral("fresh"));
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);

        const QString path = test::icaoDatabasePath(dir);
        QVERIFY(QFile::exists(path));
        QStringList created = test::icaoSchema();
        created.replaceInStrings(QStringLiteral(" IF NOT EXISTS"), QString());
        QCOMPARE(test::storedSchema(path), created);
        QVERIFY(!service.isReady());
        QVERIFY(service.isDatabaseOpen());
        QVERIFY(!service.isOpenedReadOnly());
        QCOMPARE(service.currentDatabasePath(), path);
        QVERIFY(log.contains(QStringLiteral("Using writable swift aircraft ICAO SQLite database:")));

        // Each call retries once and returns; the notice is written only once.
        service.ensureReady();
        service.ensureReady();
        service.ensureReady();
        QVERIFY(!service.isReady());
        QCOMPARE(log.count(kNotReadyNotice), 1);

        const auto n = service.normalizeDesignator(QStringLiteral(" b738 "));
        QCOMPARE(n.input, QStringLiteral(" b738 "));
        QCOMPARE(n.normalized, QStringLiteral("B738"));
        QVERIFY(!n.found);
        QVERIFY(!n.exact);
        QVERIFY(service.searchDesignators(QStringLiteral("B7"), 8).isEmpty());
        QVERIFY(service.recordsForDesignator(QStringLiteral("B738")).isEmpty());
    }

    void existingFileThatCannotTakeTheSchemaIsUsedReadOnly() {
        // A shipped copy whose table is a view: the read-write open cannot
        // complete the schema (views take no index), so the file is read as is.
        const QString dir = test::freshDir(QStringLiteral("readonly-view"));
        const QString path = test::icaoDatabasePath(dir);
        QVERIFY(test::runSql(
            path,
            {QStringLiteral("CREATE TABLE metadata (key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
             QStringLiteral("INSERT INTO metadata VALUES ('latest_snapshot', 'shipped-2024')"),
             QStringLiteral("CREATE TABLE types (d TEXT, m TEXT)"),
             QStringLiteral("INSERT INTO types VALUES ('B738', 'Boeing'), ('A20N', 'Airbus')"),
             QStringLiteral("CREATE VIEW aircraft_icao AS SELECT rowid AS id, d AS designator, m AS "
                            "manufacturer, '' AS model, 'L2J' AS type, 'J' AS engine, 2 AS engine_count, 'M' "
                            "AS wake_turbulence_category, 0 AS rank, 1 AS real_world, 0 AS legacy, 0 AS "
                            "military, '' AS created, '' AS last_updated FROM types")}));
        const QStringList schemaBefore = test::storedSchema(path);

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QVERIFY(service.isOpenedReadOnly());
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("shipped-2024"));
        QVERIFY(log.contains(QStringLiteral("Using swift aircraft ICAO SQLite database read-only:")));
        QCOMPARE(service.normalizeDesignator(QStringLiteral("a20n")).normalized, QStringLiteral("A20N"));
        QCOMPARE(test::storedSchema(path), schemaBefore);
    }

    void writeProtectedFileIsUsedReadOnly() {
        if (::geteuid() == 0) {
            QSKIP("file permissions do not bind the superuser");
        }
        const QString dir = test::freshDir(QStringLiteral("readonly-mode"));
        const QString path = test::icaoDatabasePath(dir);
        QVERIFY(test::writeIcaoDatabase(path, {test::icaoRecord(1, QStringLiteral("B738"))}));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QVERIFY(service.isOpenedReadOnly());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    // Random bytes ("file is not a database"), a copy cut in half ("disk
    // image is malformed") or a sound file whose tables have other columns:
    // kept under a new name, untouched, and the store is rebuilt.
    void damagedDatabaseIsSetAsideAndRebuiltFromTheImports_data() {
        QTest::addColumn<bool>("truncatedCopy");
        QTest::addColumn<QStringList>("foreignSchema");
        QTest::newRow("random bytes") << false << QStringList();
        QTest::newRow("half of a real database") << true << QStringList();
        QTest::newRow("type table with other columns")
            << false
            << QStringList{QStringLiteral("CREATE TABLE aircraft_icao (code TEXT, name TEXT)"),
                           QStringLiteral("INSERT INTO aircraft_icao VALUES ('T1', 'Trainer')")};
        QTest::newRow("metadata table with other columns")
            << false << QStringList{QStringLiteral("CREATE TABLE metadata (name TEXT)")};
    }

    void damagedDatabaseIsSetAsideAndRebuiltFromTheImports() {
        QFETCH(bool, truncatedCopy);
        QFETCH(QStringList, foreignSchema);
        const QString dir = test::freshDir(QStringLiteral("damaged"));
        const QString path = test::icaoDatabasePath(dir);
        QByteArray damaged;
        if (!foreignSchema.isEmpty()) {
            QVERIFY(test::runSql(path, foreignSchema));
            damaged = test::readFile(path);
        } else if (truncatedCopy) {
            QList<AircraftIcaoRecord> rows;
            for (int id = 1; id <= 3000; ++id) {
                rows.append(
                    test::icaoRecord(id, QStringLiteral("T%1").arg(id % 997), QStringLiteral("Maker")));
            }
            QVERIFY(test::writeIcaoDatabase(path, rows));
            damaged = test::readFile(path);
            damaged.truncate(damaged.size() / 2);
        } else {
            QRandomGenerator random(8643);
            for (int i = 0; i < 16384; ++i) {
                damaged.append(static_cast<char>(random.bounded(256)));
            }
        }
        QVERIFY(test::writeFile(path, damaged));
        QVERIFY(test::writeFile(dir + QStringLiteral("/resources/Doc8643.txt"),
                                "Boeing\t737-800\tB738\tL2J\tM\n"));

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QVERIFY(!service.isOpenedReadOnly());
        QVERIFY(service.normalizeDesignator(QStringLiteral("B738")).found);
        QVERIFY(!service.normalizeDesignator(QStringLiteral("T1")).found);
        QCOMPARE(test::storedSchema(path).size(), 3);
        const QFileInfoList aside = QDir(dir + QStringLiteral("/cache/swift"))
                                        .entryInfoList({QStringLiteral("aircrafticao.sqlite.damaged-*")});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(test::readFile(aside[0].absoluteFilePath()), damaged);
        QVERIFY(log.contains(QStringLiteral("Moved damaged swift aircraft ICAO SQLite database aside:")));
    }

    // Another process's write lock: each keystroke asks the service again, but
    // only a lapsed back-off tries the file again; the file is never touched.
    void lockedDatabaseIsLeftAloneAndTriedAgainOnlyAfterABackOff() {
        const QString dir = test::freshDir(QStringLiteral("locked"));
        const QString path = test::icaoDatabasePath(dir);
        QVERIFY(test::writeIcaoDatabase(path, {test::icaoRecord(1, QStringLiteral("B738"))}));
        const QByteArray stored = test::readFile(path);
        const QString holderName = QStringLiteral("icao_lock_holder");
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holderName);
            holder.setDatabaseName(path);
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        const auto release = qScopeGuard([&] {
            QSqlDatabase::database(holderName, false).close();
            QSqlDatabase::removeDatabase(holderName);
        });
        const QString busy = QStringLiteral("database is locked");

        test::MessageLog log;
        qint64 now = 0;
        SwiftAircraftIcaoService service(dir);
        service.setClock([&] { return now; });
        QVERIFY(!service.isReady());
        const int waits = log.count(busy);
        QVERIFY(waits > 0);
        for (int key = 0; key < 3; ++key) {
            service.ensureReady();
            QVERIFY(service.searchDesignators(QStringLiteral("B7"), 8).isEmpty());
        }
        QCOMPARE(log.count(busy), waits);
        now += SwiftAircraftIcaoService::LockedRetryMs;
        service.ensureReady();
        QCOMPARE(log.count(busy), 2 * waits);
        QVERIFY(!service.isReady());
        QCOMPARE(test::readFile(path), stored);
        QCOMPARE(QDir(dir + QStringLiteral("/cache/swift")).entryList(QDir::Files),
                 QStringList{QStringLiteral("aircrafticao.sqlite")});

        QVERIFY(QSqlQuery(QSqlDatabase::database(holderName, false)).exec(QStringLiteral("ROLLBACK")));
        service.ensureReady();
        QVERIFY(!service.isReady());
        now += SwiftAircraftIcaoService::LockedRetryMs;
        service.ensureReady();
        QVERIFY(service.isReady());
        QVERIFY(service.normalizeDesignator(QStringLiteral("b738")).found);
    }

    // What stands at the database's path, or at a journal's, and is no file
    // of the store's is neither opened (SQLite would wait for good on a FIFO)
    // nor moved aside or written through: the store is unavailable, said once.
    void thingThatIsNoFileAtTheDatabasePathLeavesTheStoreUnavailable_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("FIFO") << QStringLiteral("fifo") << QString();
        QTest::newRow("folder") << QStringLiteral("folder") << QString();
        QTest::newRow("link to nothing") << QStringLiteral("link") << QString();
        QTest::newRow("FIFO as journal") << QStringLiteral("fifo") << QStringLiteral("-journal");
    }

    void thingThatIsNoFileAtTheDatabasePathLeavesTheStoreUnavailable() {
        QFETCH(QString, kind);
        QFETCH(QString, suffix);
        const QString dir = test::freshDir(QStringLiteral("not-a-file"));
        const QString path = test::icaoDatabasePath(dir);
        const QString blocker = path + suffix;
        const QString elsewhere = dir + QStringLiteral("/elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        if (!suffix.isEmpty()) {
            QVERIFY(test::writeIcaoDatabase(path, {test::icaoRecord(1, QStringLiteral("B738"))}));
        }
        if (kind == QStringLiteral("fifo")) {
            QVERIFY(test::makeFifo(blocker));
        } else if (kind == QStringLiteral("folder")) {
            QVERIFY(QDir().mkpath(blocker));
        } else {
            QVERIFY(QDir().mkpath(QFileInfo(blocker).path()));
            QVERIFY(QFile::link(elsewhere + QStringLiteral("/types.sqlite"), blocker));
        }
        QVERIFY(test::writeFile(dir + QStringLiteral("/resources/Doc8643.txt"),
                                "Boeing\t737-800\tB738\tL2J\tM\n"));
        const QDir cache(dir + QStringLiteral("/cache/swift"));
        const auto entries = [&] {
            return cache.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        };
        const QStringList before = entries();

        test::MessageLog log;
        std::unique_ptr<SwiftAircraftIcaoService> service;
        QVERIFY(test::returnsPromptly({blocker}, test::kPromptMs, [&] {
            service = std::make_unique<SwiftAircraftIcaoService>(dir);
            service->ensureReady();
            service->ensureReady();
        }));
        QVERIFY(!service->isDatabaseOpen());
        QVERIFY(!service->isReady());
        QCOMPARE(service->normalizeDesignator(QStringLiteral("b738")).normalized, QStringLiteral("B738"));
        QCOMPARE(
            log.count(
                QStringLiteral("swift aircraft ICAO SQLite database is unavailable: \"%1\"").arg(blocker)),
            1);
        QCOMPARE(entries(), before);
        QVERIFY(QDir(elsewhere).isEmpty());
        QVERIFY(kind == QStringLiteral("fifo")     ? test::isFifo(blocker)
                : kind == QStringLiteral("folder") ? QFileInfo(blocker).isDir()
                                                   : QFileInfo(blocker).isSymLink());
    }

    void loadKeepsKeysAsStoredAndListsInIdOrder() {
        const QString dir = test::freshDir(QStringLiteral("load"));
        const QString path = test::icaoDatabasePath(dir);
        AircraftIcaoRecord cjk = test::icaoRecord(4, QStringLiteral("A3中"), QStringLiteral("中国商飞 COMAC"),
                                                  QStringLiteral("C919 大型客机"));
        QVERIFY(
            test::writeIcaoDatabase(path,
                                    {test::icaoRecord(7, QStringLiteral("B738"), QStringLiteral("Boeing")),
                                     test::icaoRecord(3, QStringLiteral("B738"), QStringLiteral("Boeing Co")),
                                     test::icaoRecord(5, QStringLiteral("b73x")),
                                     test::icaoRecord(9, QString(), QStringLiteral("nobody")), cjk},
                                    {{QStringLiteral("source_url"), QStringLiteral("somewhere")}}));
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QCOMPARE(service.currentSnapshotName(), QString());
        // B738, b73x and A3中: the empty designator is dropped, nothing is re-cased.
        QVERIFY(log.contains(QStringLiteral("designators: 3")));

        const auto b738 = service.recordsForDesignator(QStringLiteral(" b738 "));
        QCOMPARE(b738.size(), 2);
        QCOMPARE(b738[0], test::icaoRecord(3, QStringLiteral("B738"), QStringLiteral("Boeing Co")));
        QCOMPARE(b738[1].id, 7);
        // Stored lower case, so no upper-case look-up finds it.
        QVERIFY(service.recordsForDesignator(QStringLiteral("b73x")).isEmpty());

        const auto comac = service.recordsForDesignator(QStringLiteral("A3中"));
        QCOMPARE(comac.size(), 1);
        QCOMPARE(comac[0].designator, QStringLiteral("A3中"));
        QCOMPARE(comac[0].manufacturer, QStringLiteral("COMAC"));
        QCOMPARE(comac[0].model, QStringLiteral("C919"));
    }

    void firstSuccessfulLoadSignalsReadyOnceAndConsumesTheJsonCache() {
        const QString dir = test::freshDir(QStringLiteral("signal"));
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QSignalSpy spy(&service, &SwiftAircraftIcaoService::readyChanged);

        QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(dir),
                                        {test::icaoRecord(1, QStringLiteral("C172"))},
                                        {{QStringLiteral("latest_snapshot"), QStringLiteral("late")}}));
        const QString json = dir + QStringLiteral("/cache/swift/aircrafticao.json");
        QVERIFY(test::writeFile(json, R"({"data":[{"id":1,"designator":"ZZZZ"}]})"));
        service.ensureReady();
        QVERIFY(service.isReady());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("late"));
        QVERIFY(!QFile::exists(json));
        QVERIFY(service.recordsForDesignator(QStringLiteral("ZZZZ")).isEmpty());

        // A ready service reads the store no more.
        QVERIFY(test::runSql(test::icaoDatabasePath(dir),
                             {QStringLiteral("UPDATE aircraft_icao SET designator = 'C182'")}));
        service.ensureReady();
        QCOMPARE(spy.count(), 1);
        QVERIFY(service.normalizeDesignator(QStringLiteral("C172")).found);
    }

    void lostDatabaseIsReopenedByTheNextEnsureReady() {
        const QString dir = test::freshDir(QStringLiteral("lost"));
        const QString path = test::icaoDatabasePath(dir);
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isDatabaseOpen());

        // The file is removed under the open connection.
        QVERIFY(QFile::remove(path));
        service.ensureReady();
        QVERIFY(log.contains(QStringLiteral("Lost swift aircraft ICAO SQLite database; reopening:")));
        QVERIFY(service.isDatabaseOpen());
        QVERIFY(QFile::exists(path));

        // The connection is closed behind the service's back.
        QSqlDatabase::database(connectionOf(&service), false).close();
        service.ensureReady();
        QVERIFY(service.isDatabaseOpen());
        QVERIFY(QSqlDatabase::database(connectionOf(&service), false).isOpen());

        // The reopened connection reads the file that is now on disk.
        QVERIFY(test::writeIcaoDatabase(path, {test::icaoRecord(1, QStringLiteral("DH8D"))}));
        service.ensureReady();
        QVERIFY(service.isReady());
        QVERIFY(service.normalizeDesignator(QStringLiteral("dh8d")).found);
    }

    void servicesOnSeparateFoldersLiveSideBySide() {
        const QString dirA = test::freshDir(QStringLiteral("side-a"));
        const QString dirB = test::freshDir(QStringLiteral("side-b"));
        QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(dirA),
                                        {test::icaoRecord(1, QStringLiteral("AT76"))}));
        QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(dirB),
                                        {test::icaoRecord(1, QStringLiteral("E190"))}));
        auto a = std::make_unique<SwiftAircraftIcaoService>(dirA);
        SwiftAircraftIcaoService b(dirB);
        const QString nameA = connectionOf(a.get());
        QVERIFY(QSqlDatabase::contains(nameA));
        QVERIFY(QSqlDatabase::contains(connectionOf(&b)));
        QVERIFY(a->normalizeDesignator(QStringLiteral("AT76")).found);
        QVERIFY(!a->normalizeDesignator(QStringLiteral("E190")).found);
        QVERIFY(b.normalizeDesignator(QStringLiteral("E190")).found);
        a.reset();
        QVERIFY(!QSqlDatabase::contains(nameA));
        b.ensureReady();
        QVERIFY(b.isDatabaseOpen());
    }

    void processWideServiceLivesBesideTheExecutable() {
        SwiftAircraftIcaoService* service = SwiftAircraftIcaoService::instance();
        QCOMPARE(SwiftAircraftIcaoService::instance(), service);
        QCOMPARE(service->currentDatabasePath(), test::icaoDatabasePath(test::appDir()));
        QVERIFY(service->isDatabaseOpen());
    }
};

QTEST_GUILESS_MAIN(TestAircraftIcaoStore)
#include "tst_aircrafticao_store.moc"
