#include "AppConfig.h"
#include "crypto/QAESEncryption.h"
#include "simulator/msfs/MsfsPaths.h"
#include "support/BoundedCall.h"
#include "support/Fifo.h"
#include "support/MessageLog.h"
#include "support/TestSupport.h"
#include "support/UnwritableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace velk;

class TestAppConfig : public QObject {
    Q_OBJECT

private:
    static QString readFile(const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

private slots:
    void firstStartWritesEveryDefault() {
        const QString dir = test::freshDir(QStringLiteral("first"));
        AppConfig config(dir);
        QSettings ini(dir + QStringLiteral("/config.ini"), QSettings::IniFormat);
        for (const auto& key : ConfigKeys::all()) {
            if (key.storage == ConfigStorage::SessionOnly) {
                QVERIFY2(!ini.contains(key.name), qPrintable(key.name));
            } else {
                QVERIFY2(ini.contains(key.name), qPrintable(key.name));
            }
        }
        QCOMPARE(config.value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZBAA"));
        QCOMPARE(config.value(ConfigKeys::XPlaneUDPPort), 49000);
        QCOMPARE(config.value(ConfigKeys::AuthVatsim), true);
        QCOMPARE(config.value(ConfigKeys::VoicePttPressFreq), 1500.0);
        QCOMPARE(config.value(ConfigKeys::VoicePttKey), QStringLiteral("kb:163"));
        QCOMPARE(config.value(ConfigKeys::VoiceDriver), 13);
        QCOMPARE(config.value(ConfigKeys::XPlaneCSL), QStringList());
        QVERIFY(!readFile(dir + QStringLiteral("/config.ini")).contains(QStringLiteral("@Invalid")));
    }

    void everyTypeRoundTripsThroughTheFile() {
        const QString dir = test::freshDir(QStringLiteral("roundtrip"));
        {
            AppConfig config(dir);
            config.setValues(ConfigKeys::AuthRememberPassword, true, ConfigKeys::XPlaneUDPPort, 49010,
                             ConfigKeys::VoiceMicGain, -3.5, ConfigKeys::ProfileRealname,
                             QStringLiteral("张 三, Jr."));
            config.setValue(ConfigKeys::XPlaneCSL,
                            QStringList{QStringLiteral("/a b"), QStringLiteral("c,d")});
            config.setValue(ConfigKeys::MSFSCustomMappingPaths2020, QStringList{QStringLiteral("/only")});
            config.setValue(ConfigKeys::MSFSCustomMappingPaths2024, QStringList{QStringLiteral("/x")});
            config.setValue(ConfigKeys::MSFSCustomMappingPaths2024, QStringList());
        }
        AppConfig again(dir);
        QCOMPARE(again.value(ConfigKeys::AuthRememberPassword), true);
        QCOMPARE(again.value(ConfigKeys::XPlaneUDPPort), 49010);
        QCOMPARE(again.value(ConfigKeys::VoiceMicGain), -3.5);
        QCOMPARE(again.value(ConfigKeys::ProfileRealname), QStringLiteral("张 三, Jr."));
        QCOMPARE(again.value(ConfigKeys::XPlaneCSL),
                 (QStringList{QStringLiteral("/a b"), QStringLiteral("c,d")}));
        QCOMPARE(again.value(ConfigKeys::MSFSCustomMappingPaths2020), QStringList{QStringLiteral("/only")});
        QCOMPARE(again.value(ConfigKeys::MSFSCustomMappingPaths2024), QStringList());
    }

    // QSettings reads a U+FEFF as a byte order mark, dropping it, wherever a
    // value's text starts (after quotes, escapes or empty items): none is
    // stored, so that what the client writes it reads whole at the next start.
    // Nor control characters: their escapes are what a Windows path typed by
    // hand makes, and the file would be set aside at the next start.
    void byteOrderMarksAndControlCharactersInValuesAreNotStored() {
        const QString dir = test::freshDir(QStringLiteral("bom"));
        const QString bom(QChar::ByteOrderMark);
        {
            AppConfig config(dir);
            QVERIFY(config.setValues(ConfigKeys::XPlaneCSL, QStringList{bom, bom, bom},
                                     ConfigKeys::ProfileRealname,
                                     QLatin1Char('"') + bom + bom + QStringLiteral("Li\tSi\f")));
        }
        AppConfig next(dir);
        QCOMPARE(next.readProblem(), QString());
        QCOMPARE(next.value(ConfigKeys::XPlaneCSL), (QStringList{QString(), QString(), QString()}));
        QCOMPARE(next.value(ConfigKeys::ProfileRealname), QStringLiteral("\"Li Si "));
    }

    void unconvertibleValuesReadAsZero() {
        const QString dir = test::freshDir(QStringLiteral("zero"));
        { AppConfig config(dir); }
        {
            QSettings ini(dir + QStringLiteral("/config.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("XPlane/UDPPort"), QStringLiteral("abc"));
            ini.setValue(QStringLiteral("Auth/Vatsim"), QStringLiteral("maybe"));
            ini.setValue(QStringLiteral("Voice/PttVolume"), QStringLiteral("loud"));
        }
        AppConfig config(dir);
        QCOMPARE(config.value(ConfigKeys::XPlaneUDPPort), 0);
        QCOMPARE(config.value(ConfigKeys::AuthVatsim), false);
        QCOMPARE(config.value(ConfigKeys::VoicePttVolume), 0.0);
    }

    void changeSignalFollowsEveryWriteEvenUnchanged() {
        const QString dir = test::freshDir(QStringLiteral("signal"));
        AppConfig config(dir);
        QSignalSpy spy(&config, &AppConfig::configChanged);
        config.setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot"));
        config.setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot"));
        config.resetValue(ConfigKeys::ProfileHomeAirport);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Auth/Username"));
        QCOMPARE(spy.at(2).at(0).toString(), QStringLiteral("Profile/HomeAirport"));
    }

    void sessionOnlyTokenNeverReachesTheFile() {
        const QString dir = test::freshDir(QStringLiteral("session"));
        {
            AppConfig config(dir);
            config.setValue(ConfigKeys::AuthToken, QStringLiteral("jwt-secret-token"));
            QCOMPARE(config.value(ConfigKeys::AuthToken), QStringLiteral("jwt-secret-token"));
        }
        QVERIFY(!readFile(dir + QStringLiteral("/config.ini")).contains(QStringLiteral("jwt-secret-token")));
        AppConfig again(dir);
        QCOMPARE(again.value(ConfigKeys::AuthToken), QString());
    }

    void encryptedValuesAreSealedAndReadBackAfterRestart() {
        const QString dir = test::freshDir(QStringLiteral("encrypted"));
        const QString password = QStringLiteral("  p@ss word 密码  ");
        {
            AppConfig config(dir);
            config.setValue(ConfigKeys::AuthPassword, password);
            config.setValue(ConfigKeys::AuthRefreshToken, QStringLiteral("refresh-secret"));
            QCOMPARE(config.value(ConfigKeys::AuthPassword), password);
        }
        const QString ini = readFile(dir + QStringLiteral("/config.ini"));
        QVERIFY(!ini.contains(QStringLiteral("p@ss")));
        QVERIFY(!ini.contains(QStringLiteral("refresh-secret")));
        QFile key(dir + QStringLiteral("/config.key"));
        QCOMPARE(key.size(), qint64(QAESEncryption::KeySize));
        QCOMPARE(key.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());

        AppConfig again(dir);
        QCOMPARE(again.value(ConfigKeys::AuthPassword), password);
        QCOMPARE(again.value(ConfigKeys::AuthRefreshToken), QStringLiteral("refresh-secret"));
    }

    void sameSecretStoredTwiceGivesDifferentCipherTexts() {
        const QString dir = test::freshDir(QStringLiteral("iv"));
        AppConfig config(dir);
        // Read from the bytes: two files of one size written within a
        // millisecond look unchanged to QSettings' cache.
        static const QRegularExpression line(QStringLiteral("^Password=(.*)$"),
                                             QRegularExpression::MultilineOption);
        const auto sealed = [&] {
            return line.match(readFile(dir + QStringLiteral("/config.ini"))).captured(1);
        };
        config.setValue(ConfigKeys::AuthPassword, QStringLiteral("same"));
        const QString first = sealed();
        QVERIFY(!first.isEmpty());
        // Unchanged, it is left as sealed: nothing to write.
        QVERIFY(config.setValue(ConfigKeys::AuthPassword, QStringLiteral("same")));
        QCOMPARE(sealed(), first);
        config.setValue(ConfigKeys::AuthPassword, QStringLiteral("other"));
        config.setValue(ConfigKeys::AuthPassword, QStringLiteral("same"));
        QVERIFY(first != sealed());
    }

    // Whatever sits under the settings library's lock name beside config.ini
    // (a lock left by a kill, another machine's, a folder) never holds a save up.
    void aLockFileBesideConfigIniNeverHoldsUpASave_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("folder");
        QTest::newRow("empty: killed while writing it") << QByteArray() << false;
        QTest::newRow("another machine's") << QByteArray("4242\nvelk-client\nother-host.example\n") << false;
        QTest::newRow("a folder in its place") << QByteArray() << true;
    }
    void aLockFileBesideConfigIniNeverHoldsUpASave() {
        QFETCH(QByteArray, content);
        QFETCH(bool, folder);
        const QString dir = test::freshDir(QStringLiteral("lockbeside"));
        const QString lock = dir + QStringLiteral("/config.ini.lock");
        if (folder) {
            QVERIFY(QDir().mkpath(lock + QStringLiteral("/inside")));
        } else {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        bool written = false;
        const bool inTime = test::returnsWithin(
            10000,
            [&] {
                AppConfig config(dir);
                written = config.setValue(ConfigKeys::ProfileRealname, QStringLiteral("Li Si"));
            },
            [&] { folder ? QDir(lock).removeRecursively() : QFile::remove(lock); });
        QVERIFY(inTime);
        QVERIFY(written);
        QCOMPARE(AppConfig(dir).value(ConfigKeys::ProfileRealname), QStringLiteral("Li Si"));
        // Not the client's: left as it was, and nothing of the saves left beside it.
        QVERIFY(folder ? QFileInfo(lock + QStringLiteral("/inside")).isDir()
                       : readFile(lock).toUtf8() == content);
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 (QStringList{QStringLiteral("config.ini"), QStringLiteral("config.ini.lock"),
                              QStringLiteral("config.key")}));
    }

    // What is no plain file at config.ini (another program's FIFO, a folder),
    // or far too large to be one, is neither waited on nor replaced: the run
    // starts on defaults, a save fails and the log names the file. The run
    // leaves the path alone even once it is free; the next one uses it.
    void whatIsNoSettingsFileAtConfigIniIsNeitherReadNorReplaced_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("too large") << QStringLiteral("large");
    }
    void whatIsNoSettingsFileAtConfigIniIsNeitherReadNorReplaced() {
        QFETCH(QString, kind);
        const QString dir = test::freshDir(QStringLiteral("notafile"));
        const QString path = dir + QStringLiteral("/config.ini");
        const QByteArray native = QFile::encodeName(path);
        QByteArray large = "[Profile]\nRealname=Big\n";
        if (kind == QStringLiteral("fifo")) {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (kind == QStringLiteral("folder")) {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        } else {
            large += QByteArray(5 * 1024 * 1024, ';');
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(large) == large.size());
        }
        const test::MessageLog log;
        std::unique_ptr<AppConfig> config;
        QString loaded;
        bool written = true;
        QThread* const here = QThread::currentThread();
        const bool inTime = test::returnsWithin(
            10000,
            [&] {
                config = std::make_unique<AppConfig>(dir);
                loaded = config->value(ConfigKeys::ProfileRealname);
                written = config->setValue(ConfigKeys::ProfileRealname, QStringLiteral("Li Si"));
                config->moveToThread(here);
            },
            [&] {
                // Gives a reader blocked on the FIFO its end of file.
                const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                }
            });
        QVERIFY(inTime);
        QCOMPARE(loaded, QString());
        QVERIFY(!written);
        QCOMPARE(config->value(ConfigKeys::ProfileRealname), QStringLiteral("Li Si")); // for this run
        QVERIFY(log.contains(QStringLiteral("Cannot read the settings file ") + path));
        QVERIFY(log.contains(QStringLiteral("Could not write Profile/Realname to ") + path));
        struct stat st {};
        QCOMPARE(::lstat(native.constData(), &st), 0);
        if (kind == QStringLiteral("fifo")) {
            QVERIFY(S_ISFIFO(st.st_mode));
        } else if (kind == QStringLiteral("folder")) {
            QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll() == large);
        }

        QCOMPARE(config->readProblem(), kind == QStringLiteral("large") ? QStringLiteral("大于 4194304 字节")
                                        : kind == QStringLiteral("folder")
                                            ? QStringLiteral("不是普通文件，而是文件夹")
                                            : QStringLiteral("不是普通文件，而是管道（FIFO）"));

        QVERIFY(kind == QStringLiteral("folder") ? QDir(path).removeRecursively() : QFile::remove(path));
        QVERIFY(!config->setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZSSS")));
        QVERIFY(!QFileInfo::exists(path));
        config.reset();
        AppConfig again(dir);
        QCOMPARE(again.readProblem(), QString());
        QCOMPARE(again.value(ConfigKeys::ProfileRealname), QString());
        QVERIFY(again.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZSSS")));
        QCOMPARE(AppConfig(dir).value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZSSS"));
    }

    // A copy for parsing cut short (a full disk, a quota: here the file size
    // limit) is no empty config.ini: the run leaves the file alone, says so,
    // and nothing of it is lost then or later.
    void aConfigIniThatCannotBeCopiedWholeIsLeftAlone() {
        const QString dir = test::freshDir(QStringLiteral("cut-short"));
        const QString path = dir + QStringLiteral("/config.ini");
        {
            AppConfig first(dir);
            QVERIFY(first.setValues(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZSPD"),
                                    ConfigKeys::XPlaneNetworkAddress, QStringLiteral("192.168.1.20"),
                                    ConfigKeys::VoicePttKey, QStringLiteral("kb:70")));
        }
        const QString before = readFile(path);
        QVERIFY(before.size() > 520);
        const test::MessageLog log;
        std::unique_ptr<AppConfig> config;
        {
            const test::FullDisk full(512);
            QVERIFY(full.isSet());
            config = std::make_unique<AppConfig>(dir);
        }
        QVERIFY(config->isSetAside());
        QCOMPARE(config->readProblem(), QStringLiteral("无法在临时文件夹里复制一份来检查，磁盘可能已满"));
        QVERIFY(log.contains(QStringLiteral("Cannot read the settings file ") + path));
        QCOMPARE(config->value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZBAA"));
        // A sign-in in this run is not reported saved, and never reaches the file.
        QVERIFY(!config->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot01")));
        QCOMPARE(config->value(ConfigKeys::AuthUsername), QStringLiteral("pilot01"));
        QVERIFY(!config->setValue(ConfigKeys::AuthUsername, QString()));
        QCOMPARE(readFile(path), before);
        config.reset();
        AppConfig later(dir);
        QCOMPARE(later.value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZSPD"));
        QCOMPARE(later.value(ConfigKeys::XPlaneNetworkAddress), QStringLiteral("192.168.1.20"));
        QCOMPARE(later.value(ConfigKeys::VoicePttKey), QStringLiteral("kb:70"));
    }

    // A full disk cuts the new copy short, and the settings library takes it
    // for whole: nothing is replaced, and the value lives for the run only:
    // a later save never writes it over what the file holds by then.
    void aSaveCutShortByAFullDiskReplacesNothing() {
        const QString dir = test::freshDir(QStringLiteral("save-cut-short"));
        const QString path = dir + QStringLiteral("/config.ini");
        AppConfig config(dir);
        const QString before = readFile(path);
        const QString name(200, QLatin1Char('x'));
        {
            const test::FullDisk full(before.size() + 16);
            QVERIFY(full.isSet());
            QVERIFY(!config.setValue(ConfigKeys::ProfileRealname, name));
        }
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{QStringLiteral("config.ini"), QStringLiteral("config.key")}));
        QCOMPARE(config.writeProblem(), QStringLiteral("新的文件没能完整写入，磁盘可能已满"));
        QCOMPARE(config.value(ConfigKeys::ProfileRealname), name);
        QSettings(path, QSettings::IniFormat)
            .setValue(ConfigKeys::ProfileRealname.name, QStringLiteral("Hand"));
        QVERIFY(config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZSSS")));
        QCOMPARE(config.writeProblem(), QString());
        const AppConfig next(dir);
        QCOMPARE(next.value(ConfigKeys::ProfileRealname), QStringLiteral("Hand"));
        QCOMPARE(next.value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZSSS"));
        // One past the size the next start reads is refused as such, not as a full disk.
        QVERIFY(!config.setValue(ConfigKeys::ProfileRealname, QString(4 * 1024 * 1024, QLatin1Char('a'))));
        QCOMPARE(config.writeProblem(), QStringLiteral("新的文件会大于 4194304 字节，下次启动时无法读取"));
    }

    // A line that a save would drop, join to the next or rewrite sets the
    // whole file aside for the run, named with its line; nothing in it changes.
    void aLineASaveWouldNotKeepSetsTheFileAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        const QByteArray head = "[Profile]\nRealname=Zhang San\n";
        QTest::newRow("no equals sign") << head + "HomeAirport ZSSS\n"
                                        << QStringLiteral("第 3 行“HomeAirport ZSSS”不是“键=值”的形式");
        QTest::newRow("long, shown cut between characters")
            << head + QByteArray(59, 'A') +
                   "\xF0\x9F\x98\x80"
                   "B\n"
            << QStringLiteral("第 3 行“%1…”不是“键=值”的形式").arg(QString(59, QLatin1Char('A')));
        QTest::newRow("section not closed") << head + "[XPlane\nUDPPort=49001\n"
                                            << QStringLiteral("第 3 行“[XPlane”缺少“]”，不是完整的“[节名]”");
        const QString endsInBackslash = QStringLiteral(
            "第 2 行“CSL=D:\\X-Plane 12\\CSL\\”以反斜杠结尾，会和下一行连成一行（反斜杠请写成 \\\\ 或 /）");
        QTest::newRow("ends in a backslash")
            << QByteArray("[XPlane]\nCSL=D:\\X-Plane 12\\CSL\\\nNetworkAddress=192.168.1.50\n")
            << endsInBackslash;
        // Lines as an editor shows them: a CR-LF or a lone CR ends one too.
        QTest::newRow("ends in a backslash, Windows line ends")
            << QByteArray("[XPlane]\r\nCSL=D:\\X-Plane 12\\CSL\\\r\nNetworkAddress=192.168.1.50\r\n")
            << endsInBackslash;
        QTest::newRow("old Mac line ends")
            << QByteArray("[Profile]\rRealname=Zhang San\rx//y=1\r")
            << QStringLiteral("第 3 行“x//y=1”（在第 1 行“[Profile]”之下）中的内容在保存时会被改写或丢掉");
        QTest::newRow("a backslash QSettings reads as a control character")
            << QByteArray("[XPlane]\nCSL=C:\\flight\\abc\n")
            << QStringLiteral(
                   "第 2 行“CSL=C:\\flight\\abc”中的“\\f”会被读成别的文字（反斜杠请写成 \\\\ 或 /）");
        QTest::newRow("a control character")
            << head + "HomeAirport=Z\tSSS\n"
            << QStringLiteral("第 3 行“HomeAirport=Z\\x09SSS”中有控制字符（如制表符），请删去");
        QTest::newRow("a backslash QSettings drops")
            << QByteArray("[XPlane]\nCSL=D:\\X-Plane 12\n")
            << QStringLiteral(
                   "第 2 行“CSL=D:\\X-Plane 12”中的“\\X”会被读成别的文字（反斜杠请写成 \\\\ 或 /）");
        QTest::newRow("quote left open")
            << head + "HomeAirport=\"ZSSS\nNext=1\n"
            << QStringLiteral("第 3 行“HomeAirport=\"ZSSS”中的引号没有配对，会和下一行连成一行");
        QTest::newRow("no key name") << head + "=ZSSS\n" << QStringLiteral("第 3 行“=ZSSS”缺少“=”前的键名");
        QTest::newRow("not UTF-8") << head + "Realname=\xd5\xc5\xc8\xfd\n"
                                   << QStringLiteral("第 3 行“Realname=\uFFFD\uFFFD\uFFFD\uFFFD”不是 UTF-8 "
                                                     "文字（请以 UTF-8 编码保存 config.ini）");
        // QSettings on Windows takes it for the client's own key, which a save then merges it with.
        QTest::newRow("a name in another case")
            << head + "homeairport=ZSSS\n"
            << QStringLiteral("第 3 行“homeairport=ZSSS”（在第 1 行“[Profile]”之下）中的键名与“Profile/"
                              "HomeAirport”只差大小写（请照它的大小写书写）");
        for (const char* line : {"[Voice/]", "[ ]", "[/]", "[%GenEral]"}) {
            QTest::newRow(line)
                << head + line + "\nPttKey=kb:70\n"
                << QStringLiteral("第 4 行“PttKey=kb:70”（在第 3 行“%1”之下）中的内容在保存时会被改写或丢掉")
                       .arg(QLatin1String(line));
        }
        for (const char* line : {"x//y=1", "/k=1", "k/=1", "k=@Variant(junk)", "k=@Variant(junk), x"}) {
            QTest::newRow(line)
                << head + line + "\n"
                << QStringLiteral("第 3 行“%1”（在第 1 行“[Profile]”之下）中的内容在保存时会被改写或丢掉")
                       .arg(QLatin1String(line));
        }
    }
    void aLineASaveWouldNotKeepSetsTheFileAside() {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        const QString dir = test::freshDir(QStringLiteral("unkept-line"));
        const QString path = dir + QStringLiteral("/config.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        const test::MessageLog log;
        AppConfig config(dir);
        QVERIFY(config.isSetAsideForALine());
        QCOMPARE(config.readProblem(), problem);
        QCOMPARE(config.value(ConfigKeys::ProfileRealname), QString());
        QVERIFY(!config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZGGG")));
        QVERIFY(
            !config.setValue(ConfigKeys::ProfileHomeAirport, ConfigKeys::ProfileHomeAirport.defaultValue));
        QCOMPARE(config.storedValue(ConfigKeys::AuthAutoLogin), std::nullopt);
        QCOMPARE(log.count(QStringLiteral("Cannot read the settings file")), 1);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    // What a pilot may write by hand and QSettings reads as written is read
    // whole, saved, and saved again to the same file; so is an empty list as
    // QSettings itself writes it (and clients before this one did).
    void aHandWrittenFileReadWholeIsSavedAndSavesAgainTheSame() {
        const QString dir = test::freshDir(QStringLiteral("hand-written"));
        const QString path = dir + QStringLiteral("/config.ini");
        const QByteArray content =
            "\xEF\xBB\xBF; my settings\r\n[Profile]\r\n  HomeAirport = ZSSS ; home\r\n"
            "Realname=\"Li, Si\"\r\n[XPlane]\r\nCSL=D:\\\\X-Plane\\\\CSL, /b\r\n"
            "[General]\r\nVoice\\PttKey=kb:70\r\n[MSFS]\r\nCustomMappingPaths2020=@Invalid()\r\n";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        AppConfig config(dir);
        QCOMPARE(config.readProblem(), QString());
        QCOMPARE(config.value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZSSS"));
        QCOMPARE(config.value(ConfigKeys::ProfileRealname), QStringLiteral("Li, Si"));
        QCOMPARE(config.value(ConfigKeys::XPlaneCSL),
                 (QStringList{QStringLiteral("D:\\X-Plane\\CSL"), QStringLiteral("/b")}));
        QCOMPARE(config.value(ConfigKeys::VoicePttKey), QStringLiteral("kb:70"));
        QCOMPARE(config.value(ConfigKeys::MSFSCustomMappingPaths2020), QStringList());
        QVERIFY(config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZGGG")));
        const QString saved = readFile(path);
        const FileStamp stamp = stampOf(path);
        QVERIFY(config.setValue(ConfigKeys::ProfileRealname, QStringLiteral("Li, Si")));
        QCOMPARE(stampOf(path), stamp);
        QVERIFY(config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZUUU")));
        QVERIFY(config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZGGG")));
        QCOMPARE(readFile(path), saved);
        AppConfig next(dir);
        QCOMPARE(next.readProblem(), QString());
        QCOMPARE(next.value(ConfigKeys::XPlaneCSL),
                 (QStringList{QStringLiteral("D:\\X-Plane\\CSL"), QStringLiteral("/b")}));
    }

    // A read after another program's edit failed for want of space: once
    // space is back the file, unchanged since, is read and saved again.
    void aReadThatFailedMidRunIsTriedAgain() {
        const QString dir = test::freshDir(QStringLiteral("read-again"));
        const QString path = dir + QStringLiteral("/config.ini");
        AppConfig config(dir);
        QSettings(path, QSettings::IniFormat)
            .setValue(ConfigKeys::ProfileHomeAirport.name, QStringLiteral("ZGGG"));
        {
            const test::MessageLog log;
            const test::FullDisk full(100);
            QVERIFY(full.isSet());
            QVERIFY(!config.readProblem().isEmpty());
            QVERIFY(!config.readProblem().isEmpty());
            QCOMPARE(log.count(QStringLiteral("Cannot read the settings file")), 1); // not at every retry
        }
        QCOMPARE(config.readProblem(), QString());
        QVERIFY(config.setValue(ConfigKeys::ProfileRealname, QStringLiteral("Li Si")));
        AppConfig next(dir);
        QCOMPARE(next.value(ConfigKeys::ProfileHomeAirport), QStringLiteral("ZGGG"));
        QCOMPARE(next.value(ConfigKeys::ProfileRealname), QStringLiteral("Li Si"));
    }

    // A config.ini that links elsewhere is saved through the link, which
    // stays; a relative link's ".." after a linked folder leaves that folder.
    void aLinkedConfigIniIsSavedThroughTheLink_data() {
        QTest::addColumn<bool>("relative");
        QTest::newRow("absolute") << false;
        QTest::newRow("relative, past a linked folder") << true;
    }
    void aLinkedConfigIniIsSavedThroughTheLink() {
        QFETCH(bool, relative);
        const QString dir = test::freshDir(QStringLiteral("linked"));
        const QString elsewhere = test::freshDir(QStringLiteral("linked-target"));
        const QString target = elsewhere + QStringLiteral("/settings.ini");
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Profile]\nRealname=Zhang San\n");
        }
        const QString via = test::freshDir(QStringLiteral("linked-via")) + QStringLiteral("/inner");
        QVERIFY(QDir().mkpath(elsewhere + QStringLiteral("/sub")));
        QVERIFY(QFile::link(elsewhere + QStringLiteral("/sub"), via));
        QVERIFY(QFile::link(relative ? QStringLiteral("../linked-via/inner/../settings.ini") : target,
                            dir + QStringLiteral("/config.ini")));
        {
            AppConfig config(dir);
            QCOMPARE(config.value(ConfigKeys::ProfileRealname), QStringLiteral("Zhang San"));
            QVERIFY(config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZSSS")));
        }
        QVERIFY(QFileInfo(dir + QStringLiteral("/config.ini")).isSymLink());
        const QSettings ini(target, QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("Profile/Realname")).toString(), QStringLiteral("Zhang San"));
        QCOMPARE(ini.value(QStringLiteral("Profile/HomeAirport")).toString(), QStringLiteral("ZSSS"));
        const auto everything = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        QCOMPARE(QDir(elsewhere).entryList(everything),
                 (QStringList{QStringLiteral("settings.ini"), QStringLiteral("sub")}));
        QCOMPARE(QDir(QFileInfo(via).path()).entryList(everything), QStringList{QStringLiteral("inner")});
        QCOMPARE(QDir(dir).entryList(everything),
                 (QStringList{QStringLiteral("config.ini"), QStringLiteral("config.key")}));
    }

    void corruptedOrForeignCipherTextReadsAsDefault_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("not base64") << QStringLiteral("***");
        QTest::newRow("truncated") << QStringLiteral("AQID");
        QTest::newRow("old plain text") << QStringLiteral("hunter2");
    }
    void corruptedOrForeignCipherTextReadsAsDefault() {
        QFETCH(QString, stored);
        const QString dir = test::freshDir(QStringLiteral("corrupt"));
        { AppConfig config(dir); }
        {
            QSettings ini(dir + QStringLiteral("/config.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Auth/Password"), stored);
        }
        AppConfig config(dir);
        QCOMPARE(config.value(ConfigKeys::AuthPassword), QString());
    }

    void valueSealedWithAnotherKeyReadsAsDefault() {
        const QString dir = test::freshDir(QStringLiteral("otherkey"));
        {
            AppConfig config(dir);
            config.setValue(ConfigKeys::AuthPassword, QStringLiteral("secret"));
        }
        QFile::remove(dir + QStringLiteral("/config.key"));
        AppConfig config(dir);
        QCOMPARE(config.value(ConfigKeys::AuthPassword), QString());
        QVERIFY(config.isUnreadable(ConfigKeys::AuthPassword));
    }

    void keyFollowedByWhiteSpaceStillOpensTheSecrets() {
        const QString dir = test::freshDir(QStringLiteral("keyspace"));
        { AppConfig(dir).setValue(ConfigKeys::AuthPassword, QStringLiteral("secret")); }
        QFile key(dir + QStringLiteral("/config.key"));
        QVERIFY(key.open(QIODevice::Append));
        key.write(" \r\n");
        key.close();
        AppConfig again(dir);
        QCOMPARE(again.value(ConfigKeys::AuthPassword), QStringLiteral("secret"));
        QVERIFY(!again.isUnreadable(ConfigKeys::AuthPassword));
        QCOMPARE(key.size(), qint64(QAESEncryption::KeySize + 3));
    }

    void malformedKeyFileIsMovedAsideAndKept_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("short") << QByteArray("abc");
        QTest::newRow("one byte too many") << QByteArray(QAESEncryption::KeySize + 1, 'k');
    }
    void malformedKeyFileIsMovedAsideAndKept() {
        QFETCH(QByteArray, content);
        const QString dir = test::freshDir(QStringLiteral("keyaside"));
        const QString keyPath = dir + QStringLiteral("/config.key");
        { AppConfig(dir).setValue(ConfigKeys::AuthPassword, QStringLiteral("secret")); }
        QFile key(keyPath);
        QVERIFY(key.open(QIODevice::WriteOnly | QIODevice::Truncate));
        key.write(content);
        key.close();
        AppConfig again(dir);
        QCOMPARE(again.value(ConfigKeys::AuthPassword), QString());
        QVERIFY(again.isUnreadable(ConfigKeys::AuthPassword));
        const QStringList aside = QDir(dir).entryList({QStringLiteral("config.key.unusable-*")},
                                                      QDir::AllEntries | QDir::NoDotAndDotDot);
        QCOMPARE(aside.size(), 1);
        QFile kept(dir + QLatin1Char('/') + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        QCOMPARE(QFileInfo(keyPath).size(), qint64(QAESEncryption::KeySize));
        QVERIFY(again.setValue(ConfigKeys::AuthPassword, QStringLiteral("new")));
        QCOMPARE(AppConfig(dir).value(ConfigKeys::AuthPassword), QStringLiteral("new"));
    }

    // The key file links to a drive that is not there for this run, or cannot
    // be read: a folder stands in its place (as no permission stops root), or
    // a FIFO, which is never waited on. The store names the file.
    void keyOutOfReachKeepsNewSecretsInMemoryAndTheOldOnesIntact_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("dangling link") << QStringLiteral("link");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
    }
    void keyOutOfReachKeepsNewSecretsInMemoryAndTheOldOnesIntact() {
        QFETCH(QString, kind);
        const QString dir = test::freshDir(QStringLiteral("keylink"));
        const QString keyPath = dir + QStringLiteral("/config.key");
        const QString drive = dir + QStringLiteral("/drive");
        const bool link = kind == QStringLiteral("link");
        const QString keyHome = link ? drive + QStringLiteral("/config.key") : keyPath;
        { AppConfig(dir).setValue(ConfigKeys::AuthPassword, QStringLiteral("old secret")); }
        QFile key(keyPath);
        QVERIFY(key.open(QIODevice::ReadOnly));
        const QByteArray keyBytes = key.readAll();
        key.close();
        QVERIFY(key.remove());
        if (kind == QStringLiteral("folder")) {
            QVERIFY(QDir().mkpath(keyPath + QStringLiteral("/inside")));
        } else if (kind == QStringLiteral("fifo")) {
            QVERIFY(test::makeFifo(keyPath));
        } else {
            QVERIFY(QFile::link(keyHome, keyPath));
        }
        const auto sealed = [&] {
            return QSettings(dir + QStringLiteral("/config.ini"), QSettings::IniFormat)
                .value(QStringLiteral("Auth/Password"));
        };
        const QVariant oldSealed = sealed();
        {
            std::unique_ptr<AppConfig> config;
            QVERIFY(test::returnsPromptly({keyPath}, test::kPromptMs,
                                          [&] { config = std::make_unique<AppConfig>(dir); }));
            QVERIFY(config->isUnreadable(ConfigKeys::AuthPassword));
            QVERIFY2(config->keyFileProblem().contains(QDir::toNativeSeparators(keyPath)),
                     qPrintable(config->keyFileProblem()));
            // The secret stays in memory; what follows it is still written.
            QVERIFY(!config->setValues(ConfigKeys::AuthPassword, QStringLiteral("new secret"),
                                       ConfigKeys::ProfileRealname, QStringLiteral("Li Si")));
            QCOMPARE(config->value(ConfigKeys::AuthPassword), QStringLiteral("new secret"));
        }
        QCOMPARE(sealed(), oldSealed);
        QCOMPARE(AppConfig(dir).value(ConfigKeys::ProfileRealname), QStringLiteral("Li Si"));
        QCOMPARE(QDir(dir).entryList({QStringLiteral("config.key.*")}, QDir::AllEntries | QDir::System),
                 QStringList());
        QVERIFY(kind == QStringLiteral("folder") ? QFileInfo(keyPath + QStringLiteral("/inside")).isDir()
                : link                           ? QFileInfo(keyPath).isSymLink()
                                                 : test::isFifo(keyPath));

        // The key can be read again: what it sealed opens.
        if (kind == QStringLiteral("folder")) {
            QVERIFY(QDir(keyPath).removeRecursively());
        } else if (!link) {
            QVERIFY(QFile::remove(keyPath));
        }
        QVERIFY(QDir().mkpath(QFileInfo(keyHome).path()));
        QFile back(keyHome);
        QVERIFY(back.open(QIODevice::WriteOnly));
        back.write(keyBytes);
        back.close();
        QCOMPARE(AppConfig(dir).value(ConfigKeys::AuthPassword), QStringLiteral("old secret"));
    }

    // A new key reaches the disk, with its name in the folder, before the
    // store seals anything with it; one that cannot is not kept.
    void newKeyIsOnTheDiskBeforeAnythingIsSealedWithIt() {
        static QStringList synced;
        const auto restore =
            qScopeGuard([previous = QAESEncryption::syncToDisk] { QAESEncryption::syncToDisk = previous; });
        QAESEncryption::syncToDisk = [](int fd, QString*) {
            synced.append(QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget());
            return true;
        };
        const QString dir = QFileInfo(test::freshDir(QStringLiteral("keysync"))).canonicalFilePath();
        const QString keyPath = dir + QStringLiteral("/config.key");
        {
            AppConfig config(dir);
            QCOMPARE(synced, (QStringList{keyPath, dir}));
            QVERIFY(config.setValue(ConfigKeys::AuthPassword, QStringLiteral("secret")));
        }
        QVERIFY(QFile::remove(keyPath));
        QAESEncryption::syncToDisk = [](int, QString* reason) {
            *reason = QStringLiteral("Input/output error");
            return false;
        };
        AppConfig config(dir);
        QVERIFY(!QFileInfo::exists(keyPath));
        QVERIFY(config.keyFileProblem().contains(keyPath));
        QVERIFY(!config.setValue(ConfigKeys::AuthPassword, QStringLiteral("secret")));
    }

    void tamperedCipherTextFailsTheTag() {
        QAESEncryption aes(QAESEncryption::randomBytes(QAESEncryption::KeySize));
        QByteArray sealed = aes.encrypt("attack at dawn");
        QVERIFY(aes.decrypt(sealed).has_value());
        sealed[sealed.size() / 2] = static_cast<char>(sealed[sealed.size() / 2] ^ 0x01);
        QVERIFY(!aes.decrypt(sealed).has_value());
        QVERIFY(!QAESEncryption(QByteArray("short")).decrypt(sealed).has_value());
    }

    void firstStartFindsMsfsFoldersFromUserCfg() {
        const QString dir = test::freshDir(QStringLiteral("msfs"));
        const QString roaming = test::freshDir(QStringLiteral("msfs-roaming"));
        const QString packages = test::freshDir(QStringLiteral("msfs packages 2020"));
        QDir().mkpath(packages + QStringLiteral("/Community"));
        QDir().mkpath(roaming + QStringLiteral("/Microsoft Flight Simulator"));
        QFile cfg(roaming + QStringLiteral("/Microsoft Flight Simulator/UserCfg.opt"));
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write("Version 1\n\ninstalledpackagespath\n");
        cfg.write(("InstalledPackagesPath \"" + packages + "\" ; the folder\n").toUtf8());
        cfg.write("InstalledPackagesPath \"/elsewhere\"\n");
        cfg.close();
        qputenv("APPDATA", roaming.toLocal8Bit());
        qputenv("LOCALAPPDATA", QByteArray(""));
        AppConfig config(dir);
        qunsetenv("APPDATA");
        QCOMPARE(config.value(ConfigKeys::MSFSPackagesPath2020), packages);
        QCOMPARE(config.value(ConfigKeys::MSFSCommunityPath2020), packages + QStringLiteral("/Community"));
        QCOMPARE(config.value(ConfigKeys::MSFSPackagesPath2024), QString());
    }

    // What this run found or set while config.ini could not be read is never
    // written over it, nor reported saved, also once the file can be read.
    void whatARunSetWhileConfigIniWasUnreadableNeverOverridesTheFile() {
        const QString dir = test::freshDir(QStringLiteral("msfs-unreadable"));
        const QString roaming = test::freshDir(QStringLiteral("msfs-unreadable-roaming"));
        const QString packages = test::freshDir(QStringLiteral("msfs-unreadable-packages"));
        QVERIFY(QDir().mkpath(roaming + QStringLiteral("/Microsoft Flight Simulator")));
        QFile cfg(roaming + QStringLiteral("/Microsoft Flight Simulator/UserCfg.opt"));
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write(("InstalledPackagesPath \"" + packages + "\"\n").toUtf8());
        cfg.close();
        const QString path = dir + QStringLiteral("/config.ini");
        QVERIFY(QDir().mkpath(path));
        qputenv("APPDATA", roaming.toLocal8Bit());
        qputenv("LOCALAPPDATA", QByteArray(""));
        AppConfig config(dir);
        QVERIFY(!config.setValue(ConfigKeys::ProfileRealname, QStringLiteral("Shown Default")));
        QCOMPARE(config.value(ConfigKeys::ProfileRealname), QStringLiteral("Shown Default"));
        QVERIFY(QDir(path).removeRecursively());
        const QByteArray pilots =
            "[MSFS]\nPackagesPath2020=/the/pilot/s/choice\n[Profile]\nRealname=Zhang San\n";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(pilots);
        file.close();
        QVERIFY(!config.setValue(ConfigKeys::ProfileHomeAirport, QStringLiteral("ZSSS")));
        QVERIFY(!config.setValue(ConfigKeys::ProfileRealname, QString()));
        QCOMPARE(readFile(path), QString::fromUtf8(pilots));
        AppConfig next(dir);
        qunsetenv("APPDATA");
        QCOMPARE(next.value(ConfigKeys::MSFSPackagesPath2020), QStringLiteral("/the/pilot/s/choice"));
        QCOMPARE(next.value(ConfigKeys::ProfileRealname), QStringLiteral("Zhang San"));
    }

    void commentsAndQuotesInConfigLines() {
        using namespace velk::simulator::msfs;
        QCOMPARE(stripComment(QStringLiteral(" a \"b;c\" ; d ")), QStringLiteral("a \"b;c\""));
        QCOMPARE(unquote(QStringLiteral(" \" x \" ")), QStringLiteral("x"));
        QCOMPARE(unquote(QStringLiteral("\"")), QStringLiteral("\""));
        QCOMPARE(normalizePath(QStringLiteral("   ")), QString());
        QCOMPARE(normalizePath(QStringLiteral("/no/such/./dir/../x/")), QStringLiteral("/no/such/x"));
    }
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
