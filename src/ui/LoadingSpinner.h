#pragma once

#include <QWidget>

namespace velk::ui {

// A 32 x 32 busy indicator: a gradient arc that turns 12 degrees every 32 ms.
class LoadingSpinner : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int angle READ angle WRITE setAngle NOTIFY angleChanged)

public:
    explicit LoadingSpinner(QWidget* parent = nullptr);

    int angle() const { return m_angle; }
    void setAngle(int value);
    bool isRunning() const { return m_timerId != -1; }

    void start();
    void stop();

signals:
    void angleChanged();

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int m_angle = 0;
    int m_timerId = -1;
};

} // namespace velk::ui
