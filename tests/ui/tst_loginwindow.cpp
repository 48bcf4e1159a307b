#include "AppConfig.h"
#include "Startup.h"
#include "network/ApiService.h"
#include "support/ChildRun.h"
#include "support/Fifo.h"
#include "support/MessageLog.h"
#include "support/RenameWatch.h"
#include "support/TestSupport.h"
#include "support/UnwritableFile.h"
#include "support/WebApiTestServer.h"
#include "ui/ErrorDialog.h"
#include "ui/LoadingSpinner.h"
#include "ui/LoginWindow.h"
#include "ui/SignInNotices.h"
#include "ui/ThemeManager.h"

#include <QAbstractAnimation>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGraphicsEffect>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <memory>
#include <optional>

using namespace velk;
using test::WebApiTestServer;
using ui::LoginWindow;

namespace {

const QJsonObject kUser{{QStringLiteral("username"), QStringLiteral("pilot01")},
                        {QStringLiteral("cid"), 1000001}};

WebApiTestServer::Reply loginOk() {
    return WebApiTestServer::json(200,
                                  WebApiTestServer::sessionEnvelope(
                                      QStringLiteral("LOGIN_SUCCESS"),
                                      WebApiTestServer::makeJwt(QDateTime::currentSecsSinceEpoch() + 3600),
                                      QStringLiteral("fresh-refresh"), kUser, QStringLiteral("登录成功")));
}

WebApiTestServer::Reply wrongPassword() {
    return WebApiTestServer::json(401,
                                  WebApiTestServer::envelope(QStringLiteral("WRONG_USERNAME_OR_PASSWORD")));
}

} // namespace

class TestLoginWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<WebApiTestServer> server;
    std::unique_ptr<LoginWindow> window;
    AppConfig* config = nullptr;

    template <typename T> T* child(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found) {
            qWarning("missing child %s", name);
        }
        return found;
    }
    QLineEdit* username() const { return child<QLineEdit>("editUsername"); }
    QLineEdit* password() const { return child<QLineEdit>("editPassword"); }
    QCheckBox* remember() const { return child<QCheckBox>("checkRemember"); }
    QCheckBox* autoLogin() const { return child<QCheckBox>("checkAutoLogin"); }
    QPushButton* loginButton() const { return child<QPushButton>("btnLogin"); }
    QTimer* autoLoginTimer() const { return child<QTimer>("autoLoginTimer"); }
    // Message boxes run modally; the watcher answers each as it opens and
    // notes its title and text.
    QTimer boxWatcher;
    QList<QPair<QString, QString>> boxes;

    void answerOpenBoxes() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<ui::ErrorDialog*>(top);
            if (box && box->isVisible()) {
                boxes.append({box->windowTitle(),
                              box->findChild<QTextEdit*>(QStringLiteral("messageLabel"))->toPlainText()});
                box->accept();
            }
        }
    }

    QString iniText() const {
        QFile file(config->filePath());
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    bool isBusy() const {
        return !loginButton()->isVisible() && child<QWidget>("widgetLoading")->isVisible() &&
               !username()->isEnabled() && !password()->isEnabled();
    }

    bool isIdle() const {
        return loginButton()->isVisible() && !child<QWidget>("widgetLoading")->isVisible() &&
               username()->isEnabled() && password()->isEnabled();
    }

private slots:
    void initTestCase() {
        config = AppConfig::instance();
        ui::ThemeManager::instance()->applyTheme(ui::ThemeManager::Light);
        boxWatcher.setInterval(5);
        connect(&boxWatcher, &QTimer::timeout, this, &TestLoginWindow::answerOpenBoxes);
        boxWatcher.start();
    }

    void init() {
        server = std::make_unique<WebApiTestServer>();
        network::ApiService::instance()->setBaseUrl(server->url());
        network::ApiService::instance()->clearSession();
        for (const auto* key : {&ConfigKeys::AuthToken, &ConfigKeys::AuthRefreshToken,
                                &ConfigKeys::AuthUsername, &ConfigKeys::AuthPassword}) {
            config->resetValue(*key);
        }
        config->setValue(ConfigKeys::AuthRememberPassword, false);
        config->setValue(ConfigKeys::AuthAutoLogin, false);
        QDir(test::appDir()).remove(QStringLiteral("resources/signpic.jpg"));
        window = std::make_unique<LoginWindow>();
        boxes.clear();
    }

    void cleanup() {
        setLoginWindow(nullptr);
        window.reset();
        server.reset();
    }

    void everyNamedWidgetExistsWithItsText() {
        QCOMPARE(window->objectName(), QStringLiteral("LoginWindow"));
        QCOMPARE(window->windowTitle(), QStringLiteral("VELK Client - 登录"));
        QCOMPARE(window->minimumSize(), QSize(800, 500));
        QCOMPARE(window->size(), QSize(900, 600));
        QVERIFY(window->findChild<QHBoxLayout*>(QStringLiteral("horizontalLayout")));
        QVERIFY(!window->findChild<QWidget*>(QStringLiteral("loginPanel")));
        auto* panel = child<QWidget>("GlassPanel");
        QVERIFY(panel);
        QCOMPARE(panel->minimumWidth(), 350);
        QCOMPARE(panel->maximumWidth(), 500);
        for (const char* name :
             {"verticalLayout", "headerLayout", "formLayout", "optionsLayout", "loadingLayout"}) {
            QVERIFY2(window->findChild<QLayout*>(QString::fromLatin1(name)), name);
        }
        QCOMPARE(child<QLabel>("labelLogo")->size(), QSize(44, 44));
        QVERIFY(!child<QLabel>("labelLogo")->pixmap().isNull());
        QCOMPARE(child<QLabel>("labelTitle")->text(), QStringLiteral("VELK Client"));
        QCOMPARE(child<QLabel>("labelTitle")->property("type").toString(), QStringLiteral("title"));
        QCOMPARE(child<QLabel>("labelWelcome")->text(), QStringLiteral("登录您的账户"));
        QCOMPARE(child<QLabel>("labelWelcome")->property("type").toString(), QStringLiteral("subtitle"));
        QCOMPARE(username()->placeholderText(), QStringLiteral("用户名、邮箱或CID"));
        QCOMPARE(password()->placeholderText(), QStringLiteral("密码"));
        QCOMPARE(password()->echoMode(), QLineEdit::Password);
        QCOMPARE(remember()->text(), QStringLiteral("记住密码"));
        QCOMPARE(autoLogin()->text(), QStringLiteral("自动登录"));
        QVERIFY(!remember()->isChecked() && !autoLogin()->isChecked());
        QCOMPARE(child<QLabel>("labelLoadingText")->text(), QStringLiteral("登录中..."));
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QCOMPARE(loginButton()->property("type").toString(), QStringLiteral("primary"));
        QCOMPARE(child<QPushButton>("btnRegister")->text(), QStringLiteral("跳转官网"));
        QCOMPARE(child<QPushButton>("btnRegister")->property("type").toString(), QStringLiteral("secondary"));
        auto* loading = child<QWidget>("widgetLoading");
        QVERIFY(loading->isHidden());
        auto* spinner = loading->findChild<ui::LoadingSpinner*>();
        QVERIFY(spinner);
        QCOMPARE(loading->layout()->indexOf(spinner), 0);
    }

    void tickingAutoLoginTicksRememberButNotTheOtherWay() {
        autoLogin()->setChecked(true);
        QVERIFY(remember()->isChecked());
        remember()->setChecked(false);
        QVERIFY(autoLogin()->isChecked());
        autoLogin()->setChecked(false);
        remember()->setChecked(true);
        QVERIFY(!autoLogin()->isChecked());
    }

    void passwordEyeRevealsAndHides() {
        QAction* eye = password()->actions().first(); // the trailing toggle is added first
        QVERIFY(!eye->icon().isNull());
        eye->trigger();
        QCOMPARE(password()->echoMode(), QLineEdit::Normal);
        eye->trigger();
        QCOMPARE(password()->echoMode(), QLineEdit::Password);
    }

    void emptyFieldsGiveTheHintAndSendNothing() {
        const QPair<QString, QString> hint{QStringLiteral("提示"), QStringLiteral("请输入用户名和密码")};
        window->show();
        username()->setText(QStringLiteral("   "));
        password()->setText(QStringLiteral("pw"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QCOMPARE(boxes, QList{hint});
        QVERIFY(username()->property("error").toBool());
        QVERIFY(password()->property("error").toBool());

        username()->setText(QStringLiteral("pilot01"));
        password()->clear();
        QTest::keyClick(username(), Qt::Key_Return);
        QCOMPARE(boxes, (QList{hint, hint}));
        QVERIFY(server->requests().isEmpty());
        QVERIFY(isIdle());
    }

    void failedSignInShowsTheClientText_data() {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("expected");
        QTest::newRow("wrong password") << true << QStringLiteral("用户名或密码错误");
        QTest::newRow("refused connection") << false << QStringLiteral("无法连接到服务器，请检查网络连接");
    }

    void failedSignInShowsTheClientText() {
        QFETCH(bool, reachable);
        QFETCH(QString, expected);
        if (reachable) {
            server->setReply("POST", "/users/sessions", wrongPassword());
        } else {
            network::ApiService::instance()->setBaseUrl(
                QUrl(QStringLiteral("http://127.0.0.1:%1").arg(WebApiTestServer::closedPort())));
        }
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("bad"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QTRY_COMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first(), qMakePair(QStringLiteral("登录失败"), expected));
        QVERIFY(username()->property("error").toBool());
        QVERIFY(password()->property("error").toBool());
        QVERIFY(isIdle());
        QCOMPARE(success.size(), 0);
        QVERIFY(window->isVisible());
    }

    void windowIsBusyWhileTheRequestRuns() {
        auto held = loginOk();
        held.hold = true;
        server->setReply("POST", "/users/sessions", held);
        window->show();
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("pw"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QVERIFY(isBusy());
        QVERIFY(!remember()->isEnabled() && !autoLogin()->isEnabled());
        QVERIFY(window->findChild<ui::LoadingSpinner*>()->isRunning());
        QTRY_COMPARE(server->heldCount(), 1);
        // A second click or return press while busy sends nothing more.
        window->onLoginClicked();
        QCOMPARE(server->requests().size(), 1);
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        server->releaseHeld();
        QTRY_COMPARE(success.size(), 1);
        QVERIFY(!window->findChild<ui::LoadingSpinner*>()->isRunning());
    }

    void successfulSignInStoresTheCredentialsAsTheBoxesSay() {
        server->setReply("POST", "/users/sessions", loginOk());
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        username()->setText(QStringLiteral("  pilot01 "));
        password()->setText(QStringLiteral("  s3cret pw  "));
        remember()->setChecked(true);
        // A failed try first marks the fields; the success clears the marks.
        username()->setProperty("error", true);
        test::RenameWatch saves(config->filePath());
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QTRY_COMPARE(success.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(saves.count(), 1); // the token with the credentials
        QVERIFY(!window->isVisible());
        QVERIFY(boxes.isEmpty());
        QVERIFY(!username()->property("error").toBool());

        const auto req = server->requests().first();
        QCOMPARE(req.json().value(QStringLiteral("username")).toString(), QStringLiteral("pilot01"));
        QCOMPARE(req.json().value(QStringLiteral("password")).toString(), QStringLiteral("  s3cret pw  "));

        QCOMPARE(config->value(ConfigKeys::AuthUsername), QStringLiteral("pilot01"));
        QCOMPARE(config->value(ConfigKeys::AuthPassword), QStringLiteral("  s3cret pw  "));
        QCOMPARE(config->value(ConfigKeys::AuthRememberPassword), true);
        QCOMPARE(config->value(ConfigKeys::AuthAutoLogin), false);
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("fresh-refresh"));
        const QString ini = iniText();
        QVERIFY(!ini.contains(QStringLiteral("s3cret")));
        QVERIFY(!ini.contains(QStringLiteral("fresh-refresh")));
        QVERIFY(ini.contains(QStringLiteral("RefreshToken=")));
    }

    void autoLoginWithoutRememberStoresNoCredentials() {
        config->setValue(ConfigKeys::AuthUsername, QStringLiteral("old"));
        server->setReply("POST", "/users/sessions", loginOk());
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        autoLogin()->setChecked(true);
        remember()->setChecked(false);
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("pw"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QTRY_COMPARE(success.size(), 1);
        QCOMPARE(config->value(ConfigKeys::AuthAutoLogin), true);
        QCOMPARE(config->value(ConfigKeys::AuthRememberPassword), false);
        QVERIFY(config->value(ConfigKeys::AuthUsername).isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthPassword).isEmpty());
    }

    // Also credentials the pilot asked to forget that config.ini still holds;
    // with nothing stored to forget there is nothing to tell. The notice says
    // what the next start does with what the file holds.
    void credentialsThatCannotBeStoredAreReported_data() {
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("told");
        QTest::newRow("remembered") << true << false
                                    << QStringLiteral(
                                           "密码未能保存到 config.ini（只读文件系统），只保留到本次运行结束。"
                                           "下次启动时不会填入密码，也不会自动登录。");
        QTest::newRow("forgotten") << false << true
                                   << QStringLiteral("已保存的密码未能从 config.ini 清除（只读文件系统）。"
                                                     "下次启动时仍会填入已保存的密码。");
        QTest::newRow("nothing to forget") << false << false << QString();
    }
    void credentialsThatCannotBeStoredAreReported() {
        QFETCH(bool, remember);
        QFETCH(bool, stored);
        QFETCH(QString, told);
        if (stored) {
            QVERIFY(config->setValues(ConfigKeys::AuthUsername, QStringLiteral("old"),
                                      ConfigKeys::AuthPassword, QStringLiteral("old pw"),
                                      ConfigKeys::AuthRememberPassword, true));
        }
        server->setReply("POST", "/users/sessions", loginOk());
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("pw"));
        this->remember()->setChecked(remember);
        {
            const test::ReadOnlyFolder readOnly(test::appDir());
            QVERIFY(readOnly.isSet());
            QTest::mouseClick(loginButton(), Qt::LeftButton);
            QTRY_COMPARE(success.size(), 1);
        }
        QCOMPARE(boxes.size(), told.isEmpty() ? 0 : 1);
        QVERIFY(boxes.isEmpty() || boxes.first() == qMakePair(QStringLiteral("提示"), told));
    }

    // Where config.ini could not be read at start nothing is known to be in
    // it: a sign-in is not reported saved, and what it may hold is named. A
    // folder there holds nothing: nothing to tell after a sign-in or a logout.
    void noticesWhereConfigIniCannotBeRead() {
        using namespace ConfigKeys;
        const QList<ConfigWrite> nothingKept{
            configWrite(AuthUsername, QString()), configWrite(AuthPassword, QString()),
            configWrite(AuthRememberPassword, false), configWrite(AuthAutoLogin, false)};
        const QString setAside = test::freshDir(QStringLiteral("set-aside"));
        QFile file(setAside + QStringLiteral("/config.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Auth]\nAutoLogin true\n") > 0);
        file.close();
        AppConfig unread(setAside);
        QStringList notWritten;
        QVERIFY(!unread.write(nothingKept, &notWritten));
        const QString why = QStringLiteral("（第 2 行“AutoLogin true”不是“键=值”的形式）");
        QCOMPARE(
            ui::signInNotice(unread, {}, notWritten),
            QStringLiteral("登录信息未能写入 config.ini%1。若其中保存有密码或自动登录，下次启动时仍会使用。")
                .arg(why));
        QCOMPARE(ui::logoutNotice(unread),
                 QStringLiteral(
                     "登录信息未能从 config.ini 清除%1。若其中保存有密码或自动登录，下次启动时仍会使用。")
                     .arg(why));

        const QString folder = test::freshDir(QStringLiteral("folder-at-config"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/config.ini")));
        AppConfig none(folder);
        none.writeSoon({configWrite(AuthRefreshToken, QStringLiteral("refreshed"))});
        QCoreApplication::processEvents();
        QVERIFY(!none.write(nothingKept, &notWritten));
        QCOMPARE(ui::signInNotice(none, {}, notWritten), QString());
        QCOMPARE(ui::logoutNotice(none), QString());
        QVERIFY(!ui::signInNotice(none, {true, QStringLiteral("pilot01"), QStringLiteral("pw"), false},
                                  notWritten)
                     .isEmpty());
    }

    // A folder in place of the key file: the store's key lives in memory for
    // the run, and both notices name the file. In a child run of this test,
    // whose store is made with the folder already there.
    void keyFileAtFaultIsNamedInTheNotices() {
        const QString keyPath = test::appDir() + QStringLiteral("/config.key");
        const QString named =
            QStringLiteral("密钥文件 %1 不是普通文件").arg(QDir::toNativeSeparators(keyPath));
        if (qEnvironmentVariableIsSet("VELK_TEST_KEY_IS_A_FOLDER")) {
            config->setValue(ConfigKeys::AuthRememberPassword, true);
            config->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot01"));
            QSettings(config->filePath(), QSettings::IniFormat)
                .setValue(QStringLiteral("Auth/Password"),
                          QStringLiteral("AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0e"));
            window->show();
            QTRY_COMPARE(boxes.size(), 1);
            QCOMPARE(boxes.first().second,
                     QStringLiteral("已保存的密码无法读取（%1），请重新输入").arg(named));
            server->setReply("POST", "/users/sessions", loginOk());
            QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
            password()->setText(QStringLiteral("pw"));
            QTest::mouseClick(loginButton(), Qt::LeftButton);
            QTRY_COMPARE(success.size(), 1);
            QCOMPARE(boxes.size(), 2);
            QCOMPARE(
                boxes.last().second,
                QStringLiteral("登录信息已保存到 config.ini，但密码只保留到本次运行结束（%1）。").arg(named));
            return;
        }
        const QString failures =
            test::failuresOfChildWithKeyFolder(QStringLiteral("keyFileAtFaultIsNamedInTheNotices"));
        QVERIFY2(failures.isEmpty(), qPrintable(failures));
    }

    void unreadableStoredPasswordIsReportedOnce() {
        config->setValue(ConfigKeys::AuthRememberPassword, true);
        config->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot01"));
        const auto storeUnreadable = [this](const QString& key) {
            QSettings(config->filePath(), QSettings::IniFormat)
                .setValue(key, QStringLiteral("AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0e"));
        };
        // An unreadable refresh token alone is dropped without a word.
        storeUnreadable(QStringLiteral("Auth/RefreshToken"));
        window->show();
        QCoreApplication::processEvents();
        QVERIFY(boxes.isEmpty());
        window->hide();
        storeUnreadable(QStringLiteral("Auth/Password"));
        window->show();
        QTRY_COMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first(),
                 qMakePair(QStringLiteral("提示"), QStringLiteral("已保存的密码无法读取，请重新输入")));
        QVERIFY(password()->text().isEmpty());
        window->hide();
        window->show();
        QCoreApplication::processEvents();
        QCOMPARE(boxes.size(), 1);
    }

    void savedCredentialsFillTheFormOnShow() {
        config->setValue(ConfigKeys::AuthRememberPassword, true);
        config->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot01"));
        config->setValue(ConfigKeys::AuthPassword, QStringLiteral(" pw "));
        window->show();
        QVERIFY(remember()->isChecked());
        QVERIFY(!autoLogin()->isChecked());
        QCOMPARE(username()->text(), QStringLiteral("pilot01"));
        QCOMPARE(password()->text(), QStringLiteral(" pw "));
        QVERIFY(!autoLoginTimer()->isActive());
    }

    void autoLoginUsesTheRefreshTokenAndWritesNothing() {
        config->setValue(ConfigKeys::AuthAutoLogin, true);
        config->setValue(ConfigKeys::AuthRefreshToken, QStringLiteral("stored-refresh"));
        server->setReply("GET", "/users/sessions",
                         WebApiTestServer::json(
                             200, WebApiTestServer::sessionEnvelope(
                                      QStringLiteral("OK"),
                                      WebApiTestServer::makeJwt(QDateTime::currentSecsSinceEpoch() + 600),
                                      QStringLiteral("rotated"), kUser)));
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        QSignalSpy changes(config, &AppConfig::configChanged);
        window->show();
        QTRY_COMPARE(success.size(), 1);
        QCOMPARE(server->requests().size(), 1);
        const auto req = server->requests().first();
        QCOMPARE(req.method, QByteArray("GET"));
        QCOMPARE(req.path, QStringLiteral("/users/sessions"));
        QCOMPARE(req.query.queryItemValue(QStringLiteral("first")), QStringLiteral("true"));
        QCOMPARE(req.header("Authorization"), QByteArray("Bearer stored-refresh"));
        QVERIFY(!window->isVisible());
        // Only the web-API client's own token writes happened.
        QStringList keys;
        for (const auto& args : changes) {
            keys << args.at(0).toString();
        }
        keys.removeDuplicates();
        keys.sort();
        QCOMPARE(keys, (QStringList{QStringLiteral("Auth/RefreshToken"), QStringLiteral("Auth/Token")}));
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("rotated"));
    }

    void rejectedRefreshTokenFallsBackToTheStoredPassword_data() {
        QTest::addColumn<bool>("passwordAccepted");
        QTest::newRow("password accepted") << true;
        QTest::newRow("password rejected too") << false;
    }

    void rejectedRefreshTokenFallsBackToTheStoredPassword() {
        QFETCH(bool, passwordAccepted);
        config->setValue(ConfigKeys::AuthAutoLogin, true);
        config->setValue(ConfigKeys::AuthRememberPassword, true);
        config->setValue(ConfigKeys::AuthUsername, QStringLiteral("pilot01"));
        config->setValue(ConfigKeys::AuthPassword, QStringLiteral(" spaced pw "));
        config->setValue(ConfigKeys::AuthRefreshToken, QStringLiteral("expired-refresh"));
        config->setValue(ConfigKeys::AuthToken, QStringLiteral("old-access"));
        server->setReply(
            "GET", "/users/sessions",
            WebApiTestServer::json(401, WebApiTestServer::envelope(QStringLiteral("TOKEN_EXPIRED"))));
        auto held = passwordAccepted ? loginOk() : wrongPassword();
        held.hold = true;
        server->setReply("POST", "/users/sessions", held);
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        QTRY_COMPARE(server->heldCount(), 1);
        // The tokens were reset before the password was sent, and the window stayed busy.
        QVERIFY(config->value(ConfigKeys::AuthToken).isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthRefreshToken).isEmpty());
        QVERIFY(network::ApiService::instance()->currentRefreshToken().isEmpty());
        QVERIFY(isBusy());
        QCOMPARE(server->requests().size(), 2);
        QCOMPARE(server->requests().at(0).method, QByteArray("GET"));
        QCOMPARE(server->requests().at(1).method, QByteArray("POST"));
        const QJsonObject sent = server->requests().at(1).json();
        QCOMPARE(sent.value(QStringLiteral("username")).toString(), QStringLiteral("pilot01"));
        QCOMPARE(sent.value(QStringLiteral("password")).toString(), QStringLiteral(" spaced pw "));

        server->releaseHeld();
        if (passwordAccepted) {
            QTRY_COMPARE(success.size(), 1);
            QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("fresh-refresh"));
            return;
        }
        // That fails too: the window goes idle without a word.
        QTRY_VERIFY(isIdle());
        QVERIFY(boxes.isEmpty());
        QCOMPARE(success.size(), 0);
        QVERIFY(!username()->property("error").toBool());
    }

    void unreachableServerKeepsTheRefreshTokenAndSaysWhy_data() {
        QTest::addColumn<int>("status"); // 0: nobody listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("connection refused") << 0 << QByteArray() << QStringLiteral("无法连接到服务器");
        QTest::newRow("server error") << 503 << QByteArray() << QStringLiteral("网络错误: ");
        QTest::newRow("database error envelope")
            << 200 << WebApiTestServer::envelope(QStringLiteral("DATABASE_ERROR"))
            << QStringLiteral("服务器数据库错误，请稍后重试");
    }

    void unreachableServerKeepsTheRefreshTokenAndSaysWhy() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        config->setValue(ConfigKeys::AuthAutoLogin, true);
        config->setValue(ConfigKeys::AuthRefreshToken, QStringLiteral("stored-refresh"));
        config->setValue(ConfigKeys::AuthToken, QStringLiteral("old-access"));
        if (status == 0) {
            network::ApiService::instance()->setBaseUrl(
                QUrl(QStringLiteral("http://127.0.0.1:%1").arg(WebApiTestServer::closedPort())));
        } else {
            server->setReply("GET", "/users/sessions", WebApiTestServer::json(status, body));
        }
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        QTRY_COMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().first, QStringLiteral("登录失败"));
        QVERIFY2(boxes.first().second.startsWith(expected), qPrintable(boxes.first().second));
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("stored-refresh"));
        QCOMPARE(config->value(ConfigKeys::AuthToken), QStringLiteral("old-access"));
        QVERIFY(isIdle());
        QCOMPARE(success.size(), 0);
    }

    void autoLoginWithNothingStoredGoesIdleSilently() {
        config->setValue(ConfigKeys::AuthAutoLogin, true);
        window->show();
        QVERIFY(remember()->isChecked()); // ticked by the coupling
        QSignalSpy fired(autoLoginTimer(), &QTimer::timeout);
        QVERIFY(fired.wait());
        QVERIFY(isIdle());
        QVERIFY(boxes.isEmpty());
        QVERIFY(server->requests().isEmpty());
    }

    void autoLoginIsScheduledOncePerWindow() {
        config->setValue(ConfigKeys::AuthAutoLogin, true);
        window->show();
        QVERIFY(autoLoginTimer()->isActive());
        QSignalSpy fired(autoLoginTimer(), &QTimer::timeout);
        QVERIFY(fired.wait());
        window->hide();
        window->show();
        QVERIFY(!autoLoginTimer()->isActive());
    }

    void autoLoginWaitsOutAManualSignInInFlight() {
        config->setValue(ConfigKeys::AuthAutoLogin, true);
        config->setValue(ConfigKeys::AuthRefreshToken, QStringLiteral("stored-refresh"));
        auto held = loginOk();
        held.hold = true;
        server->setReply("POST", "/users/sessions", held);
        QSignalSpy success(window.get(), &LoginWindow::loginSuccess);
        window->show();
        QVERIFY(autoLoginTimer()->isActive());
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("pw"));
        window->onLoginClicked();
        QTRY_COMPARE(server->heldCount(), 1);
        QSignalSpy fired(autoLoginTimer(), &QTimer::timeout);
        QVERIFY(fired.wait());
        QCoreApplication::processEvents();
        QVERIFY(server->requestsTo(QStringLiteral("/users/sessions")).size() == 1);
        QCOMPARE(server->requests().first().method, QByteArray("POST"));
        server->releaseHeld();
        QTRY_COMPARE(success.size(), 1);
        QCOMPARE(server->requests().size(), 1);
    }

    void completionAfterTheWindowIsGoneDoesNothing() {
        auto held = loginOk();
        held.hold = true;
        server->setReply("POST", "/users/sessions", held);
        window->show();
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("pw"));
        window->onLoginClicked();
        QTRY_COMPARE(server->heldCount(), 1);
        window.reset();
        server->releaseHeld();
        // The web-API client has been answered; nothing of the window is touched.
        QTRY_VERIFY(!network::ApiService::instance()->accessToken().isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthUsername).isEmpty());
    }

    // In one save; one that cannot be written is told, as the next start
    // would sign in again.
    void logoutShowsTheWindowAgainWithoutThePassword_data() {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("written") << false;
        QTest::newRow("config.ini cannot be written") << true;
    }
    void logoutShowsTheWindowAgainWithoutThePassword() {
        QFETCH(bool, blocked);
        setLoginWindow(window.get());
        connect(window.get(), &LoginWindow::loginSuccess, window.get(), &velk::onLoginSuccess,
                Qt::DirectConnection);
        server->setReply("POST", "/users/sessions", loginOk());
        window->show();
        username()->setText(QStringLiteral("pilot01"));
        password()->setText(QStringLiteral("pw"));
        remember()->setChecked(true);
        password()->actions().first()->trigger(); // revealed
        QCOMPARE(password()->echoMode(), QLineEdit::Normal);
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(lastLoginGeometry().size(), QSize(900, 600));
        QCOMPARE(lastLoginMinimumSize(), QSize(800, 500));

        QCoreApplication::processEvents();
        std::optional<test::ReadOnlyFolder> readOnly;
        if (blocked) {
            readOnly.emplace(test::appDir());
            QVERIFY(readOnly->isSet());
        }
        test::RenameWatch saves(config->filePath());
        onLogoutRequested();
        QCOMPARE(saves.count(), blocked ? 0 : 1);
        QVERIFY(network::ApiService::instance()->accessToken().isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthToken).isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthRefreshToken).isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthUsername).isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthPassword).isEmpty());
        QCOMPARE(config->value(ConfigKeys::AuthRememberPassword), false);
        QCOMPARE(config->value(ConfigKeys::AuthAutoLogin), false);
        QTRY_VERIFY(window->isVisible());
        // The remembered password and the token are still in the file.
        const QString notForgotten = QStringLiteral(
            "登录信息未能从 config.ini 清除（只读文件系统）。下次启动时仍会填入已保存的密码。");
        QCOMPARE(boxes.size(), blocked ? 1 : 0);
        QVERIFY(boxes.isEmpty() || boxes.first() == qMakePair(QStringLiteral("提示"), notForgotten));
        QVERIFY(password()->text().isEmpty());
        QCOMPARE(password()->echoMode(), QLineEdit::Password);
        QVERIFY(!remember()->isChecked() && !autoLogin()->isChecked());
        QCOMPARE(username()->text(), QStringLiteral("pilot01"));
    }

    void backgroundPictureIsPaintedUnderAVignette() {
        // Without a picture: a flat colour.
        window->show();
        QImage flat = window->grab().toImage();
        QCOMPARE(flat.pixelColor(3, 3), QColor(28, 28, 36));

        QDir().mkpath(test::appDir() + QStringLiteral("/resources"));
        QImage picture(400, 300, QImage::Format_RGB32);
        picture.fill(QColor(220, 40, 40));
        QVERIFY(picture.save(test::appDir() + QStringLiteral("/resources/signpic.jpg"), "JPG"));
        window.reset();
        QTest::ignoreMessage(QtDebugMsg, "图片尺寸: 1080 x 810");
        window = std::make_unique<LoginWindow>();
        window->show();
        const QImage painted = window->grab().toImage();
        const QColor corner = painted.pixelColor(3, 3);
        QVERIFY2(corner.red() > 100 && corner.red() > corner.green() * 2, qPrintable(corner.name()));
        // The vignette darkens the corners more than the centre line.
        const QColor edge = painted.pixelColor(painted.width() / 2, painted.height() - 3);
        QVERIFY(corner.red() < 220 && edge.red() <= 220);

        // Outgrowing the decoded size decodes again, larger.
        QTest::ignoreMessage(QtDebugMsg, "图片尺寸: 1440 x 1080");
        window->resize(1200, 800);
        QDir(test::appDir()).remove(QStringLiteral("resources/signpic.jpg"));
    }

    // A FIFO in place of the picture would hold the window's construction
    // for good: it is not read, and the window shows the flat colour.
    void pictureThatIsNoFileIsNamedAndLeftUnread() {
        const QString picture = test::appDir() + QStringLiteral("/resources/signpic.jpg");
        QVERIFY(test::makeFifo(picture));
        test::MessageLog log;
        window.reset();
        QVERIFY(test::returnsPromptly({picture}, test::kPromptMs,
                                      [&] { window = std::make_unique<LoginWindow>(); }));
        QVERIFY(test::isFifo(picture));
        QVERIFY(QFile::remove(picture));
        QVERIFY(log.contains(QStringLiteral("Background picture %1 cannot be used").arg(picture)));
        window->show();
        QCOMPARE(window->grab().toImage().pixelColor(3, 3), QColor(28, 28, 36));
    }

    void signInButtonHoverKeepsOneSetOfGlowAnimations() {
        window->show();
        QWidget* button = loginButton();
        QObject* shadow = button->graphicsEffect();
        QVERIFY(shadow);
        for (int i = 0; i < 6; ++i) {
            QEvent enter(QEvent::Enter);
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(button, (i % 2) ? &leave : &enter);
        }
        int running = 0;
        for (auto* animation : shadow->findChildren<QAbstractAnimation*>()) {
            running += animation->state() == QAbstractAnimation::Running ? 1 : 0;
        }
        QCOMPARE(running, 3);
    }
};

QTEST_MAIN(TestLoginWindow)
#include "tst_loginwindow.moc"
