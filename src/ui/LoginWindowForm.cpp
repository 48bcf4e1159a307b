#include "ui/LoginWindowForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWidget>

namespace velk::ui {

void Ui_LoginWindow::setupUi(QWidget* window) {
    if (window->objectName().isEmpty()) {
        window->setObjectName(QStringLiteral("LoginWindow"));
    }
    window->resize(900, 600);

    horizontalLayout = new QHBoxLayout(window);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 48, 0, 48);
    horizontalSpacerLeft = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacerLeft);

    loginPanel = new QWidget(window);
    loginPanel->setObjectName(QStringLiteral("loginPanel"));
    QSizePolicy panelPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    panelPolicy.setHorizontalStretch(1);
    loginPanel->setSizePolicy(panelPolicy);
    loginPanel->setMinimumWidth(350);
    loginPanel->setMaximumWidth(500);

    verticalLayout = new QVBoxLayout(loginPanel);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(24);
    verticalLayout->setContentsMargins(48, 48, 48, 48);

    headerLayout = new QHBoxLayout();
    headerLayout->setObjectName(QStringLiteral("headerLayout"));
    headerLayout->setSpacing(12);
    headerLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    labelLogo = new QLabel(loginPanel);
    labelLogo->setObjectName(QStringLiteral("labelLogo"));
    labelLogo->setFixedSize(44, 44);
    labelLogo->setAlignment(Qt::AlignCenter);
    headerLayout->addWidget(labelLogo);
    labelTitle = new QLabel(loginPanel);
    labelTitle->setObjectName(QStringLiteral("labelTitle"));
    labelTitle->setAlignment(Qt::AlignCenter);
    headerLayout->addWidget(labelTitle);
    headerLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    verticalLayout->addLayout(headerLayout);

    labelWelcome = new QLabel(loginPanel);
    labelWelcome->setObjectName(QStringLiteral("labelWelcome"));
    labelWelcome->setAlignment(Qt::AlignCenter);
    verticalLayout->addWidget(labelWelcome);

    formLayout = new QVBoxLayout();
    formLayout->setObjectName(QStringLiteral("formLayout"));
    formLayout->setSpacing(14);
    editUsername = new QLineEdit(loginPanel);
    editUsername->setObjectName(QStringLiteral("editUsername"));
    editUsername->setMinimumHeight(46);
    formLayout->addWidget(editUsername);
    editPassword = new QLineEdit(loginPanel);
    editPassword->setObjectName(QStringLiteral("editPassword"));
    editPassword->setMinimumHeight(46);
    formLayout->addWidget(editPassword);
    verticalLayout->addLayout(formLayout);

    optionsLayout = new QHBoxLayout();
    optionsLayout->setObjectName(QStringLiteral("optionsLayout"));
    optionsLayout->setSpacing(20);
    checkRemember = new QCheckBox(loginPanel);
    checkRemember->setObjectName(QStringLiteral("checkRemember"));
    optionsLayout->addWidget(checkRemember);
    optionsLayout->addItem(new QSpacerItem(32, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    checkAutoLogin = new QCheckBox(loginPanel);
    checkAutoLogin->setObjectName(QStringLiteral("checkAutoLogin"));
    optionsLayout->addWidget(checkAutoLogin);
    optionsLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    verticalLayout->addLayout(optionsLayout);

    widgetLoading = new QWidget(loginPanel);
    widgetLoading->setObjectName(QStringLiteral("widgetLoading"));
    widgetLoading->setVisible(false);
    loadingLayout = new QHBoxLayout(widgetLoading);
    loadingLayout->setObjectName(QStringLiteral("loadingLayout"));
    loadingLayout->setSpacing(12);
    labelLoadingText = new QLabel(widgetLoading);
    labelLoadingText->setObjectName(QStringLiteral("labelLoadingText"));
    labelLoadingText->setMinimumHeight(46);
    labelLoadingText->setAlignment(Qt::AlignCenter);
    loadingLayout->addWidget(labelLoadingText);
    verticalLayout->addWidget(widgetLoading);

    btnLogin = new QPushButton(loginPanel);
    btnLogin->setObjectName(QStringLiteral("btnLogin"));
    btnLogin->setMinimumHeight(46);
    verticalLayout->addWidget(btnLogin);

    btnRegister = new QPushButton(loginPanel);
    btnRegister->setObjectName(QStringLiteral("btnRegister"));
    btnRegister->setMinimumHeight(44);
    verticalLayout->addWidget(btnRegister);

    horizontalLayout->addWidget(loginPanel);
    horizontalSpacerRight = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacerRight);

    retranslateUi(window);
}

void Ui_LoginWindow::retranslateUi(QWidget* window) {
    window->setWindowTitle(QStringLiteral("登录"));
    labelLogo->setText(QString());
    labelTitle->setText(QStringLiteral("VELK Client"));
    labelWelcome->setText(QStringLiteral("登录您的账户"));
    editUsername->setPlaceholderText(QStringLiteral("用户名、邮箱或CID"));
    editPassword->setPlaceholderText(QStringLiteral("密码"));
    checkRemember->setText(QStringLiteral("记住密码"));
    checkAutoLogin->setText(QStringLiteral("自动登录"));
    labelLoadingText->setText(QStringLiteral("登录中..."));
    btnLogin->setText(QStringLiteral("登录"));
    btnRegister->setText(QStringLiteral("跳转官网"));
}

} // namespace velk::ui
