#include "network/SwiftAircraftIcaoService.h"
#include "support/AircraftIcaoFixtures.h"
#include "support/Fifo.h"
#include "support/MessageLog.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace velk;
using network::AircraftIcaoRecord;
using network::SwiftAircraftIcaoService;

namespace {

const QString kJson = QStringLiteral("cache/swift/aircrafticao.json");
const QString kDoc8643 = QStringLiteral("resources/Doc8643.txt");

QString userDataDatabase() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/cache/swift/aircrafticao.sqlite");
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

} // namespace

class TestAircraftIcaoImport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::isolateUserDataFolder(); }

    void init() {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).removeRecursively();
    }

    void legacyDatabaseCopyWinsOverTheTextSources_data() {
        QTest::addColumn<bool>("userCopyEmpty");
        QTest::addColumn<QString>("label");
        QTest::newRow("user data folder") << false << QStringLiteral("legacy AppData");
        QTest::newRow("sibling, user copy empty") << true << QStringLiteral("bundled sibling");
    }

    void legacyDatabaseCopyWinsOverTheTextSources() {
        QFETCH(bool, userCopyEmpty);
        QFETCH(QString, label);
        const QString dir = test::freshDir(QStringLiteral("legacy"));
        const QString source =
            userCopyEmpty ? dir + QStringLiteral("/bin/cache/swift/aircrafticao.sqlite") : userDataDatabase();
        const QList<AircraftIcaoRecord> rows = {test::icaoRecord(1, QStringLiteral("A20N")),
                                                test::icaoRecord(2, QStringLiteral("B38M"))};
        QVERIFY(test::writeIcaoDatabase(source, rows,
                                        {{QStringLiteral("latest_snapshot"), QStringLiteral("2024-05")}}));
        if (userCopyEmpty) {
            QVERIFY(test::writeIcaoDatabase(userDataDatabase(), {}));
        }
        QVERIFY(test::writeFile(dir + u'/' + kJson, R"({"data":[{"id":1,"designator":"C172"}]})"));
        QVERIFY(test::writeFile(dir + u'/' + kDoc8643, "Cessna\t172\tC172\tL1P\tL\n"));

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("2024-05"));
        QCOMPARE(test::storedRows(test::icaoDatabasePath(dir)), rows);
        QCOMPARE(test::storedRows(source), rows);
        QCOMPARE(log.contains(QStringLiteral("Skip migrating \"legacy AppData\" swift aircraft ICAO SQLite "
                                             "database because source is empty:")),
                 userCopyEmpty);
        QVERIFY(log.contains(
            QStringLiteral("Migrated \"%1\" swift aircraft ICAO SQLite database to:").arg(label)));
        QVERIFY(!service.normalizeDesignator(QStringLiteral("C172")).found);
        QVERIFY(!log.contains(QStringLiteral("Imported Doc8643")));
    }

    void legacyDatabaseThatIsTheTargetItselfIsLeftAlone() {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isDatabaseOpen());
        QVERIFY(!log.contains(QStringLiteral("Skip migrating")));
    }

    void jsonCacheIsImportedWithItsFlagsAndDeleted() {
        const QString dir = test::freshDir(QStringLiteral("json"));
        QVERIFY(test::writeFile(
            dir + u'/' + kJson,
            R"({"latest": "2024-07-01", "data": [)"
            R"({"id": 1, "designator": " a20n ", "manufacturer": "Airbus", "model": "A320neo", "type": "L2J",)"
            R"( "engine": "J", "enginecount": 2, "wtc": "M", "rank": 4, "realworld": "Y", "legacy": "y",)"
            R"( "military": "YES", "created": "2019-01-01", "lastupdated": "2020-01-01"},)"
            R"({"id": 2, "designator": "C172", "manufacturer": 5, "enginecount": "1", "realworld": true,)"
            R"( "military": " y ", "legacy": "1"},)"
            R"({"id": 3.5, "designator": "B738", "rank": 1e12}, {"id": 4}, {"id": 5, "designator": "  "},)"
            R"("B744", 42]})"));
        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        QVERIFY(!QFile::exists(dir + u'/' + kJson));
        QVERIFY(log.contains(
            QStringLiteral("Migrated legacy swift aircraft ICAO JSON cache into writable SQLite database")));
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("2024-07-01"));

        const QString path = test::icaoDatabasePath(dir);
        QCOMPARE(test::describe(test::storedRows(path)),
                 (QStringList{
                     QStringLiteral("0 B738|||| 0||0|---||"),
                     QStringLiteral("1 A20N|Airbus|A320neo|L2J|J 2|M|4|RL-|2019-01-01|2020-01-01"),
                     QStringLiteral("2 C172|||| 0||0|--M||"),
                 }));
        const auto metadata = test::storedMetadata(path);
        const QDateTime imported =
            QDateTime::fromString(metadata.value(QStringLiteral("imported_at_utc")), Qt::ISODate);
        QCOMPARE(imported.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(imported.secsTo(QDateTime::currentDateTimeUtc())) < 600);
        QCOMPARE(metadata, (QMap<QString, QString>{
                               {QStringLiteral("latest_snapshot"), QStringLiteral("2024-07-01")},
                               {QStringLiteral("source_url"), QStringLiteral("legacy-json-migration")},
                               {QStringLiteral("source_license"), QStringLiteral("migrated-from-local-json")},
                               {QStringLiteral("imported_at_utc"), imported.toString(Qt::ISODate)},
                               {QStringLiteral("record_count"), QStringLiteral("3")},
                           }));
    }

    void jsonCacheIsRetriedOnEveryEnsureReadyWhileItExists() {
        const QString dir = test::freshDir(QStringLiteral("json-retry"));
        QVERIFY(test::writeFile(dir + u'/' + kJson, "{\"data\":["));
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QVERIFY(test::writeFile(dir + u'/' + kJson, R"({"data":[{"id":9,"designator":"E75L"}]})"));
        service.ensureReady();
        QVERIFY(service.normalizeDesignator(QStringLiteral("e75l")).exact);
        QVERIFY(!QFile::exists(dir + u'/' + kJson));
    }

    void doc8643TextAloneGivesAReadyDatabase() {
        const QString dir = test::freshDir(QStringLiteral("doc8643"));
        const QString file = dir + u'/' + kDoc8643;
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
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime(QDate(2023, 4, 5), QTime(6, 7, 8), Qt::UTC),
                                  QFileDevice::FileModificationTime));
        }

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.isReady());
        // Six accepted lines, five designators: B738 comes twice.
        QVERIFY(
            log.contains(QStringLiteral("Imported Doc8643 fallback aircraft ICAO data into SQLite database: "
                                        "\"%1\" designators: 5")
                             .arg(file)));
        QCOMPARE(service.currentSnapshotName(), QStringLiteral("Doc8643 2023-04-05T06:07:08Z"));
        QVERIFY(QFile::exists(file));

        const QString path = test::icaoDatabasePath(dir);
        const QString tail = QStringLiteral("|R--|2023-04-05T06:07:08Z|2023-04-05T06:07:08Z");
        QCOMPARE(test::describe(test::storedRows(path)),
                 (QStringList{
                     QStringLiteral("1 B738|Boeing|737-800|L2J|J 2|M|1") + tail,
                     QStringLiteral("3 A20N|Airbus|A320neo|L2J|J 2|M|3") + tail,
                     QStringLiteral("8 C919|COMAC|C919|L2J|J 2|M|8") + tail,
                     QStringLiteral("9 B738|Boeing|BBJ|LJ|- 0|M|9") + tail,
                     QStringLiteral("10 ZZ9|Maker||LJ2|- 0|L|10") + tail,
                     QStringLiteral("11 WD2|Wide|Digit|L\uFF12J|J 2|L|11") + tail,
                 }));
        const auto metadata = test::storedMetadata(path);
        QCOMPARE(metadata.value(QStringLiteral("record_count")), QStringLiteral("6"));
        QCOMPARE(metadata.value(QStringLiteral("source_url")), QStringLiteral("xpmp2-doc8643-fallback"));
        QCOMPARE(metadata.value(QStringLiteral("source_license")), QStringLiteral("bundled-with-xpmp2"));
        QCOMPARE(metadata.value(QStringLiteral("latest_snapshot")), service.currentSnapshotName());

        QCOMPARE(ids(service.recordsForDesignator(QStringLiteral("B738"))), (QList<int>{1, 9}));
        QCOMPARE(service.normalizeDesignator(QStringLiteral("H/B738/L")).normalized, QStringLiteral("B738"));
        QCOMPARE(service.searchDesignators(QStringLiteral("a2"), 8), QStringList{QStringLiteral("A20N")});
    }

    void doc8643IsFoundAmongItsCandidateFolders() {
        const QString dir = test::freshDir(QStringLiteral("doc-candidates"));
        QVERIFY(test::writeFile(dir + QStringLiteral("/plugin/include/XPMP2/Resources/Doc8643.txt"),
                                "Pilatus\tPC-12\tPC12\tL1T\tL\n"));
        QVERIFY(test::writeFile(dir + u'/' + kDoc8643, "Saab\t340\tSF34\tL2T\tM\n"));
        SwiftAircraftIcaoService service(dir);
        QVERIFY(service.normalizeDesignator(QStringLiteral("SF34")).found);
        QVERIFY(!service.normalizeDesignator(QStringLiteral("PC12")).found);

        const QString parentDir = test::freshDir(QStringLiteral("doc-parent/app"));
        QVERIFY(test::writeFile(parentDir + QStringLiteral("/../plugin/include/XPMP2/Resources/Doc8643.txt"),
                                "Pilatus\tPC-12\tPC12\tL1T\tL\n"));
        SwiftAircraftIcaoService other(parentDir);
        QVERIFY(other.normalizeDesignator(QStringLiteral("PC12")).found);
    }

    // The JSON cache is tried again on every start-up chain run; the Doc8643
    // text only once per process. Neither leaves anything in the store.
    void unusableSourceFileLeavesTheStoreUntouched_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<int>("warningsAfterRetry");
        const QString parseError = QStringLiteral("swift aircraft ICAO JSON parse error:");
        const QString notUtf8 = QStringLiteral("is not valid UTF-8:");
        const QString noDesignators =
            QStringLiteral("swift aircraft ICAO data produced no valid designators");
        // An empty `contents` stands for a file one byte over the size limit.
        const QString oversized = QStringLiteral("Skipped oversized swift aircraft ICAO source file:");

        QTest::newRow("json truncated")
            << kJson << QByteArray("{\"latest\":\"x\",\"data\":[{\"id\":1,\"designator\":\"B7") << parseError
            << 2;
        QTest::newRow("json not UTF-8")
            << kJson << QByteArray("{\"data\":[{\"designator\":\"B738\",\"model\":\"\xff\xfe\"}]}") << notUtf8
            << 2;
        QTest::newRow("json array at top")
            << kJson << QByteArray(R"([{"id":1,"designator":"B738"}])") << parseError << 2;
        QTest::newRow("json data not an array")
            << kJson << QByteArray(R"({"data":{"id":1}})")
            << QStringLiteral("swift aircraft ICAO JSON is missing data array") << 2;
        QTest::newRow("json empty data") << kJson << QByteArray(R"({"data":[]})") << noDesignators << 2;
        QTest::newRow("json no designators")
            << kJson << QByteArray(R"({"data":[{"id":1},{"id":2,"designator":7}]})") << noDesignators << 2;
        // The second row breaks the primary key after the first was written.
        QTest::newRow("json duplicate ids")
            << kJson << QByteArray(R"({"data":[{"designator":"B738"},{"designator":"A320"}]})")
            << QStringLiteral("Failed to insert swift aircraft ICAO row:") << 2;
        QTest::newRow("json oversized") << kJson << QByteArray() << oversized << 2;
        QTest::newRow("doc8643 not UTF-8")
            << kDoc8643 << QByteArray("Boeing\t737\tB738\tL2J\tM\nLatin1 \xe9t\xe9\tX\tA320\tL2J\tM\n")
            << notUtf8 << 1;
        QTest::newRow("doc8643 cut inside a character")
            << kDoc8643 << QByteArray("Boeing\t737\tB738\tL2J\tM\nCOMAC\tC919\tC919\tL2J\tM\xe5\xa4")
            << notUtf8 << 1;
        QTest::newRow("doc8643 no valid line")
            << kDoc8643 << QByteArray("Boeing\t737\tB738\tL2J\nA\tB\tC\tD\tE\n") << noDesignators << 1;
        QTest::newRow("doc8643 oversized") << kDoc8643 << QByteArray() << oversized << 1;
    }

    void unusableSourceFileLeavesTheStoreUntouched() {
        QFETCH(QString, file);
        QFETCH(QByteArray, contents);
        QFETCH(QString, warning);
        QFETCH(int, warningsAfterRetry);
        const QString dir = test::freshDir(QStringLiteral("unusable"));
        seedUnusableStore(dir);
        const QString path = dir + u'/' + file;
        if (contents.isEmpty()) {
            QVERIFY(test::writeFile(path, {}));
            QVERIFY(QFile(path).resize(SwiftAircraftIcaoService::MaxSourceFileBytes + 1));
        } else {
            QVERIFY(test::writeFile(path, contents));
        }

        test::MessageLog log;
        SwiftAircraftIcaoService service(dir);
        QVERIFY(!service.isReady());
        QCOMPARE(log.count(warning), 1);
        QCOMPARE(
            log.count(QStringLiteral("Failed to migrate legacy swift aircraft ICAO JSON cache into SQLite")),
            file == kJson ? 1 : 0);
        QVERIFY(QFile::exists(path));
        QCOMPARE(ids(test::storedRows(test::icaoDatabasePath(dir))), QList<int>{77});
        QCOMPARE(test::storedMetadata(test::icaoDatabasePath(dir)),
                 (QMap<QString, QString>{{QStringLiteral("latest_snapshot"), QStringLiteral("old")}}));

        service.ensureReady();
        QCOMPARE(log.count(warning), warningsAfterRetry);
        QVERIFY(!service.isReady());
    }

    // A source or target that is not the client's file: a FIFO is never
    // waited on, nothing the client cannot know it made is removed or
    // replaced, and the store is filled from the next source.
    void filesNotTheClientsAreLeftAlone_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO as JSON cache") << QStringLiteral("json fifo");
        QTest::newRow("FIFO as legacy database") << QStringLiteral("legacy fifo");
        QTest::newRow("link as JSON cache") << QStringLiteral("json link");
        QTest::newRow("store that is a link") << QStringLiteral("store link");
        QTest::newRow("store with a table of its own") << QStringLiteral("store foreign");
    }

    void filesNotTheClientsAreLeftAlone() {
        QFETCH(QString, kind);
        const QString dir = test::freshDir(QStringLiteral("not-ours"));
        const QString store = test::icaoDatabasePath(dir);
        const QString json = dir + u'/' + kJson;
        const QString legacy = dir + QStringLiteral("/bin/cache/swift/aircrafticao.sqlite");
        const QString elsewhere = dir + QStringLiteral("/elsewhere");
        QVERIFY(test::writeFile(dir + u'/' + kDoc8643, "Cessna\t172\tC172\tL1P\tL\n"));
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/cache/swift")));
        QStringList fifos;
        QString found = QStringLiteral("C172");
        if (kind.endsWith(QStringLiteral("fifo"))) {
            fifos.append(kind.startsWith(QStringLiteral("json")) ? json : legacy);
            QVERIFY(test::makeFifo(fifos.first()));
        } else if (kind == QStringLiteral("json link")) {
            QVERIFY(test::writeFile(elsewhere + QStringLiteral("/types.json"),
                                    R"({"data":[{"id":1,"designator":"E75L"}]})"));
            QVERIFY(QFile::link(elsewhere + QStringLiteral("/types.json"), json));
            found = QStringLiteral("E75L");
        } else {
            // A legacy copy that would replace the store as a whole.
            QVERIFY(test::writeIcaoDatabase(legacy, {test::icaoRecord(1, QStringLiteral("A20N"))}));
            if (kind == QStringLiteral("store link")) {
                QVERIFY(test::writeIcaoDatabase(elsewhere + QStringLiteral("/types.sqlite"), {}));
                QVERIFY(QFile::link(elsewhere + QStringLiteral("/types.sqlite"), store));
            } else {
                QVERIFY(test::runSql(store, {QStringLiteral("CREATE TABLE notes (text TEXT)")}));
            }
        }

        test::MessageLog log;
        std::unique_ptr<SwiftAircraftIcaoService> service;
        QVERIFY(test::returnsPromptly(fifos, test::kPromptMs,
                                      [&] { service = std::make_unique<SwiftAircraftIcaoService>(dir); }));
        QVERIFY(service->isReady());
        QVERIFY(service->normalizeDesignator(found).found);
        if (!fifos.isEmpty()) {
            QVERIFY(test::isFifo(fifos.first()));
            QVERIFY(log.contains(fifos.first()));
        } else if (kind == QStringLiteral("json link")) {
            QVERIFY(QFileInfo(json).isSymLink());
            QVERIFY(QFile::exists(elsewhere + QStringLiteral("/types.json")));
        } else {
            QVERIFY(kind == QStringLiteral("store link") ? QFileInfo(store).isSymLink()
                                                         : test::storedSchema(store).contains(QStringLiteral(
                                                               "CREATE TABLE notes (text TEXT)")));
            QVERIFY(log.contains(QStringLiteral("over a file not its own:")));
        }
    }
};

QTEST_GUILESS_MAIN(TestAircraftIcaoImport)
#include "tst_aircrafticao_import.moc"
