#pragma once

#include <QString>
#include <QStringList>

namespace velk {
class AppConfig;
}

namespace velk::ui {

// What the pilot asked a sign-in to keep in config.ini.
struct SignInAsked {
    bool remember = false;
    QString username;
    QString password;
    bool autoLogin = false;
};

// The notice after a sign-in whose credentials `notWritten` missed config.ini:
// what the next start will do with what the file holds now. Empty where that
// is what the pilot asked.
QString signInNotice(const AppConfig& config, const SignInAsked& asked, const QStringList& notWritten);

// The notice after a logout whose reset missed config.ini: what the file
// still holds that fills in or signs in. Empty where it holds nothing.
QString logoutNotice(const AppConfig& config);

} // namespace velk::ui
