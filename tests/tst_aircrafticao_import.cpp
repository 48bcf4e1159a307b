#include "network/SwiftAircraftIcaoService.h"
#include "support/AircraftIcaoFixtures.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace velk;
using network::AircraftIcaoRecord;
using network::SwiftAircraftIcaoService;

namespace {

QString jsonPath(const QString& dir) {
    return dir + QStringLiteral("/cache/swift/aircrafticao.json");
}

QList<int> ids(const QList<AircraftIcaoRecord>& records) {
    QList<int> out;
    for (const auto& r : records) {
        out.append(r.id);
    }
    return out;
}

// A database that holds something but no usable snapshot, so that imports
// run and anything they leave behind shows.
void seedUnusableStore(const QString& dir) {
    QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(dir), {test::icaoRecord(77, QString())},
                                    {{QStringLiteral("latest_snapshot"), QStringLiteral("old")}}));
}

void verifyStoreUntouched(const QString& dir) {
    const QString path = test::icaoDatabasePath(dir);
    QCOMPARE(ids(test::storedRows(path)), QList<int>{77});
    QCOMPARE(test::storedMetadata(path),
             (QMap<QString, QString>{{QStringLiteral("latest_snapshot"), QStringLiteral("old")}}));
}

bool makeSparseFile(const QString& path, qint64 size) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

} // namespace

