#include "ui/LoginWindow.h"

#include "ui/SignInNotices.h"

#include "AppConfig.h"
#include "common/RegularFile.h"
#include "network/ApiService.h"
#include "ui/ErrorDialog.h"
#include "ui/LoadingSpinner.h"
#include "ui/LoginWindowForm.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QEasingCurve>
#include <QGraphicsBlurEffect>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace velk::ui {

namespace {

// Far above any photograph meant for a window; a larger file is not one.
constexpr qint64 MaxPictureBytes = 64 * 1024 * 1024;

void repolish(QWidget* widget) {
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

void setType(QWidget* widget, const char* type) {
    widget->setProperty("type", QString::fromLatin1(type));
    repolish(widget);
}

QPen iconPen(const QColor& color, qreal width) {
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    return pen;
}

QPixmap transparentPixmap(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon personIcon() {
    QPixmap pixmap = transparentPixmap(20);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(iconPen(QColor(180, 180, 180), 1.5));
    p.drawEllipse(QRect(QPoint(6, 4), QPoint(13, 11)));
    p.drawArc(QRect(3, 19, 14, 10), 0, 180 * 16);
    return QIcon(pixmap);
}

QIcon lockIcon() {
    QPixmap pixmap = transparentPixmap(20);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(iconPen(QColor(180, 180, 180), 1.5));
    p.drawRect(QRect(QPoint(4, 9), QPoint(15, 17)));
    p.drawArc(QRect(6, 3, 8, 12), 0, 180 * 16);
    p.drawPoint(10, 13);
    return QIcon(pixmap);
}

QIcon eyeIcon(bool open) {
    QPixmap pixmap = transparentPixmap(24);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(iconPen(open ? QColor(180, 180, 180) : QColor(130, 130, 130), 1.8));
    if (open) {
        p.drawArc(QRect(4, 8, 16, 12), 35 * 16, 110 * 16);
    }
    p.drawArc(QRect(4, 4, 16, 12), -35 * 16, -110 * 16);
    if (open) {
        p.drawEllipse(QRect(QPoint(9, 9), QPoint(14, 14)));
    } else {
        p.drawLine(QPoint(5, 5), QPoint(19, 19));
    }
    return QIcon(pixmap);
}

const QString kFieldStyle = QStringLiteral(
    "QLineEdit { background-color: rgba(0, 0, 0, 0.3); color: #FFFFFF;"
    " selection-background-color: rgba(0, 168, 232, 0.5); border: 1px solid rgba(255, 255, 255, 0.08);"
    " border-radius: 8px; padding: 10px 14px; font-size: 14px; }"
    "QLineEdit:hover { border: 1px solid rgba(255, 255, 255, 0.15); background-color: rgba(0, 0, 0, 0.4); }"
    "QLineEdit:focus { border: 1px solid #00A8E8; background-color: rgba(0, 0, 0, 0.5); }"
    "QLineEdit[error=\"true\"] { border: 1px solid #E74C3C; background-color: rgba(231, 76, 60, 0.1); }");

const QString kCheckStyle = QStringLiteral(
    "QCheckBox { color: rgba(255, 255, 255, 0.7); font-size: 13px; font-weight: 500; spacing: 8px; }"
    "QCheckBox:hover { color: #FFFFFF; }"
    "QCheckBox::indicator { width: 18px; height: 18px; border-radius: 6px;"
    " border: 1px solid rgba(255, 255, 255, 0.2); background-color: rgba(0, 0, 0, 0.2); }"
    "QCheckBox::indicator:hover { border: 1px solid rgba(255, 255, 255, 0.4); background-color: rgba(0, 0, "
    "0, 0.3); }"
    "QCheckBox::indicator:checked { background-color: #00A8E8; border: 1px solid #00A8E8;"
    " image: url(:/resources/checkmark.svg); }"
    "QCheckBox::indicator:checked:hover { background-color: #0090C7; border: 1px solid #0090C7; }");

} // namespace

LoginWindow::LoginWindow(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui_LoginWindow>()) {
    ui->setupUi(this);
    setupCustomUi();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // Centred on the primary screen wherever it sits in the virtual desktop.
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    connect(ui->btnLogin, &QPushButton::clicked, this, &LoginWindow::onLoginClicked);
    connect(ui->btnRegister, &QPushButton::clicked, this, &LoginWindow::onRegisterClicked);
    connect(ui->editUsername, &QLineEdit::returnPressed, this, &LoginWindow::onLoginClicked);
    connect(ui->editPassword, &QLineEdit::returnPressed, this, &LoginWindow::onLoginClicked);
    connect(ui->checkAutoLogin, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            ui->checkRemember->setChecked(true);
        }
    });
}

