#include "ui/SignInNotices.h"

#include "AppConfig.h"

#include <optional>

namespace velk::ui {

namespace {

// What config.ini holds of the sign-in, as the next start reads it.
struct Held {
    QString username;
    QString password;
    bool remember = false;
    bool autoLogin = false;
    QString token;

    bool fillsPassword() const { return remember && !password.isEmpty(); }
    bool signsIn() const {
        return autoLogin && (!token.isEmpty() || (remember && !username.isEmpty() && !password.isEmpty()));
    }
    bool holdsAny() const { return !password.isEmpty() || !token.isEmpty() || signsIn(); }
};

// Nothing when the file is there but cannot be read.
std::optional<Held> held(const AppConfig& config) {
    using namespace ConfigKeys;
    const auto username = config.storedValue(AuthUsername);
    const auto password = config.storedValue(AuthPassword);
    const auto remember = config.storedValue(AuthRememberPassword);
    const auto autoLogin = config.storedValue(AuthAutoLogin);
    const auto token = config.storedValue(AuthRefreshToken);
    if (!username || !password || !remember || !autoLogin || !token) {
        return std::nullopt;
    }
    return Held{*username, *password, *remember, *autoLogin, *token};
}

QString why(const AppConfig& config) {
    QString reason = config.readProblem();
    if (reason.isEmpty()) {
        reason = config.writeProblem();
    }
    return reason.isEmpty() ? QString() : QStringLiteral("（%1）").arg(reason);
}

QString nextStart(const std::optional<Held>& file) {
    if (!file) {
        return QStringLiteral("若其中保存有密码或自动登录，下次启动时仍会使用。");
    }
    if (file->fillsPassword() && file->signsIn()) {
        return QStringLiteral("下次启动时仍会填入已保存的密码并自动登录。");
    }
    if (file->fillsPassword()) {
        return QStringLiteral("下次启动时仍会填入已保存的密码。");
    }
    if (file->signsIn()) {
        return QStringLiteral("下次启动时仍会自动登录。");
    }
    if (!file->password.isEmpty() || !file->token.isEmpty()) {
        return QStringLiteral("其中仍保存着登录凭据。");
    }
    return QStringLiteral("下次启动时不会填入密码，也不会自动登录。");
}

} // namespace

QString signInNotice(const AppConfig& config, const SignInAsked& asked, const QStringList& notWritten) {
    if (notWritten.isEmpty()) {
        return {};
    }
    const std::optional<Held> file = held(config);
    if (notWritten == QStringList{ConfigKeys::AuthPassword.name} && file && config.readProblem().isEmpty() &&
        file->remember == asked.remember && file->autoLogin == asked.autoLogin) {
        // Only the password lives in memory: the key to seal it is not on disk.
        const QString key = config.keyFileProblem();
        return QStringLiteral("登录信息已保存到 config.ini，但密码只保留到本次运行结束%1。")
            .arg(key.isEmpty() ? QString() : QStringLiteral("（%1）").arg(key));
    }
    if (!file) {
        return (asked.remember ? QStringLiteral("登录信息未能保存到 config.ini%1，只保留到本次运行结束。%2")
                               : QStringLiteral("登录信息未能写入 config.ini%1。%2"))
            .arg(why(config), nextStart(file));
    }
    const bool passwordAsAsked = asked.remember ? file->fillsPassword() && file->password == asked.password &&
                                                      file->username == asked.username
                                                : file->password.isEmpty();
    if (!passwordAsAsked) {
        return (asked.remember ? QStringLiteral("密码未能保存到 config.ini%1，只保留到本次运行结束。%2")
                               : QStringLiteral("已保存的密码未能从 config.ini 清除%1。%2"))
            .arg(why(config), nextStart(file));
    }
    if (file->signsIn() != asked.autoLogin) {
        return (asked.autoLogin ? QStringLiteral("自动登录未能保存到 config.ini%1。%2")
                                : QStringLiteral("自动登录未能从 config.ini 取消%1。%2"))
            .arg(why(config), nextStart(file));
    }
    return {};
}

QString logoutNotice(const AppConfig& config) {
    const std::optional<Held> file = held(config);
    if (file && !file->holdsAny()) {
        return {};
    }
    return QStringLiteral("登录信息未能从 config.ini 清除%1。%2").arg(why(config), nextStart(file));
}

} // namespace velk::ui
