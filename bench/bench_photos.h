#pragma once

// Photographs with the detail real ones have, made for the export benchmarks:
// sensor grain, foliage-like texture at several scales, smooth sky gradients,
// faces with shading, hair and eyes, and lettering. An encoder that throws
// detail away shows it on these, where flat synthetic shapes would hide it.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

namespace fotivela::bench {

// Noise at one scale: a random grid of cells smoothly enlarged to the picture.
inline QImage valueNoise(int width, int height, int cell, QRandomGenerator& random, int hue, int spread)
{
    const int w = std::max(width / cell, 2);
    const int h = std::max(height / cell, 2);
    QImage grid(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            grid.setPixel(x, y,
                          QColor::fromHsv((hue + static_cast<int>(random.bounded(spread)) + 360) % 360,
                                          80 + static_cast<int>(random.bounded(140)), 40 + static_cast<int>(random.bounded(200)))
                              .rgb());
    return grid.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

inline void drawFace(QPainter& painter, QPointF centre, double size, QRandomGenerator& random)
{
    const QColor skin = QColor::fromHsv(20 + static_cast<int>(random.bounded(15)), 90 + static_cast<int>(random.bounded(80)),
                                        140 + static_cast<int>(random.bounded(100)));
    // Hair: many thin strands behind the head.
    painter.setPen(QPen(QColor::fromHsv(25, 120, 40 + static_cast<int>(random.bounded(60))), std::max(1.0, size / 200)));
    for (int i = 0; i < 400; ++i) {
        const double angle = M_PI * (1.05 + 0.9 * random.generateDouble());
        const QPointF root = centre + QPointF(std::cos(angle) * size * 0.5, std::sin(angle) * size * 0.62);
        painter.drawLine(root, root + QPointF((random.generateDouble() - 0.5) * size * 0.3, size * (0.2 + 0.5 * random.generateDouble())));
    }
    QRadialGradient shading(centre - QPointF(size * 0.15, size * 0.2), size * 0.8);
    shading.setColorAt(0, skin.lighter(125));
    shading.setColorAt(1, skin.darker(170));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shading);
    painter.drawEllipse(centre, size * 0.45, size * 0.6);
    painter.setBrush(Qt::white);
    for (const double side : {-1.0, 1.0}) {
        const QPointF eye = centre + QPointF(side * size * 0.17, -size * 0.1);
        painter.setBrush(Qt::white);
        painter.drawEllipse(eye, size * 0.08, size * 0.045);
        painter.setBrush(QColor::fromHsv(static_cast<int>(random.bounded(360)), 150, 90));
        painter.drawEllipse(eye, size * 0.035, size * 0.035);
        painter.setBrush(Qt::black);
        painter.drawEllipse(eye, size * 0.015, size * 0.015);
    }
    painter.setPen(QPen(skin.darker(220), size / 60));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(centre.x() - size * 0.15, centre.y() + size * 0.12, size * 0.3, size * 0.15), 200 * 16, 140 * 16);
    painter.drawLine(centre + QPointF(0, -size * 0.02), centre + QPointF(-size * 0.03, size * 0.1));
}

// A 'photograph' of width × height; the index varies the scene.
inline QImage makeDetailedPhoto(int width, int height, int index)
{
    QRandomGenerator random(static_cast<quint32>(index * 7919 + 17));
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int hue = (index * 47) % 360;

    // Sky: a smooth gradient, where banding and blocking show first.
    QLinearGradient sky(0, 0, 0, height * 0.55);
    sky.setColorAt(0, QColor::fromHsv((hue + 200) % 360, 150, 230));
    sky.setColorAt(1, QColor::fromHsv((hue + 190) % 360, 40, 250));
    painter.fillRect(QRectF(0, 0, width, height * 0.55), sky);

    // Ground: foliage-like texture, noise at four scales.
    const QRectF ground(0, height * 0.5, width, height * 0.5);
    painter.fillRect(ground, QColor::fromHsv((hue + 90) % 360, 120, 90));
    for (const int cell : {160, 40, 10, 3}) {
        painter.setOpacity(cell > 20 ? 0.6 : 0.45);
        painter.drawImage(ground, valueNoise(width, height / 2, cell, random, (hue + 80) % 360, 60));
    }
    painter.setOpacity(1.0);

    // A brick wall: fine regular edges.
    const double brick = width / 90.0;
    const QRectF wall(width * 0.62, height * 0.22, width * 0.33, height * 0.4);
    painter.fillRect(wall, QColor(200, 190, 180));
    painter.setPen(Qt::NoPen);
    for (double y = wall.top(); y < wall.bottom(); y += brick * 0.5) {
        const double shift = std::fmod((y - wall.top()) / (brick * 0.5), 2.0) < 1 ? 0 : brick / 2;
        for (double x = wall.left() - shift; x < wall.right(); x += brick) {
            painter.setBrush(QColor::fromHsv(10 + static_cast<int>(random.bounded(12)), 140 + static_cast<int>(random.bounded(60)),
                                             110 + static_cast<int>(random.bounded(70))));
            painter.drawRect(QRectF(std::max(x, wall.left()), y, brick * 0.92, brick * 0.42).intersected(wall));
        }
    }

    // Faces.
    for (int i = 0; i < 3; ++i)
        drawFace(painter, QPointF(width * (0.15 + 0.2 * i), height * (0.52 + 0.05 * (i % 2))),
                 height * (0.22 + 0.04 * random.generateDouble()), random);

    // Lettering: a sign and small print.
    painter.setPen(Qt::black);
    painter.fillRect(QRectF(width * 0.64, height * 0.66, width * 0.3, height * 0.12), QColor(245, 240, 220));
    QFont font("DejaVu Sans");
    font.setPixelSize(std::max(8, height / 22));
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(width * 0.65, height * 0.665, width * 0.28, height * 0.06), Qt::AlignCenter,
                     QString("CAFE %1 ABIERTO").arg(index));
    font.setPixelSize(std::max(6, height / 110));
    font.setBold(false);
    painter.setFont(font);
    painter.drawText(QRectF(width * 0.65, height * 0.725, width * 0.28, height * 0.05), Qt::TextWordWrap,
                     "Horario de lunes a sabado, de 8 a 20 h. Desayunos, comidas y meriendas; pregunte por el menu del dia.");
    painter.end();

    // Sensor grain on every pixel.
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = static_cast<int>(random.bounded(13)) - 6;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255), std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return image;
}

inline void writeDetailedPhoto(const std::filesystem::path& file, int width, int height, int index)
{
    makeDetailedPhoto(width, height, index).save(QString::fromStdString(file.string()), "JPG", 92);
}

} // namespace fotivela::bench