LoginWindow::~LoginWindow() = default;

void LoginWindow::setupCustomUi() {
    setWindowTitle(QStringLiteral("VELK Client - 登录"));
    setMinimumSize(800, 500);
    setWindowIcon(QIcon(QStringLiteral(":/resources/logo.png")));
    setAttribute(Qt::WA_StyledBackground);

    ui->editPassword->setEchoMode(QLineEdit::Password);

    setType(ui->labelTitle, "title");
    ui->labelTitle->setStyleSheet(QStringLiteral("color: #FFFFFF; font-size: 26px; font-weight: 700; "
                                                 "letter-spacing: -0.5px; background: transparent;"));

    setType(ui->labelWelcome, "subtitle");
    ui->labelWelcome->setStyleSheet(
        QStringLiteral("color: rgba(255, 255, 255, 0.7); font-size: 14px;"
                       " font-weight: 500; background: transparent; margin-bottom: 8px;"));

    ui->labelLoadingText->setStyleSheet(
        QStringLiteral("color: #00A8E8; font-size: 14px; font-weight: 600; background: transparent;"));

    setType(ui->btnLogin, "primary");
    auto* loginShadow = new QGraphicsDropShadowEffect(ui->btnLogin);
    loginShadow->setBlurRadius(20);
    loginShadow->setColor(QColor(0, 168, 232, 90));
    loginShadow->setOffset(0, 4);
    ui->btnLogin->setGraphicsEffect(loginShadow);
    ui->btnLogin->installEventFilter(this);

    setType(ui->btnRegister, "secondary");

    ui->loginPanel->setObjectName(QStringLiteral("GlassPanel"));
    ui->loginPanel->setStyleSheet(QStringLiteral(
        "#GlassPanel { background-color: rgba(24, 25, 30, 0.65); border: 1px solid rgba(255, 255, 255, 0.08);"
        " border-top: 1px solid rgba(255, 255, 255, 0.15); border-left: 1px solid rgba(255, 255, 255, 0.12);"
        " border-radius: 20px; }"));
    repolish(ui->loginPanel);
    if (auto* box = qobject_cast<QHBoxLayout*>(layout())) {
        box->setAlignment(ui->loginPanel, Qt::AlignHCenter | Qt::AlignVCenter);
    }

    loadBackgroundPicture();

    ui->checkRemember->setStyleSheet(kCheckStyle);
    ui->checkAutoLogin->setStyleSheet(kCheckStyle);

    const QPixmap logo(QStringLiteral(":/resources/logo.png"));
    if (!logo.isNull()) {
        ui->labelLogo->setPixmap(logo.scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        logoPixmap = logo.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        auto* logoShadow = new QGraphicsDropShadowEffect(ui->labelLogo);
        logoShadow->setBlurRadius(25);
        logoShadow->setColor(QColor(0, 168, 232, 100));
        logoShadow->setOffset(0, 0);
        ui->labelLogo->setGraphicsEffect(logoShadow);
    }

    visibilityAction = ui->editPassword->addAction(QIcon(), QLineEdit::TrailingPosition);

    ui->editUsername->setStyleSheet(kFieldStyle);
    ui->editPassword->setStyleSheet(kFieldStyle);

    ui->editUsername->addAction(personIcon(), QLineEdit::LeadingPosition);
    ui->editPassword->addAction(lockIcon(), QLineEdit::LeadingPosition);

    ui->btnLogin->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: #00A8E8; color: #FFFFFF; border: none; border-radius: 8px;"
        " font-weight: 600; font-size: 15px; letter-spacing: 1px; }"
        "QPushButton:hover { background-color: #0090C7; }"
        "QPushButton:pressed { background-color: #0078A6; }"));
    ui->btnRegister->setStyleSheet(
        QStringLiteral("QPushButton { background-color: transparent; color: rgba(255, 255, 255, 0.7);"
                       " border: 1px solid rgba(255, 255, 255, 0.15); border-radius: 8px; font-weight: 500; "
                       "font-size: 14px; }"
                       "QPushButton:hover { background-color: rgba(255, 255, 255, 0.05); color: #FFFFFF;"
                       " border: 1px solid rgba(255, 255, 255, 0.3); }"));

    eyeOpenIcon = eyeIcon(true);
    eyeClosedIcon = eyeIcon(false);
    visibilityAction->setIcon(eyeClosedIcon);
    connect(visibilityAction, &QAction::triggered, this,
            [this] { setPasswordVisible(ui->editPassword->echoMode() == QLineEdit::Password); });

    autoLoginTimer = new QTimer(this);
    autoLoginTimer->setObjectName(QStringLiteral("autoLoginTimer"));
    autoLoginTimer->setSingleShot(true);
    autoLoginTimer->setInterval(500);
    connect(autoLoginTimer, &QTimer::timeout, this, &LoginWindow::tryAutoLogin);

    spinner = new LoadingSpinner(ui->widgetLoading);
    spinner->setObjectName(QStringLiteral("spinner"));
    ui->loadingLayout->insertWidget(0, spinner, 0, Qt::AlignVCenter);
}

