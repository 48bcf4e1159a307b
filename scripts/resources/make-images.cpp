// Draws the dashboard's own pictures into resources/: the two platform
// backdrops (2020.jpg, xplane.png) and the tiled noise texture
// (theme/noise.png). Run once when the artwork changes:
//   g++ -std=c++20 -fPIC make-images.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-images
//   QT_QPA_PLATFORM=offscreen /tmp/make-images <repository>/resources
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <initializer_list>
#include <utility>

namespace {

// A side view of an airliner, nose to the right, about `length` long.
QPainterPath airliner(double length) {
    const double h = length * 0.09;
    QPainterPath p;
    p.moveTo(0, 0);
    p.cubicTo(length * 0.05, -h, length * 0.85, -h, length * 0.97, -h * 0.4);
    p.quadTo(length, 0, length * 0.97, h * 0.4);
    p.cubicTo(length * 0.85, h, length * 0.05, h, 0, 0);
    QPainterPath fin;
    fin.moveTo(length * 0.02, -h * 0.5);
    fin.lineTo(length * 0.0, -h * 3.2);
    fin.lineTo(length * 0.1, -h * 3.2);
    fin.lineTo(length * 0.2, -h * 0.8);
    QPainterPath wing;
    wing.moveTo(length * 0.42, h * 0.2);
    wing.lineTo(length * 0.3, h * 3.0);
    wing.lineTo(length * 0.38, h * 3.0);
    wing.lineTo(length * 0.6, h * 0.3);
    return p.united(fin).united(wing);
}

void clouds(QPainter& painter, const QSize& size, QColor colour, int count, quint32 seed) {
    QRandomGenerator rng(seed);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const double x = rng.bounded(size.width());
        const double y = size.height() * (0.45 + rng.bounded(0.35));
        const double w = size.width() * (0.15 + rng.bounded(0.25));
        QRadialGradient g(QPointF(x, y), w / 2);
        QColor c = colour;
        g.setColorAt(0, c);
        c.setAlpha(0);
        g.setColorAt(1, c);
        painter.setBrush(g);
        painter.drawEllipse(QPointF(x, y), w / 2, w / 6);
    }
}

// A vertical sky gradient over the whole image, top to bottom.
void paintSky(QPainter& painter, const QImage& img,
              std::initializer_list<std::pair<double, const char*>> stops) {
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, img.height());
    for (const auto& [at, colour] : stops) {
        sky.setColorAt(at, QColor(colour));
    }
    painter.fillRect(img.rect(), sky);
}

QImage msfsBackdrop() {
    QImage img(900, 1000, QImage::Format_RGB32);
    QPainter painter(&img);
    paintSky(painter, img, {{0.0, "#0B2A5B"}, {0.55, "#3A7BD5"}, {0.8, "#F6B26B"}, {1.0, "#F9DFA8"}});
    QRadialGradient sun(QPointF(img.width() * 0.7, img.height() * 0.78), 160);
    sun.setColorAt(0, QColor(255, 240, 200, 230));
    sun.setColorAt(1, QColor(255, 200, 120, 0));
    painter.fillRect(img.rect(), sun);
    clouds(painter, img.size(), QColor(255, 255, 255, 120), 14, 2020);
    painter.translate(img.width() * 0.15, img.height() * 0.38);
    painter.rotate(-8);
    painter.setBrush(QColor(20, 28, 45, 220));
    painter.drawPath(airliner(img.width() * 0.7));
    return img;
}

QImage xplaneBackdrop() {
    QImage img(640, 720, QImage::Format_RGB32);
    QPainter painter(&img);
    paintSky(painter, img, {{0.0, "#061826"}, {0.5, "#0E5A7A"}, {0.75, "#58B6C9"}, {1.0, "#B8E3E9"}});
    clouds(painter, img.size(), QColor(255, 255, 255, 90), 10, 11);
    // Ridges on the horizon.
    QRandomGenerator rng(12);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath ridge;
        const double base = img.height() * (0.78 + layer * 0.07);
        ridge.moveTo(0, img.height());
        ridge.lineTo(0, base);
        for (int x = 0; x <= img.width(); x += 40) {
            ridge.lineTo(x, base - rng.bounded(60.0) - 20);
        }
        ridge.lineTo(img.width(), img.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(8 + layer * 10, 40 + layer * 15, 55 + layer * 15));
        painter.drawPath(ridge);
    }
    painter.translate(img.width() * 0.2, img.height() * 0.32);
    painter.rotate(6);
    painter.setBrush(QColor(230, 240, 245, 230));
    painter.drawPath(airliner(img.width() * 0.6));
    return img;
}

// Grey grain with varying alpha; tiled thinly over the dashboard.
QImage noise() {
    QImage img(128, 128, QImage::Format_ARGB32);
    QRandomGenerator rng(7);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const int v = rng.bounded(256);
            img.setPixel(x, y, qRgba(v, v, v, 255));
        }
    }
    return img;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = msfsBackdrop().save(dir + "/2020.jpg", "JPG", 82);
    ok = xplaneBackdrop().save(dir + "/xplane.png", "PNG", 9) && ok;
    ok = noise().save(dir + "/theme/noise.png", "PNG", 9) && ok;
    return ok ? 0 : 1;
}