class TestAircraftIcaoImport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::isolateUserDataFolder(); }

    void init() {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).removeRecursively();
    }

    void legacyDatabaseIsCopiedFromTheUserDataFolder() {
        const QString dir = test::freshDir(QStringLiteral("legacy-user"));
        const QString source = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                               QStringLiteral("/cache/swift/aircrafticao.sqlite");
        const QList<AircraftIcaoRecord> rows = {test::icaoRecord(1, QStringLiteral("A20N")),
                                                test::icaoRecord(2, QStringLiteral("B38M"))};
        QVERIFY(test::writeIcaoDatabase(source, rows,
                                        {{QStringLiteral("latest_snapshot"), QStringLiteral("2024-05")}}));
        QVERIFY(test::writeFile(jsonPath(dir),
                                "{\"latest\":\"json\",\"data\":[{\"id\":1,\"designator\":\"C172\"}]}"));
        QVERIFY(
            test::writeFile(dir + QStringLiteral("/resources/Doc8643.txt"), "Cessna\t172\tC172\tL1P\tL\n"));

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("2024-05"));
        QCOMPARE(test::storedRows(test::icaoDatabasePath(dir)), rows);
        QCOMPARE(test::storedRows(source), rows);
        QVERIFY(log.contains(
            QStringLiteral("Migrated \"legacy AppData\" swift aircraft ICAO SQLite database to:")));
        QVERIFY(!service.normalizeDesignator(QStringLiteral("C172")).found);
        QVERIFY(!log.contains(QStringLiteral("Imported Doc8643")));
    }

    void emptyLegacyDatabaseIsSkippedForTheSiblingCopy() {
        const QString dir = test::freshDir(QStringLiteral("legacy-sibling"));
        const QString userCopy = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                                 QStringLiteral("/cache/swift/aircrafticao.sqlite");
        QVERIFY(test::writeIcaoDatabase(userCopy, {}));
        const QList<AircraftIcaoRecord> rows = {test::icaoRecord(5, QStringLiteral("DH8D"))};
        QVERIFY(test::writeIcaoDatabase(dir + QStringLiteral("/bin/cache/swift/aircrafticao.sqlite"), rows));

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(log.contains(
            QStringLiteral("Skip migrating \"legacy AppData\" swift aircraft ICAO SQLite database "
                           "because source is empty:")));
        QVERIFY(log.contains(QStringLiteral("Migrated \"bundled sibling\"")));
        QVERIFY(service.isReady());
        QCOMPARE(test::storedRows(test::icaoDatabasePath(dir)), rows);
    }

    void jsonCacheIsImportedWithItsFlagsAndDeleted() {
        const QString dir = test::freshDir(QStringLiteral("json"));
        QVERIFY(test::writeFile(
            jsonPath(dir),
            "{\"latest\": \"2024-07-01\", \"data\": ["
            "{\"id\": 1, \"designator\": \" a20n \", \"manufacturer\": \"Airbus\", \"model\": \"A320neo\", "
            "\"type\": \"L2J\","
            " \"engine\": \"J\", \"enginecount\": 2, \"wtc\": \"M\", \"rank\": 4, \"realworld\": \"Y\", "
            "\"legacy\": \"y\","
            " \"military\": \"YES\", \"created\": \"2019-01-01\", \"lastupdated\": \"2020-01-01\"},"
            "{\"id\": 2, \"designator\": \"C172\", \"manufacturer\": 5, \"enginecount\": \"1\", "
            "\"realworld\": true,"
            " \"military\": \" y \", \"legacy\": \"1\"},"
            "{\"id\": 3.5, \"designator\": \"B738\", \"rank\": 1e12}, {\"id\": 4}, {\"id\": 5, "
            "\"designator\": \"  \"},"
            " \"B744\", 42]}"));
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QVERIFY(!QFile::exists(jsonPath(dir)));
        QVERIFY(log.contains(
            QStringLiteral("Migrated legacy swift aircraft ICAO JSON cache into writable SQLite database")));
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("2024-07-01"));

        const QString path = test::icaoDatabasePath(dir);
        const auto rows = test::storedRows(path);
        QCOMPARE(ids(rows), (QList<int>{0, 1, 2}));
        AircraftIcaoRecord b738;
        b738.designator = QStringLiteral("B738");
        QCOMPARE(rows[0], b738);
        AircraftIcaoRecord a20n{1,
                                QStringLiteral("A20N"),
                                QStringLiteral("Airbus"),
                                QStringLiteral("A320neo"),
                                QStringLiteral("L2J"),
                                QStringLiteral("J"),
                                2,
                                QStringLiteral("M"),
                                4,
                                true,
                                true,
                                false,
                                QStringLiteral("2019-01-01"),
                                QStringLiteral("2020-01-01")};
        QCOMPARE(rows[1], a20n);
        QCOMPARE(rows[2].manufacturer, QString());
        QCOMPARE(rows[2].engineCount, 0);
        QVERIFY(!rows[2].realWorld);
        QVERIFY(!rows[2].legacy);
        QVERIFY(rows[2].military);

        const auto metadata = test::storedMetadata(path);
        QCOMPARE(metadata.keys(),
                 (QStringList{QStringLiteral("imported_at_utc"), QStringLiteral("latest_snapshot"),
                              QStringLiteral("record_count"), QStringLiteral("source_license"),
                              QStringLiteral("source_url")}));
        QCOMPARE(metadata[QStringLiteral("latest_snapshot")], QStringLiteral("2024-07-01"));
        QCOMPARE(metadata[QStringLiteral("source_url")], QStringLiteral("legacy-json-migration"));
        QCOMPARE(metadata[QStringLiteral("source_license")], QStringLiteral("migrated-from-local-json"));
        QCOMPARE(metadata[QStringLiteral("record_count")], QStringLiteral("3"));
        const QDateTime imported =
            QDateTime::fromString(metadata[QStringLiteral("imported_at_utc")], Qt::ISODate);
        QVERIFY(imported.isValid());
        QCOMPARE(imported.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(imported.secsTo(QDateTime::currentDateTimeUtc())) < 600);
    }

    void unusableJsonCacheStaysAndNothingIsWritten_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("warning");
        QTest::newRow("truncated") << QByteArray("{\"latest\":\"x\",\"data\":[{\"id\":1,\"designator\":\"B7")
                                   << QStringLiteral("swift aircraft ICAO JSON parse error:");
        QTest::newRow("not UTF-8")
            << QByteArray("{\"data\":[{\"id\":1,\"designator\":\"B738\",\"model\":\"\xff\xfe\"}]}")
            << QStringLiteral("is not valid UTF-8:");
        QTest::newRow("array at top") << QByteArray("[{\"id\":1,\"designator\":\"B738\"}]")
                                      << QStringLiteral("swift aircraft ICAO JSON parse error:");
        QTest::newRow("data not an array")
            << QByteArray("{\"data\":{\"id\":1}}")
            << QStringLiteral("swift aircraft ICAO JSON is missing data array");
        QTest::newRow("empty data") << QByteArray("{\"data\":[]}")
                                    << QStringLiteral(
                                           "swift aircraft ICAO data produced no valid designators");
        QTest::newRow("no designators")
            << QByteArray("{\"data\":[{\"id\":1},{\"id\":2,\"designator\":7}]}")
            << QStringLiteral("swift aircraft ICAO data produced no valid designators");
        // The second row breaks the primary key after the first was written.
        QTest::newRow("duplicate ids")
            << QByteArray("{\"data\":[{\"designator\":\"B738\"},{\"designator\":\"A320\"}]}")
            << QStringLiteral("Failed to insert swift aircraft ICAO row:");
    }

    void unusableJsonCacheStaysAndNothingIsWritten() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, warning);
        const QString dir = test::freshDir(QStringLiteral("bad-json"));
        seedUnusableStore(dir);
        QVERIFY(test::writeFile(jsonPath(dir), contents));

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QVERIFY(log.contains(warning));
        QVERIFY(log.contains(
            QStringLiteral("Failed to migrate legacy swift aircraft ICAO JSON cache into SQLite")));
        QVERIFY(QFile::exists(jsonPath(dir)));
        verifyStoreUntouched(dir);
    }

    void oversizedJsonCacheIsRefusedUnread() {
        const QString dir = test::freshDir(QStringLiteral("huge-json"));
        seedUnusableStore(dir);
        QVERIFY(makeSparseFile(jsonPath(dir), SwiftAircraftIcaoService::MaxSourceFileBytes + 1));
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QVERIFY(log.contains(QStringLiteral("Skipped oversized swift aircraft ICAO source file:")));
        QVERIFY(QFile::exists(jsonPath(dir)));
        verifyStoreUntouched(dir);
    }

    void jsonCacheIsRetriedOnEveryEnsureReadyWhileItExists() {
        const QString dir = test::freshDir(QStringLiteral("json-retry"));
        QVERIFY(test::writeFile(jsonPath(dir), "{\"data\":["));
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QVERIFY(test::writeFile(jsonPath(dir), "{\"data\":[{\"id\":9,\"designator\":\"E75L\"}]}"));
        service.ensureReady();
        QVERIFY(service.isReady());
        QVERIFY(service.normalizeDesignator(QStringLiteral("e75l")).exact);
        QVERIFY(!QFile::exists(jsonPath(dir)));
    }

    void doc8643TextAloneGivesAReadyDatabase() {
        const QString dir = test::freshDir(QStringLiteral("doc8643"));
        const QString file = dir + QStringLiteral("/resources/Doc8643.txt");
        QVERIFY(test::writeFile(file, QStringLiteral("Boeing\t737-800\tB738\tL2J\tM\n"   // 1
                                                     "\n"                                // 2
                                                     "Airbus\tA320neo\ta20n\tl2j\tm\r\n" // 3
                                                     "\tNo maker\tX1\tL1P\tL\n"          // 4: 4 fields left
                                                     "Cessna\t172\tC172\tL1P\n"          // 5: 4 fields
                                                     "Boeing\t747-8\tB7478\tL4J\tH\n"    // 6: 5 characters
                                                     "Single\tletter\tA\tL1P\tL\n"       // 7: 1 character
                                                     "中国商飞 COMAC\tC919 大型客机\tC919\tL2J\tm\n" // 8
                                                     "Boeing\tBBJ\tB738\tLJ\tM\n"      // 9: same type again
                                                     "Maker\t\tZZ9\tLJ2\tL\textra\n"   // 10
                                                     "Wide\tDigit\tWD2\tL\uFF12J\tL\n" // 11
                                                     "  \t \n")                        // 12
                                          .toUtf8()));
        const QDateTime stamp(QDate(2023, 4, 5), QTime(6, 7, 8), Qt::UTC);
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
        }

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QVERIFY(log.contains(
            QStringLiteral("Imported Doc8643 fallback aircraft ICAO data into SQLite database:")));
        // Six accepted lines, five designators: B738 comes twice.
        QVERIFY(log.contains(QStringLiteral("designators: 5")));
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("Doc8643 2023-04-05T06:07:08Z"));
        QVERIFY(QFile::exists(file));

        const QString path = test::icaoDatabasePath(dir);
        const auto rows = test::storedRows(path);
        QCOMPARE(ids(rows), (QList<int>{1, 3, 8, 9, 10, 11}));
        const AircraftIcaoRecord first{1,
                                       QStringLiteral("B738"),
                                       QStringLiteral("Boeing"),
                                       QStringLiteral("737-800"),
                                       QStringLiteral("L2J"),
                                       QStringLiteral("J"),
                                       2,
                                       QStringLiteral("M"),
                                       1,
                                       true,
                                       false,
                                       false,
                                       QStringLiteral("2023-04-05T06:07:08Z"),
                                       QStringLiteral("2023-04-05T06:07:08Z")};
        QCOMPARE(rows[0], first);
        QCOMPARE(rows[1].designator, QStringLiteral("A20N"));
        QCOMPARE(rows[1].manufacturer, QStringLiteral("Airbus"));
        QCOMPARE(rows[1].type, QStringLiteral("L2J"));
        QCOMPARE(rows[1].wakeTurbulenceCategory, QStringLiteral("M"));
        QCOMPARE(rows[1].rank, 3);
        QCOMPARE(rows[2].manufacturer, QStringLiteral("COMAC"));
        QCOMPARE(rows[2].model, QStringLiteral("C919"));
        QCOMPARE(rows[2].wakeTurbulenceCategory, QStringLiteral("M"));
        QCOMPARE(rows[3].engineCount, 0);
        QCOMPARE(rows[3].engine, QStringLiteral("-"));
        QCOMPARE(rows[4].model, QString());
        QCOMPARE(rows[4].engine, QStringLiteral("-"));
        QCOMPARE(rows[5].engineCount, 2);
        QCOMPARE(rows[5].engine, QStringLiteral("J"));

        const auto metadata = test::storedMetadata(path);
        QCOMPARE(metadata[QStringLiteral("record_count")], QStringLiteral("6"));
        QCOMPARE(metadata[QStringLiteral("source_url")], QStringLiteral("xpmp2-doc8643-fallback"));
        QCOMPARE(metadata[QStringLiteral("source_license")], QStringLiteral("bundled-with-xpmp2"));
        QCOMPARE(metadata[QStringLiteral("latest_snapshot")], QStringLiteral("Doc8643 2023-04-05T06:07:08Z"));

        QCOMPARE(ids(service.recordsForDesignator(QStringLiteral("B738"))), (QList<int>{1, 9}));
        QCOMPARE(service.normalizeDesignator(QStringLiteral("H/B738/L")).normalized, QStringLiteral("B738"));
        QCOMPARE(service.searchDesignators(QStringLiteral("a2"), 8), QStringList{QStringLiteral("A20N")});
    }

    void doc8643IsFoundAmongItsCandidateFolders() {
        const QString dir = test::freshDir(QStringLiteral("doc-candidates"));
        QVERIFY(test::writeFile(dir + QStringLiteral("/plugin/include/XPMP2/Resources/Doc8643.txt"),
                                "Pilatus\tPC-12\tPC12\tL1T\tL\n"));
        QVERIFY(test::writeFile(dir + QStringLiteral("/resources/Doc8643.txt"), "Saab\t340\tSF34\tL2T\tM\n"));
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.normalizeDesignator(QStringLiteral("SF34")).found);
        QVERIFY(!service.normalizeDesignator(QStringLiteral("PC12")).found);

        const QString parentDir = test::freshDir(QStringLiteral("doc-parent/app"));
        QVERIFY(test::writeFile(parentDir + QStringLiteral("/../plugin/include/XPMP2/Resources/Doc8643.txt"),
                                "Pilatus\tPC-12\tPC12\tL1T\tL\n"));
        SwiftAircraftIcaoService other(parentDir);
        QVERIFY(other.normalizeDesignator(QStringLiteral("PC12")).found);
    }

    void unusableDoc8643IsRefusedWholeAndNotRetried_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("warning");
        QTest::newRow("not UTF-8") << QByteArray(
                                          "Boeing\t737\tB738\tL2J\tM\nLatin1 \xe9t\xe9\tX\tA320\tL2J\tM\n")
                                   << QStringLiteral("is not valid UTF-8:");
        QTest::newRow("cut inside a character")
            << QByteArray("Boeing\t737\tB738\tL2J\tM\nCOMAC\tC919\tC919\tL2J\tM\xe5\xa4")
            << QStringLiteral("is not valid UTF-8:");
        QTest::newRow("no valid line")
            << QByteArray("Boeing\t737\tB738\tL2J\nA\tB\tC\tD\tE\n")
            << QStringLiteral("swift aircraft ICAO data produced no valid designators");
    }

    void unusableDoc8643IsRefusedWholeAndNotRetried() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, warning);
        const QString dir = test::freshDir(QStringLiteral("bad-doc"));
        seedUnusableStore(dir);
        QVERIFY(test::writeFile(dir + QStringLiteral("/resources/Doc8643.txt"), contents));

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QCOMPARE(log.count(warning), 1);
        verifyStoreUntouched(dir);
        service.ensureReady();
        QCOMPARE(log.count(warning), 1);
        QVERIFY(!service.isReady());
    }

    void oversizedDoc8643IsRefusedUnread() {
        const QString dir = test::freshDir(QStringLiteral("huge-doc"));
        seedUnusableStore(dir);
        QVERIFY(makeSparseFile(dir + QStringLiteral("/resources/Doc8643.txt"),
                               SwiftAircraftIcaoService::MaxSourceFileBytes + 1));
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QVERIFY(log.contains(QStringLiteral("Skipped oversized swift aircraft ICAO source file:")));
        verifyStoreUntouched(dir);
    }
};

QTEST_GUILESS_MAIN(TestAircraftIcaoImport)
#include "tst_aircrafticao_import.moc"
