#pragma once

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;
class QWidget;

namespace velk::ui {

// The sign-in form's widget tree, built in code.
class Ui_LoginWindow {
public:
    QHBoxLayout* horizontalLayout = nullptr;
    QSpacerItem* horizontalSpacerLeft = nullptr;
    QWidget* loginPanel = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* headerLayout = nullptr;
    QLabel* labelLogo = nullptr;
    QLabel* labelTitle = nullptr;
    QLabel* labelWelcome = nullptr;
    QVBoxLayout* formLayout = nullptr;
    QLineEdit* editUsername = nullptr;
    QLineEdit* editPassword = nullptr;
    QHBoxLayout* optionsLayout = nullptr;
    QCheckBox* checkRemember = nullptr;
    QCheckBox* checkAutoLogin = nullptr;
    QWidget* widgetLoading = nullptr;
    QHBoxLayout* loadingLayout = nullptr;
    QLabel* labelLoadingText = nullptr;
    QPushButton* btnLogin = nullptr;
    QPushButton* btnRegister = nullptr;
    QSpacerItem* horizontalSpacerRight = nullptr;

    void setupUi(QWidget* window);
    void retranslateUi(QWidget* window);
};

} // namespace velk::ui