void LoginWindow::setPasswordVisible(bool visible) {
    ui->editPassword->setEchoMode(visible ? QLineEdit::Normal : QLineEdit::Password);
    visibilityAction->setIcon(visible ? eyeOpenIcon : eyeClosedIcon);
}

// ---- Showing ----

void LoginWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window restored by the window system keeps what the pilot has typed
    // and ticked; only a show by the program reloads the stored state.
    if (!event->spontaneous()) {
        loadSavedCredentials();
    }
    updateBlurredBackground();
    playFadeInAnimation();
    if (ui->checkAutoLogin->isChecked() && !autoLoginTried) {
        autoLoginTried = true;
        autoLoginTimer->start();
    }
}

void LoginWindow::loadSavedCredentials() {
    auto* config = AppConfig::instance();
    const bool remember = config->value(ConfigKeys::AuthRememberPassword);
    ui->checkRemember->setChecked(remember);
    ui->checkAutoLogin->setChecked(config->value(ConfigKeys::AuthAutoLogin));
    // A password left from an earlier session must neither stay nor be revealable.
    resetPasswordField(remember);
    if (remember) {
        const QString username = config->value(ConfigKeys::AuthUsername);
        const QString password = config->value(ConfigKeys::AuthPassword);
        if (!username.isEmpty()) {
            ui->editUsername->setText(username);
        }
        if (!password.isEmpty()) {
            ui->editPassword->setText(password);
        }
    }
    if (!unreadablePasswordTold && config->isUnreadable(ConfigKeys::AuthPassword)) {
        unreadablePasswordTold = true;
        // After the show, so that the box has a window to sit on.
        // Where the key file itself is at fault, it is named: no other
        // place shows what to mend.
        const QString why = config->keyFileProblem();
        const QString notice = why.isEmpty()
                                   ? QStringLiteral("已保存的密码无法读取，请重新输入")
                                   : QStringLiteral("已保存的密码无法读取（%1），请重新输入").arg(why);
        QTimer::singleShot(0, this, [this, notice] { showMessage(QStringLiteral("提示"), notice); });
    }
}

void LoginWindow::resetPasswordField(bool keepText) {
    setPasswordVisible(false);
    if (!keepText) {
        ui->editPassword->clear();
    }
}

