// The settings view model over the program's own config.ini: reload rules,
// writers, path lists, checks, save results and the library rescan token.
#include "AppConfig.h"
#include "common/Deployment.h"
#include "network/ApiService.h"
#include "support/UnwritableFile.h"
#include "support/WebApiTestServer.h"
#include "ui/viewmodel/SettingsViewModel.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace velk;
using Vm = ui::viewmodel::SettingsViewModel;
using test::WebApiTestServer;

namespace {
const QString kSaved = QStringLiteral("已保存到 config.ini");
const QString kPortProblem = QStringLiteral("X-Plane UDP 端口无效（应为 1 至 65535）");
const QString kAddressProblem = QStringLiteral("X-Plane 地址无效（应为 IPv4 地址或 localhost）");
} // namespace

class TestSettingsViewModel : public QObject {
    Q_OBJECT

    AppConfig* config = AppConfig::instance();
    std::unique_ptr<Vm> vm;

    QVariant stored(const QString& key) const {
        QSettings ini(config->filePath(), QSettings::IniFormat);
        return ini.value(key);
    }

    // Signs in against a web-API test server whose account is `name`.
    static bool signIn(const QString& name) {
        WebApiTestServer server;
        server.setReply("POST", QStringLiteral("/users/sessions"),
                        WebApiTestServer::json(
                            200, WebApiTestServer::sessionEnvelope(
                                     QStringLiteral("LOGIN_SUCCESS"),
                                     WebApiTestServer::makeJwt(QDateTime::currentSecsSinceEpoch() + 3600),
                                     QStringLiteral("refresh"), {{"username", name}, {"cid", 1234}})));
        auto* api = network::ApiService::instance();
        api->setBaseUrl(server.url());
        bool done = false;
        api->login(QStringLiteral("1234"), QStringLiteral("pw"), [&](bool, const QString&) { done = true; });
        return QTest::qWaitFor([&] { return done; }) && api->currentUser().username == name;
    }

private slots:
    void init() {
        network::ApiService::instance()->clearSession();
        QSettings ini(config->filePath(), QSettings::IniFormat);
        for (const auto& key : ConfigKeys::all()) {
            ini.remove(key.name);
        }
        vm = std::make_unique<Vm>(nullptr);
    }

    void placeholdersReloadAsAccountNameOrCid_data() {
        QTest::addColumn<QString>("realname");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<QString>("expectedHome");
        QTest::newRow("unknown, signed in") << "unknown"
                                            << " Zhang San "
                                            << "zzzz"
                                            << "Zhang San"
                                            << "ZBAA";
        QTest::newRow("blanks, signed out") << "   "
                                            << ""
                                            << "  "
                                            << "1234"
                                            << "ZBAA";
        QTest::newRow("UNKNOWN, signed out") << "UNKNOWN"
                                             << ""
                                             << "ZSSS"
                                             << "1234"
                                             << "ZSSS";
        QTest::newRow("a name stays untrimmed") << " 张三 "
                                                << "Zhang San"
                                                << " zbaa"
                                                << " 张三 "
                                                << " zbaa";
    }
    void placeholdersReloadAsAccountNameOrCid() {
        QFETCH(QString, realname);
        QFETCH(QString, account);
        QFETCH(QString, home);
        if (!account.isEmpty()) {
            QVERIFY(signIn(account));
        }
        config->setValues(ConfigKeys::AuthUsername, QStringLiteral("1234"), ConfigKeys::ProfileRealname,
                          realname, ConfigKeys::ProfileHomeAirport, home);
        vm->reload();
        QTEST(vm->realname(), "expectedName");
        QTEST(vm->homeAirport(), "expectedHome");
    }

