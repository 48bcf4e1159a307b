#pragma once

#include <QDialog>

namespace velk::ui {

// A modal message box: a frameless rounded dark card with a yellow
// exclamation badge, a title, a message and one confirmation button. It is
// 420 × 200 for a message of one line and grows to show a longer one whole,
// within the screen's work area, past which it scrolls; a message past 2000
// characters is shown cut, with a mark, and logged whole. The text can be
// selected and copied.
class ErrorDialog : public QDialog {
    Q_OBJECT

public:
    ErrorDialog(const QString& title, const QString& message, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setupUi(const QString& title, const QString& message);
};

} // namespace velk::ui