void LoginWindow::playFadeInAnimation() {
    auto* effect = new QGraphicsOpacityEffect(ui->loginPanel);
    effect->setOpacity(0.0);
    ui->loginPanel->setGraphicsEffect(effect);
    auto* fade = new QPropertyAnimation(effect, "opacity", effect);
    fade->setDuration(350);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    QPointer<QGraphicsOpacityEffect> installed(effect);
    QPointer<QWidget> panel(ui->loginPanel);
    connect(fade, &QPropertyAnimation::finished, this, [installed, panel] {
        if (panel && installed && panel->graphicsEffect() == installed) {
            panel->setGraphicsEffect(nullptr);
        }
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

// ---- Sign-in ----

void LoginWindow::setLoading(bool on) {
    ui->btnLogin->setVisible(!on);
    ui->widgetLoading->setVisible(on);
    ui->editUsername->setEnabled(!on);
    ui->editPassword->setEnabled(!on);
    ui->btnRegister->setEnabled(!on);
    ui->checkRemember->setEnabled(!on);
    ui->checkAutoLogin->setEnabled(!on);
    if (on) {
        spinner->start();
    } else {
        spinner->stop();
    }
}

void LoginWindow::tryAutoLogin() {
    if (requestInFlight) {
        return; // a sign-in is already on its way
    }
    const QString token = AppConfig::instance()->value(ConfigKeys::AuthRefreshToken);
    if (token.isEmpty()) {
        tryPasswordLogin();
        return;
    }
    qDebug() << "Trying auto login with refresh token...";
    setLoading(true);
    requestInFlight = true;
    network::ApiService::instance()->refreshToken(
        token,
        [guard = QPointer<LoginWindow>(this)](bool ok, const QString& message, bool rejected) {
            if (!guard) {
                return;
            }
            guard->requestInFlight = false;
            if (ok) {
                qInfo() << "Auto login with refresh token success";
                guard->setLoading(false);
                guard->finishSignIn();
                return;
            }
            qWarning().noquote() << QStringLiteral("Auto login with refresh token failed: ") + message;
            if (!rejected) {
                // The server was not reached or gave no verdict: the token may still
                // be good, so it stays, and the pilot learns why nothing happened.
                guard->setLoading(false);
                guard->showMessage(QStringLiteral("登录失败"), message);
                return;
            }
            // Still busy: the stored password is tried next.
            network::ApiService::instance()->clearSession();
            auto* config = AppConfig::instance();
            config->resetValue(ConfigKeys::AuthToken);
            config->resetValue(ConfigKeys::AuthRefreshToken);
            guard->tryPasswordLogin();
        },
        true);
}

void LoginWindow::tryPasswordLogin() {
    if (requestInFlight) {
        return;
    }
    const QString username = ui->editUsername->text().trimmed();
    const QString password = ui->editPassword->text();
    if (username.isEmpty() || password.isEmpty()) {
        setLoading(false);
        return;
    }
    qDebug() << "Trying auto login with username and password...";
    sendLogin(username, password, &LoginWindow::handleAutoLoginResult);
}

void LoginWindow::handleAutoLoginResult(bool ok, const QString& message) {
    if (ok) {
        qInfo() << "Auto login with password success";
        finishSignIn();
        return;
    }
    qWarning().noquote() << QStringLiteral("Auto login with password failed: ") + message;
}

void LoginWindow::onLoginClicked() {
    if (requestInFlight) {
        return;
    }
    const QString username = ui->editUsername->text().trimmed();
    const QString password = ui->editPassword->text();
    if (username.isEmpty() || password.isEmpty()) {
        markFieldsInvalid(true);
        showMessage(QStringLiteral("提示"), QStringLiteral("请输入用户名和密码"));
        return;
    }
    sendLogin(username, password, &LoginWindow::handleLoginResult);
}

void LoginWindow::sendLogin(const QString& username, const QString& password, ResultHandler done) {
    setLoading(true);
    requestInFlight = true;
    network::ApiService::instance()->login(
        username, password, [guard = QPointer<LoginWindow>(this), done](bool ok, const QString& message) {
            if (!guard) {
                return;
            }
            guard->requestInFlight = false;
            guard->setLoading(false);
            (guard.data()->*done)(ok, message);
        });
}

void LoginWindow::finishSignIn() {
    // The handler of loginSuccess may hide or even delete this window.
    QPointer<LoginWindow> guard(this);
    emit loginSuccess();
    if (guard) {
        close();
    }
}

void LoginWindow::handleLoginResult(bool ok, const QString& message) {
    if (ok) {
        markFieldsInvalid(false);
        const QString notice = saveCredentials();
        if (!notice.isEmpty()) {
            QPointer<LoginWindow> guard(this);
            showMessage(QStringLiteral("提示"), notice);
            if (!guard) {
                return;
            }
        }
        finishSignIn();
        return;
    }
    markFieldsInvalid(true);
    showMessage(QStringLiteral("登录失败"),
                message.isEmpty() ? QStringLiteral("登录失败，请检查用户名和密码") : message);
}

QString LoginWindow::saveCredentials() {
    auto* config = AppConfig::instance();
    const bool remember = ui->checkRemember->isChecked();
    using namespace ConfigKeys;
    // Stored exactly as sent, so that the automatic sign-in sends the same
    // text; when not remembered, what config.ini still holds would be read
    // again at the next start, so it is forgotten.
    const SignInAsked asked{remember, remember ? ui->editUsername->text().trimmed() : QString(),
                            remember ? ui->editPassword->text() : QString(), ui->checkAutoLogin->isChecked()};
    QStringList notWritten;
    config->write({configWrite(AuthUsername, asked.username), configWrite(AuthPassword, asked.password),
                   configWrite(AuthRememberPassword, remember), configWrite(AuthAutoLogin, asked.autoLogin)},
                  &notWritten);
    return signInNotice(*config, asked, notWritten);
}

void LoginWindow::markFieldsInvalid(bool invalid) {
    for (QLineEdit* field : {ui->editUsername, ui->editPassword}) {
        field->setProperty("error", invalid);
        repolish(field);
    }
}

void LoginWindow::showMessage(const QString& title, const QString& message) {
    ErrorDialog dialog(title, message, this);
    dialog.exec();
}

void LoginWindow::onRegisterClicked() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(PortalUrl)));
}