    void writersTrimOrKeepTheText_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<bool>("trimmed");
        for (const char* name : {"username", "realname", "homeAirport", "xplaneNetworkAddress",
                                 "msfsPackagesPath2020", "msfsCommunityPath2024"}) {
            QTest::newRow(name) << QByteArray(name) << true;
        }
        for (const char* name : {"password", "xplaneCslPathsText", "msfsCustomMappingPaths2020"}) {
            QTest::newRow(name) << QByteArray(name) << false;
        }
    }
    void writersTrimOrKeepTheText() {
        QFETCH(QByteArray, property);
        QFETCH(bool, trimmed);
        QSignalSpy changed(vm.get(), &Vm::settingsChanged);
        vm->setProperty(property, QStringLiteral("  C:\\A B  "));
        QCOMPARE(vm->property(property).toString(),
                 trimmed ? QStringLiteral("C:\\A B") : QStringLiteral("  C:\\A B  "));
        vm->setProperty(property, QStringLiteral("\tC:\\A B "));
        QCOMPARE(changed.count(), trimmed ? 1 : 2);
        QCOMPARE(stored(QString::fromLatin1(property)), QVariant()); // nothing before a save
    }

    void pathListsSplitOnLineBreaksAndSemicolons_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("repeats, blanks, comma kept") << "A\n\nB;A, C" << QStringList{"A", "B", "A, C"};
        QTest::newRow("comma in a folder name")
            << "D:\\X-Plane 12, beta\r\n D:\\CSL ;" << QStringList{"D:\\X-Plane 12, beta", "D:\\CSL"};
        QTest::newRow("letter case differs") << "/csl;/CSL" << QStringList{"/csl", "/CSL"};
        QTest::newRow("nothing but separators") << " \r\n;\n " << QStringList{};
    }
    void pathListsSplitOnLineBreaksAndSemicolons() {
        QFETCH(QString, text);
        QTEST(Vm::splitPathList(text), "paths");
    }

    void saveWritesEveryKeyAndSealsThePassword() {
        vm->setXplaneUdpPort(49001);
        vm->setXplaneCslPathsText(QStringLiteral("A\n\nB;A, C"));
        vm->setPassword(QStringLiteral(" secret pw "));
        vm->setRememberPassword(true);
        QSignalSpy changed(vm.get(), &Vm::settingsChanged);
        QSignalSpy status(vm.get(), &Vm::saveStatusChanged);
        vm->saveAll();
        QCOMPARE(vm->saveStatus(), kSaved);
        QCOMPARE(stored("XPlane/UDPPort").toInt(), 49001);
        QCOMPARE(config->value(ConfigKeys::XPlaneCSL), (QStringList{"A", "B", "A, C"}));
        QCOMPARE(stored("Auth/RememberPassword").toBool(), true);
        QVERIFY(!stored("Auth/Password").toString().contains(QStringLiteral("secret")));
        QCOMPARE(config->value(ConfigKeys::AuthPassword), QStringLiteral(" secret pw "));
        QCOMPARE(vm->xplaneCslPathsText(), QStringLiteral("A\n\nB;A, C"));
        vm->saveAll();
        QCOMPARE(changed.count() + status.count(), 1);
        vm->reload();
        QCOMPARE(vm->xplaneCslPathsText(), QStringLiteral("A\nB\nA, C"));
    }

    void fieldsOutOfRangeRefuseTheSaveAndNameTheField_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("problem");
        QTest::newRow("port 0") << 0 << "127.0.0.1" << kPortProblem;
        QTest::newRow("port 65536") << 65536 << "127.0.0.1" << kPortProblem;
        QTest::newRow("short form") << 49000 << "127.1" << kAddressProblem;
        QTest::newRow("hexadecimal") << 49000 << "0x7f.0.0.1" << kAddressProblem;
        QTest::newRow("octet 256") << 49000 << "10.0.0.256" << kAddressProblem;
        QTest::newRow("host name") << 49000 << "xplane.lan" << kAddressProblem;
        QTest::newRow("blank") << 49000 << " " << kAddressProblem;
        QTest::newRow("both: the port first") << -1 << "" << kPortProblem;
        QTest::newRow("LocalHost") << 65535 << "LocalHost"
                                   << "";
        QTest::newRow("LAN address") << 1 << "192.168.1.20"
                                     << "";
    }
    void fieldsOutOfRangeRefuseTheSaveAndNameTheField() {
        QFETCH(int, port);
        QFETCH(QString, address);
        QFETCH(QString, problem);
        vm->setUsername(QStringLiteral("changed"));
        vm->setXplaneUdpPort(port);
        vm->setXplaneNetworkAddress(address);
        vm->saveAll();
        QCOMPARE(vm->saveStatus(), problem.isEmpty() ? kSaved : QStringLiteral("保存失败：") + problem);
        QCOMPARE(vm->saveFailed(), !problem.isEmpty());
        QCOMPARE(stored("Auth/Username").isValid(), problem.isEmpty());

        // The same values in config.ini are named on load.
        config->setValues(ConfigKeys::XPlaneUDPPort, port, ConfigKeys::XPlaneNetworkAddress, address);
        vm->reload();
        QCOMPARE(vm->saveStatus(), problem.isEmpty() ? QStringLiteral("已从 config.ini 加载")
                                                     : QStringLiteral("config.ini 有误：") + problem);
    }

    void anUnwritableConfigIniFailsTheSaveAndKeepsTheEdits() {
        vm->setRealname(QStringLiteral("Li Si"));
        {
            test::UnwritableFile blocked(config->filePath());
            vm->saveAll();
            QCOMPARE(vm->saveStatus(), QStringLiteral("保存失败：无法写入 config.ini"));
            QVERIFY(vm->saveFailed());
        }
        QCOMPARE(vm->realname(), QStringLiteral("Li Si"));
        vm->saveAll();
        QCOMPARE(vm->saveStatus(), kSaved);
        QVERIFY(!vm->saveFailed());
        QCOMPARE(stored("Profile/Realname").toString(), QStringLiteral("Li Si"));
    }

    void libraryRescanBumpsTheStoredToken() {
        QSignalSpy keys(config, &AppConfig::configChanged);
        QSignalSpy changed(vm.get(), &Vm::settingsChanged);
        vm->triggerMsfsLibraryReload();
        vm->triggerMSFSLibraryReload();
        QCOMPARE(stored("MSFS/LibraryReloadToken").toInt(), 2);
        QCOMPARE(vm->msfsLibraryReloadToken(), 2);
        QCOMPARE(keys.count(), 2);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(vm->saveStatus(), QStringLiteral("已触发 MSFS 机模库重载"));

        QSignalSpy status(vm.get(), &Vm::saveStatusChanged);
        vm->reload();
        vm->reload();
        QCOMPARE(status.count(), 1);
        QCOMPARE(changed.count(), 4);
        vm->triggerMsfsLibraryReload();
        vm->saveAll();
        QCOMPARE(vm->saveStatus(), kSaved);

        config->setValue(ConfigKeys::MSFSLibraryReloadToken, std::numeric_limits<int>::max());
        vm->triggerMsfsLibraryReload();
        QCOMPARE(config->value(ConfigKeys::MSFSLibraryReloadToken), 0);
    }

    void buildInformationIsTheDeployment() {
        QCOMPARE(vm->apiBaseUrl(), deployment::apiBaseUrl().toString());
        QCOMPARE(vm->networkAddress(), deployment::fsdServer().host);
        QCOMPARE(vm->voiceAddress(), deployment::voiceServer().host);
        QVERIFY(vm->appVersion().endsWith(QStringLiteral("-beta.0")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsViewModel)
#include "tst_settingsviewmodel.moc"
