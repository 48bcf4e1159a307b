#include "ui/ErrorDialog.h"

#include <QEasingCurve>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>

namespace velk::ui {

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 200;

// Plain text that wraps at word boundaries and, in a run longer than a line
// (a path, an address), anywhere: nothing is cut off at the side.
class MessageLabel : public QLabel {
public:
    using QLabel::QLabel;

    int heightForWidth(int width) const override {
        QTextLayout layout(shownText(), font());
        return layOut(layout, width);
    }
    // Any width will do: the height follows it.
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QTextLayout layout(shownText(), font());
        layOut(layout, width());
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        layout.draw(&painter, QPointF(0, 0));
    }

private:
    QString shownText() const {
        QString text = QLabel::text();
        // As a QLabel: a carriage return parts words as a space does.
        return text.replace(QLatin1Char('\n'), QChar::LineSeparator)
            .replace(QLatin1Char('\r'), QLatin1Char(' '));
    }

    // Breaks the text into lines of `width`; returns the height they take.
    static int layOut(QTextLayout& layout, int width) {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        // As a QLabel: a right-to-left text keeps to the right.
        option.setAlignment(QStyle::visualAlignment(
            layout.text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight, Qt::AlignLeft));
        layout.setTextOption(option);
        layout.beginLayout();
        qreal y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
        return static_cast<int>(std::ceil(y));
    }
};

} // namespace

ErrorDialog::ErrorDialog(const QString& title, const QString& message, QWidget* parent) : QDialog(parent) {
    setupUi(title, message);
}

void ErrorDialog::setupUi(const QString& title, const QString& message) {
    setWindowTitle(title);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 20, 20, 20);
    outer->setSpacing(0);

    auto* card = new QWidget(this);
    card->setObjectName(QStringLiteral("contentWidget"));
    outer->addWidget(card);

    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(24, 24, 24, 24);
    cardLayout->setSpacing(16);

    auto* header = new QHBoxLayout();
    header->setSpacing(12);
    auto* badge = new QLabel(QStringLiteral("!"), card);
    badge->setFixedSize(32, 32);
    badge->setAlignment(Qt::AlignCenter);
    auto* titleLabel = new QLabel(title, card);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    header->addWidget(badge);
    header->addWidget(titleLabel);
    header->addStretch();
    cardLayout->addLayout(header);

    auto* messageLabel = new MessageLabel(message, card);
    messageLabel->setObjectName(QStringLiteral("messageLabel"));
    messageLabel->setWordWrap(true);
    // Server texts are shown as text, never as markup.
    messageLabel->setTextFormat(Qt::PlainText);
    titleLabel->setTextFormat(Qt::PlainText);
    auto* messageArea = new QScrollArea(card);
    messageArea->setObjectName(QStringLiteral("messageArea"));
    messageArea->setFrameShape(QFrame::NoFrame);
    // The keyboard stays with the button.
    messageArea->setFocusPolicy(Qt::NoFocus);
    messageArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    messageArea->setWidgetResizable(true);
    messageArea->setWidget(messageLabel);
    messageArea->viewport()->setAutoFillBackground(false);
    messageLabel->setAutoFillBackground(false);
    cardLayout->addWidget(messageArea);
    cardLayout->addStretch();

    auto* okButton = new QPushButton(QStringLiteral("确定"), card);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setProperty("type", QStringLiteral("primary"));
    okButton->setFixedHeight(40);
    okButton->setCursor(Qt::PointingHandCursor);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    cardLayout->addWidget(okButton, 0, Qt::AlignRight);

    card->setObjectName(QStringLiteral("GlassPanel"));
    card->setStyleSheet(QStringLiteral(
        "#GlassPanel { background-color: rgba(30, 31, 34, 0.95); border: 1px solid rgba(255, 255, 255, 0.08);"
        " border-radius: 12px; }"
        "#titleLabel { color: #FFFFFF; font-size: 16px; font-weight: 600; }"
        "#messageLabel { color: rgba(255, 255, 255, 0.8); font-size: 14px; line-height: 1.4; }"
        "#okButton { background-color: #00A8E8; color: #FFFFFF; border: none; border-radius: 6px;"
        " padding: 0 24px; font-weight: 600; }"
        "#okButton:hover { background-color: #0090C7; }"
        "#okButton:pressed { background-color: #0078A6; }"));
    badge->setStyleSheet(QStringLiteral("background-color: rgba(241, 196, 15, 0.15); color: #F1C40F;"
                                        " border-radius: 16px; font-weight: bold; font-size: 16px;"));

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(30);
    shadow->setColor(QColor(0, 0, 0, 100));
    shadow->setOffset(0, 10);
    card->setGraphicsEffect(shadow);

    // The box holds one line of message; it grows by the lines beyond that, up
    // to the screen's work area, past which the message scrolls. The style
    // sheet's font decides the lines.
    ensurePolished();
    const int lineWidth =
        kWidth - 2 * (outer->contentsMargins().left() + cardLayout->contentsMargins().left());
    const int line = static_cast<int>(std::ceil(QFontMetricsF(messageLabel->font()).height()));
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() - (kHeight - line) : QWIDGETSIZE_MAX;
    const int whole = messageLabel->heightForWidth(lineWidth);
    if (whole <= room) {
        // No scroll bar where the message fits: once shown (as by the area's
        // first, narrow layout) it stays, and the lines it narrows can push
        // the end out of sight.
        messageArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    const int shown = qMax(line, qMin(whole, room));
    messageArea->setFixedHeight(shown);
    setFixedSize(kWidth, kHeight - line + shown);
}

void ErrorDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    setWindowOpacity(0.0);
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(250);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void ErrorDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QDialog::paintEvent(event);
}

} // namespace velk::ui