// ---- Background ----

void LoginWindow::loadBackgroundPicture() {
    backgroundPath = QCoreApplication::applicationDirPath() + QStringLiteral("/resources/signpic.jpg");
    const QSize target(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
    if (!loadScaledPicture(target)) {
        qDebug().noquote() << "图片加载失败，使用纯色占位:" << backgroundPath;
    }
}

bool LoginWindow::loadScaledPicture(QSize target) {
    if (backgroundPath.isEmpty()) {
        return false;
    }
    // Read whole first: the image reader would wait for good on a FIFO.
    const auto file = common::readRegularFile(backgroundPath, MaxPictureBytes);
    if (!file.isRead()) {
        if (file.status != common::RegularFileRead::Status::Missing) {
            qWarning().noquote() << "Background picture" << backgroundPath
                                 << "cannot be used:" << file.reason;
        }
        return false;
    }
    QBuffer buffer;
    buffer.setData(file.data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const int w = std::max(target.width(), minimumWidth());
    const int h = std::max(target.height(), minimumHeight());
    const QSize requested(w + std::max(160, w / 5), h + std::max(120, h / 5));
    QSize decodeSize = requested;
    const QSize natural = reader.size();
    if (natural.isValid() && requested.width() >= 0 && requested.height() >= 0) {
        decodeSize = natural.scaled(requested, Qt::KeepAspectRatioByExpanding);
        reader.setScaledSize(decodeSize);
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        return false;
    }
    qDebug().noquote() << "登录图片加载成功，路径:" << backgroundPath;
    qDebug() << "图片尺寸:" << image.width() << "x" << image.height();
    sourcePixmap = QPixmap::fromImage(image);
    loadedSize = decodeSize;
    updateBackgroundPixmap();
    return true;
}

void LoginWindow::updateBackgroundPixmap() {
    const QSize needed(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
    if (!sourcePixmap.isNull() && loadedSize.width() >= 0 && loadedSize.height() >= 0 &&
        (loadedSize.width() < needed.width() || loadedSize.height() < needed.height())) {
        // Outgrown: decode again at the larger size. When that fails the
        // current picture stays, so fall through and rescale it.
        if (loadScaledPicture(needed)) {
            return;
        }
    }
    if (sourcePixmap.isNull()) {
        backgroundPixmap = QPixmap();
        blurredPanelPixmap = QPixmap();
        blurredPanelRect = QRect();
        update();
        return;
    }
    const QSize target(std::max(1, width()), std::max(1, height()));
    if (sourcePixmap.width() < 1 || sourcePixmap.height() < 1) {
        return;
    }
    const QPixmap scaled =
        sourcePixmap.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    if (scaled.width() <= target.width() && scaled.height() <= target.height()) {
        backgroundPixmap = scaled;
    } else {
        backgroundPixmap =
            scaled.copy((scaled.width() - target.width()) / 2, (scaled.height() - target.height()) / 2,
                        target.width(), target.height());
    }
    backgroundOffset = QPoint(0, 0);
    updateBlurredBackground();
    update();
}

void LoginWindow::updateBlurredBackground() {
    blurredPanelPixmap = QPixmap();
    blurredPanelRect = QRect();
    if (backgroundPixmap.isNull()) {
        return;
    }
    const QRect panel = ui->loginPanel->geometry();
    if (!panel.isValid()) {
        return;
    }
    const QRect source = panel.translated(-backgroundOffset).intersected(backgroundPixmap.rect());
    if (!source.isValid()) {
        return;
    }
    const QPixmap copy = backgroundPixmap.copy(source);
    if (copy.isNull()) {
        return;
    }
    QGraphicsScene scene;
    scene.setSceneRect(0, 0, copy.width(), copy.height());
    auto* item = new QGraphicsPixmapItem(copy);
    auto* blur = new QGraphicsBlurEffect();
    blur->setBlurRadius(28);
    blur->setBlurHints(QGraphicsBlurEffect::PerformanceHint);
    item->setGraphicsEffect(blur);
    item->setPos(0, 0);
    scene.addItem(item);

    QPixmap blurred(copy.size());
    blurred.fill(Qt::transparent);
    {
        QPainter painter(&blurred);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF area(0, 0, copy.width(), copy.height());
        scene.render(&painter, area, area, Qt::KeepAspectRatio);
    }
    blurredPanelPixmap = blurred.scaled(panel.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    blurredPanelRect = panel;
}

void LoginWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateBackgroundPixmap();
}

// ---- Painting ----

void LoginWindow::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.fillRect(rect(), QColor(28, 28, 36));
        if (!backgroundPixmap.isNull()) {
            painter.drawPixmap(backgroundOffset, backgroundPixmap);
            QRadialGradient vignette(QPointF((width() - 1) / 2, (height() - 1) / 2),
                                     std::max(width(), height()) / 1.5);
            vignette.setColorAt(0.0, QColor(0, 0, 0, 20));
            vignette.setColorAt(1.0, QColor(0, 0, 0, 120));
            painter.fillRect(rect(), vignette);
            if (!blurredPanelPixmap.isNull() && blurredPanelRect == ui->loginPanel->geometry()) {
                painter.drawPixmap(ui->loginPanel->geometry().topLeft(), blurredPanelPixmap);
            }
            if (!logoPixmap.isNull()) {
                painter.setOpacity(0.15);
                painter.drawPixmap(width() / 2 - logoPixmap.width() / 2, height() - logoPixmap.height() - 20,
                                   logoPixmap);
                painter.setOpacity(1.0);
            }
        }
    }
    QWidget::paintEvent(event);
}

// ---- Hover glow of the sign-in button ----

bool LoginWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->btnLogin && (event->type() == QEvent::Enter || event->type() == QEvent::Leave)) {
        if (auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(ui->btnLogin->graphicsEffect())) {
            const auto running = shadow->findChildren<QPropertyAnimation*>();
            for (QPropertyAnimation* animation : running) {
                animation->stop();
                animation->deleteLater();
            }
            const bool enter = event->type() == QEvent::Enter;
            const auto animate = [shadow](const char* property, const QVariant& end) {
                auto* animation = new QPropertyAnimation(shadow, property, shadow);
                animation->setDuration(300);
                animation->setEasingCurve(QEasingCurve::OutCubic);
                animation->setStartValue(shadow->property(property));
                animation->setEndValue(end);
                animation->start(QAbstractAnimation::DeleteWhenStopped);
            };
            animate("blurRadius", enter ? 35.0 : 20.0);
            animate("color", enter ? QColor(0, 168, 232, 180) : QColor(0, 168, 232, 90));
            animate("offset", enter ? QPointF(0, 6) : QPointF(0, 4));
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace velk::ui
