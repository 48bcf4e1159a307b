#include "Logger.h"
#include "support/TestSupport.h"
#include "ui/ErrorDialog.h"
#include "ui/LoadingSpinner.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimerEvent>

using velk::ui::ErrorDialog;
using velk::ui::LoadingSpinner;

namespace {

void step(LoadingSpinner& spinner) {
    QTimerEvent tick(0);
    QCoreApplication::sendEvent(&spinner, &tick);
}

// The message as the box draws it.
QImage shownMessage(const QString& message) {
    ErrorDialog dialog(QStringLiteral("登录失败"), message);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        return {};
    }
    auto* label = dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"));
    QImage image(label->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    label->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class TestLoginWidgets : public QObject {
    Q_OBJECT

private slots:
    void spinnerStepsTwelveDegreesAndWraps() {
        LoadingSpinner spinner;
        QCOMPARE(spinner.size(), QSize(32, 32));
        QCOMPARE(spinner.angle(), 0);
        step(spinner);
        QCOMPARE(spinner.angle(), 12);
        spinner.setAngle(348);
        step(spinner);
        QCOMPARE(spinner.angle(), 0);
    }

    void spinnerAnnouncesOnlyRealChanges() {
        LoadingSpinner spinner;
        QSignalSpy spy(&spinner, &LoadingSpinner::angleChanged);
        spinner.setAngle(0);
        QCOMPARE(spy.size(), 0);
        spinner.setAngle(90);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spinner.property("angle").toInt(), 90);
    }

    void spinnerTurnsWhileStartedAndKeepsItsAngleWhenStopped() {
        LoadingSpinner spinner;
        QSignalSpy spy(&spinner, &LoadingSpinner::angleChanged);
        spinner.start();
        spinner.start();
        QVERIFY(spinner.isRunning());
        QTRY_VERIFY(spy.size() >= 2);
        spinner.stop();
        QVERIFY(!spinner.isRunning());
        const int kept = spinner.angle();
        spinner.stop(); // no timer: nothing changes
        QCOMPARE(spinner.angle(), kept);
        spinner.start();
        QTRY_VERIFY(spinner.angle() != kept);
        spinner.stop();
    }

    void spinnerThatIsNotSquareDrawsInItsTopLeftSquare() {
        LoadingSpinner spinner;
        spinner.setFixedSize(64, 32);
        QImage image(64, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        spinner.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        bool insideDrawn = false;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 64; ++x) {
                const bool drawn = qAlpha(image.pixel(x, y)) > 0;
                if (x >= 32) {
                    QVERIFY2(!drawn, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
                } else {
                    insideDrawn = insideDrawn || drawn;
                }
            }
        }
        QVERIFY(insideDrawn);
    }

    void messageBoxHasItsCardTextsAndFixedSize() {
        const QString shortMessage = QStringLiteral("无法连接到服务器，请检查网络连接。");
        ErrorDialog dialog(QStringLiteral("登录失败"), shortMessage);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("登录失败"));
        QCOMPARE(dialog.size(), QSize(420, 200));
        QCOMPARE(dialog.minimumSize(), QSize(420, 200));
        QCOMPARE(dialog.maximumSize(), QSize(420, 200));
        QVERIFY(dialog.isModal());
        QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));
        auto* title = dialog.findChild<QLabel*>(QStringLiteral("titleLabel"));
        auto* message = dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"));
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
        QVERIFY(title && message && ok);
        QVERIFY(dialog.findChild<QWidget*>(QStringLiteral("GlassPanel")));
        QCOMPARE(title->text(), QStringLiteral("登录失败"));
        QCOMPARE(message->toPlainText(), shortMessage);
        QCOMPARE(message->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        QCOMPARE(ok->text(), QStringLiteral("确定"));
        QCOMPARE(ok->property("type").toString(), QStringLiteral("primary"));
        QCOMPARE(ok->height(), 40);
        dialog.show();
        QCOMPARE(dialog.size(), QSize(420, 200));
    }

    // A message that does not fit grows the box, never past the screen's work
    // area: paths and addresses break anywhere, and what the screen cannot
    // hold scrolls. The box stays modal with its one button.
    void aLongMessageIsShownWhole_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("scrolls");
        const QString folder = QStringLiteral("/home/pilot/") + QString(64, QLatin1Char('v'));
        QTest::newRow("key file notice")
            << QStringLiteral("已保存的密码无法读取（密钥文件 %1/config.key 不是普通文件），请重新输入")
                   .arg(folder)
            << false;
        QTest::newRow("address") << QStringLiteral(
                                        "服务器接口不存在 (404)\n请求地址: https://api.example%1?a=1&b=2")
                                        .arg(QStringLiteral("/route").repeated(20))
                                 << false;
        // A last line as wide as the box: were a scroll bar to narrow the
        // lines, its end would wrap out of sight.
        const QFontMetricsF metrics(
            ErrorDialog(QString(), QString()).findChild<QTextEdit*>(QStringLiteral("messageLabel"))->font());
        QString filled;
        while (metrics.horizontalAdvance(filled + QLatin1Char('w')) <= 420 - 2 * (20 + 24)) {
            filled += QLatin1Char('w');
        }
        QTest::newRow("a line filling the box") << QStringLiteral("网络错误 (502)\n") + filled << false;
        // Still short enough to be shown whole.
        QTest::newRow("taller than the screen")
            << QStringLiteral("网络错误 (502): Bad Gateway。").repeated(80) << true;
    }
    void aLongMessageIsShownWhole() {
        QFETCH(QString, message);
        QFETCH(bool, scrolls);
        ErrorDialog dialog(QStringLiteral("登录失败"), message);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* area = dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"));
        QVERIFY(area);
        QCOMPARE(area->toPlainText(), message);
        QCOMPARE(dialog.width(), 420);
        QVERIFY(dialog.height() > 200);
        QVERIFY(dialog.screen()->availableGeometry().contains(dialog.frameGeometry()));
        QVERIFY(dialog.isModal());
        // Its one button, which keeps the keyboard.
        QCOMPARE(dialog.findChildren<QAbstractButton*>(),
                 QList<QAbstractButton*>{dialog.findChild<QPushButton*>(QStringLiteral("okButton"))});
        QCOMPARE(dialog.focusWidget(), dialog.findChildren<QAbstractButton*>().first());
        // Laid out no wider than the card: nothing cut at the side.
        const QSizeF laidOut = area->document()->size();
        QVERIFY(laidOut.width() <= area->viewport()->width());
        QCOMPARE(area->verticalScrollBar()->isVisible(), scrolls);
        // All of it on screen when it does not scroll.
        QCOMPARE(laidOut.height() <= area->viewport()->height(), !scrolls);
        // The end is on screen, scrolled to when it scrolls.
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        QTextCursor end(area->document());
        end.movePosition(QTextCursor::End);
        const QRect last = area->cursorRect(end);
        QVERIFY(last.top() >= 0 && last.bottom() < area->viewport()->height());
    }

    void serverTextIsShownAsTextNotMarkup() {
        ErrorDialog dialog(QStringLiteral("登录失败"), QStringLiteral("<b>x</b>"));
        QCOMPARE(dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"))->toPlainText(),
                 QStringLiteral("<b>x</b>"));
    }

    void rightToLeftMessageKeepsToTheRight() {
        const QImage image = shownMessage(QStringLiteral("خطأ في الاتصال بالخادم"));
        int left = image.width();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < left; ++x) {
                if (qAlpha(image.pixel(x, y)) > 0) {
                    left = x;
                }
            }
        }
        QVERIFY2(left > image.width() / 2, qPrintable(QString::number(left)));
    }

    // As from a server's line ends.
    void carriageReturnPartsWords() {
        QCOMPARE(shownMessage(QStringLiteral("Connection\rrefused.")),
                 shownMessage(QStringLiteral("Connection refused.")));
    }

    // As a faulty or hostile server may send it: shown wrapped and cut with a
    // mark, whole in the log; the pilot can select, copy and scroll it.
    void aLongUnbrokenWordWrapsAndCanBeCopiedAndScrolled() {
        const QString sent(100000, QLatin1Char('w'));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("whole: \"(w{50000}){2}\"$")));
        ErrorDialog dialog(QStringLiteral("登录失败"), sent);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* text = dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"));
        QVERIFY(text);
        const QString shown = text->toPlainText();
        QVERIFY(shown.size() < sent.size());
        QVERIFY(shown.contains(QStringLiteral("消息过长")));
        QVERIFY(text->document()->firstBlock().layout()->lineCount() > 1);
        QVERIFY(text->document()->size().width() <= text->viewport()->width());
        QCOMPARE(dialog.width(), 420);
        QVERIFY(dialog.screen()->availableGeometry().contains(dialog.frameGeometry()));

        // The mouse selects a word, Ctrl+C copies it.
        QGuiApplication::clipboard()->clear();
        QTest::mouseDClick(text->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
        QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
        const QString word = QGuiApplication::clipboard()->text();
        // The word as far as it is shown.
        QVERIFY(shown.startsWith(word));
        QCOMPARE(word.count(QLatin1Char('w')), shown.indexOf(QChar(0x2026)));
        // All of it, through the menu, which is in Chinese.
        QCOMPARE(text->contextMenuPolicy(), Qt::ActionsContextMenu);
        const QList<QAction*> menu = text->actions();
        QCOMPARE(menu.size(), 2);
        QCOMPARE(menu.at(1)->text(), QStringLiteral("全选"));
        menu.at(1)->trigger();
        QCOMPARE(menu.at(0)->text(), QStringLiteral("复制"));
        menu.at(0)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), shown);

        // Tab leads from the button to the text, whose keys scroll it.
        text->clearFocus();
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->setFocus();
        QTest::keyClick(&dialog, Qt::Key_Tab);
        QCOMPARE(dialog.focusWidget(), text);
        QScrollBar* bar = text->verticalScrollBar();
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(text, Qt::Key_PageDown);
        QVERIFY(bar->value() > 0);
        QTest::keyClick(text, Qt::Key_End);
        QCOMPARE(bar->value(), bar->maximum());
        QTest::keyClick(text, Qt::Key_Home);
        QCOMPARE(bar->value(), 0);
    }

    // The cut falls between characters as the pilot sees them: a letter keeps
    // its accent, a flag or a family emoji is kept whole or left out.
    void aCutMessageKeepsWholeCharacters_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kept");
        const QString tail(100, QLatin1Char('x'));
        QTest::newRow("accent") << QString(1999, QLatin1Char('w')) + QStringLiteral("e\u0301") + tail << 1999;
        QTest::newRow("flag") << QString(1998, QLatin1Char('w')) + QStringLiteral("🇨🇳🇺🇸") + tail << 1998;
        QTest::newRow("family") << QString(1996, QLatin1Char('w')) + QStringLiteral("👨‍👩‍👧") +
                                       tail
                                << 1996;
        // One character longer than the cut: cut inside it rather than show nothing.
        QTest::newRow("endless marks") << QLatin1Char('a') + QString(2100, QChar(0x0301)) << 2000;
    }
    void aCutMessageKeepsWholeCharacters() {
        QFETCH(QString, message);
        QFETCH(int, kept);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(" cut at %1 ").arg(kept)));
        ErrorDialog dialog(QStringLiteral("登录失败"), message);
        const QString shown = dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"))->toPlainText();
        QCOMPARE(shown.indexOf(QChar(0x2026)), kept);
        QCOMPARE(shown.left(kept), message.left(kept));
    }

    // The mark says the whole message is in the run log only when there is
    // one; there it stands whole on one line.
    void aCutMessageIsInTheLogWhereTheMarkSaysSo() {
        const QString sent = QStringLiteral("x\n").repeated(1500);
        const auto shown = [&sent] {
            ErrorDialog dialog(QStringLiteral("登录失败"), sent);
            return dialog.findChild<QTextEdit*>(QStringLiteral("messageLabel"))->toPlainText();
        };
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(" cut at ")));
        QVERIFY(!shown().contains(QStringLiteral("已写入日志")));

        const QString path = velk::logging::install(velk::test::freshDir(QStringLiteral("logs-cut")));
        const QString logged = shown();
        velk::logging::uninstall();
        QVERIFY(logged.contains(QStringLiteral("完整内容已写入日志")));
        QFile log(path);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY(
            lines.at(0).endsWith(QStringLiteral("whole: \"%1\"").arg(QStringLiteral("x\\n").repeated(1500))));
    }

    void confirmAcceptsAndEscapeRejects() {
        ErrorDialog accepted(QStringLiteral("提示"), QStringLiteral("请输入用户名和密码"));
        QSignalSpy acceptedSpy(&accepted, &QDialog::finished);
        accepted.open();
        QTest::mouseClick(accepted.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
        QCOMPARE(acceptedSpy.size(), 1);
        QCOMPARE(acceptedSpy.at(0).at(0).toInt(), int(QDialog::Accepted));

        ErrorDialog rejected(QStringLiteral("提示"), QStringLiteral("请输入用户名和密码"));
        QSignalSpy rejectedSpy(&rejected, &QDialog::finished);
        rejected.open();
        QTest::keyClick(&rejected, Qt::Key_Escape);
        QCOMPARE(rejectedSpy.size(), 1);
        QCOMPARE(rejectedSpy.at(0).at(0).toInt(), int(QDialog::Rejected));
    }

    void messageBoxFadesIn() {
        ErrorDialog dialog(QStringLiteral("提示"), QStringLiteral("x"));
        dialog.open();
        QTRY_COMPARE(dialog.windowOpacity(), 1.0);
        dialog.accept();
    }
};

QTEST_MAIN(TestLoginWidgets)
#include "tst_login_widgets.moc"
