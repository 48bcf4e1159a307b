#include "ui/LoadingSpinner.h"

#include <QConicalGradient>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>

namespace velk::ui {

LoadingSpinner::LoadingSpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(32, 32);
    setAttribute(Qt::WA_TranslucentBackground);
}

void LoadingSpinner::setAngle(int value) {
    if (value == m_angle) {
        return;
    }
    m_angle = value;
    update();
    emit angleChanged();
}

void LoadingSpinner::start() {
    if (m_timerId != -1) {
        return;
    }
    m_timerId = startTimer(32, Qt::CoarseTimer);
}

void LoadingSpinner::stop() {
    if (m_timerId == -1) {
        return;
    }
    killTimer(m_timerId);
    m_timerId = -1;
}

void LoadingSpinner::timerEvent(QTimerEvent* /*event*/) {
    setAngle((m_angle + 12) % 360);
}

void LoadingSpinner::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height());
    const QPointF centre((side - 1) / 2, (side - 1) / 2);

    QConicalGradient gradient(centre, m_angle);
    gradient.setColorAt(0.0, QColor(59, 130, 246));
    gradient.setColorAt(0.25, QColor(59, 130, 246, 180));
    gradient.setColorAt(0.5, QColor(255, 255, 255, 40));
    gradient.setColorAt(1.0, QColor(59, 130, 246));

    QPen pen(QBrush(gradient), 3);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRect(3, 3, side - 6, side - 6), m_angle * 16, 280 * 16);
}

} // namespace velk::ui
