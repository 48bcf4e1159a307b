#include "ui/ErrorDialog.h"

#include "Logger.h"

#include <QAction>
#include <QDebug>
#include <QEasingCurve>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>

namespace velk::ui {

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 200;
// About a screenful, more than a box is read for. It bounds the cost of the
// layout too: Qt's for a run without break points (or one that keeps changing
// direction) grows with the square of its length.
constexpr qsizetype kShownLength = 2000;

// The message as the box shows it: cut past kShownLength, with a mark, the
// whole of it going to the log instead.
QString shownText(const QString& message) {
    QString text = message;
    if (text.size() > kShownLength) {
        // Between characters as they are seen: an accent stays with its
        // letter, a flag or an emoji sequence is kept whole or left out. The
        // two code units past the cut are all the rules look at.
        const QString around = text.left(kShownLength + 2);
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, around);
        graphemes.setPosition(kShownLength);
        qsizetype end = graphemes.isAtBoundary() ? kShownLength : graphemes.toPreviousBoundary();
        if (end <= 0) {
            // One character longer than the cut: cut inside it, not inside
            // a surrogate pair.
            end = text.at(kShownLength - 1).isHighSurrogate() ? kShownLength - 1 : kShownLength;
        }
        qWarning() << "ErrorDialog: a message of" << text.size() << "characters is shown cut at" << end
                   << "characters; whole:" << message;
        text.truncate(end);
        text +=
            logging::writesFile()
                ? QStringLiteral("……\n（消息过长，只显示了开头部分，完整内容已写入日志。）")
                : QStringLiteral("……\n（消息过长，只显示了开头部分。本次运行没有日志，其余部分未能保存。）");
    }
    // As a label: a carriage return parts words as a space does (a document
    // would start a paragraph).
    return text.replace(QLatin1Char('\r'), QLatin1Char(' '));
}

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

    // Qt's read-only text view: it wraps at words and, in a run longer than
    // a line (a path, an address), anywhere; it lets the pilot select, copy
    // and scroll, and keeps its layout from one paint to the next.
    auto* messageLabel = new QTextEdit(card);
    messageLabel->setObjectName(QStringLiteral("messageLabel"));
    messageLabel->setReadOnly(true);
    messageLabel->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    messageLabel->setFrameShape(QFrame::NoFrame);
    messageLabel->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    messageLabel->viewport()->setAutoFillBackground(false);
    messageLabel->document()->setDocumentMargin(0);
    // Server texts are shown as text, never as markup.
    messageLabel->setPlainText(shownText(message));
    titleLabel->setTextFormat(Qt::PlainText);
    // Its own menu would be in English.
    auto* copy = new QAction(QStringLiteral("复制"), messageLabel);
    copy->setEnabled(false);
    connect(messageLabel, &QTextEdit::copyAvailable, copy, &QAction::setEnabled);
    connect(copy, &QAction::triggered, messageLabel, &QTextEdit::copy);
    auto* selectAll = new QAction(QStringLiteral("全选"), messageLabel);
    connect(selectAll, &QAction::triggered, messageLabel, &QTextEdit::selectAll);
    messageLabel->addActions({copy, selectAll});
    messageLabel->setContextMenuPolicy(Qt::ActionsContextMenu);
    cardLayout->addWidget(messageLabel);
    cardLayout->addStretch();

    auto* okButton = new QPushButton(QStringLiteral("确定"), card);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setProperty("type", QStringLiteral("primary"));
    okButton->setFixedHeight(40);
    okButton->setCursor(Qt::PointingHandCursor);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    cardLayout->addWidget(okButton, 0, Qt::AlignRight);
    // The keyboard starts on the button; Tab reaches the text.
    okButton->setFocus();

    card->setObjectName(QStringLiteral("GlassPanel"));
    card->setStyleSheet(QStringLiteral(
        "#GlassPanel { background-color: rgba(30, 31, 34, 0.95); border: 1px solid rgba(255, 255, 255, 0.08);"
        " border-radius: 12px; }"
        "#titleLabel { color: #FFFFFF; font-size: 16px; font-weight: 600; }"
        "#messageLabel { color: rgba(255, 255, 255, 0.8); font-size: 14px; line-height: 1.4;"
        " background: transparent; border: none; padding: 0; }"
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
    // No scroll bar while measuring: the view would narrow the lines to
    // make room for one.
    messageLabel->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QTextDocument* document = messageLabel->document();
    document->setTextWidth(lineWidth);
    const int whole = static_cast<int>(std::ceil(document->size().height()));
    if (whole > room) {
        messageLabel->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    const int shown = qMax(line, qMin(whole, room));
    messageLabel->setFixedHeight(shown);
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
