#pragma once

#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>

class QAction;
class QTimer;

namespace velk::ui {

class LoadingSpinner;
class Ui_LoginWindow;

// The sign-in window: manual sign-in, automatic sign-in by stored refresh
// token and then by stored password, remembered credentials. Emits
// loginSuccess once the pilot is signed in, then closes itself.
class LoginWindow : public QWidget {
    Q_OBJECT

public:
    // The network's pilot portal, opened for registration.
    static constexpr const char* PortalUrl = "https://velk.net";

    explicit LoginWindow(QWidget* parent = nullptr);
    ~LoginWindow() override;

    // A modal message box over the window, as for a failed sign-in.
    void showMessage(const QString& title, const QString& message);

signals:
    void loginSuccess();

public slots:
    void onLoginClicked();
    void onRegisterClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setupCustomUi();
    void loadBackgroundPicture();
    bool loadScaledPicture(QSize target);
    void updateBackgroundPixmap();
    void updateBlurredBackground();
    void playFadeInAnimation();
    void loadSavedCredentials();
    void resetPasswordField(bool keepText);
    // What the pilot is told when the credentials, or their forgetting, are
    // kept for this run only; empty when config.ini took them.
    QString saveCredentials();
    void setLoading(bool on);
    void tryAutoLogin();
    void tryPasswordLogin();
    void handleLoginResult(bool ok, const QString& message);
    void handleAutoLoginResult(bool ok, const QString& message);
    using ResultHandler = void (LoginWindow::*)(bool ok, const QString& message);
    // Enters the busy state and signs in; `done` runs idle again, while the window exists.
    void sendLogin(const QString& username, const QString& password, ResultHandler done);
    // Emits loginSuccess, then closes the window unless the handler deleted it.
    void finishSignIn();
    void markFieldsInvalid(bool invalid);
    void setPasswordVisible(bool visible);

    std::unique_ptr<Ui_LoginWindow> ui;
    LoadingSpinner* spinner = nullptr;
    QPixmap backgroundPixmap;
    QPixmap sourcePixmap;
    QPixmap blurredPanelPixmap;
    QPixmap logoPixmap;
    QString backgroundPath;
    QSize loadedSize{-1, -1};
    QPoint backgroundOffset{0, 0};
    QRect blurredPanelRect;
    bool autoLoginTried = false;
    // The pilot has been told that the stored password cannot be read.
    bool unreadablePasswordTold = false;
    // Single shot, bound to the window: destroying the window cancels it.
    QTimer* autoLoginTimer = nullptr;
    // A sign-in or refresh request has been sent and not yet answered.
    bool requestInFlight = false;
    QAction* visibilityAction = nullptr;
    QIcon eyeOpenIcon;
    QIcon eyeClosedIcon;
};

} // namespace velk::ui
