#include "korrin/ui/Resources.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace korrin::res {

namespace {

void drawEnvelope(QPainter& p, const QRectF& r, const QColor& paper) {
    p.setPen(QPen(QColor(60, 60, 90), std::max(1.0, r.width() / 24)));
    p.setBrush(paper);
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.55);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

// Sound leaving the envelope: `count` arcs to its right.
void drawSound(QPainter& p, const QPointF& from, double step, int count, const QColor& color) {
    p.setPen(QPen(color, std::max(1.5, step / 3), Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= count; ++i) {
        double radius = step * i;
        p.drawArc(QRectF(from.x() - radius, from.y() - radius, 2 * radius, 2 * radius), -45 * 16,
                  90 * 16);
    }
}

QPixmap canvas(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

QPixmap programIcon(int size = 32) {
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    drawEnvelope(p, QRectF(2, 8, 20, 15), QColor(255, 244, 200));
    drawSound(p, QPointF(21, 15.5), 3.5, 3, QColor(200, 40, 40));
    return pm;
}

QPixmap webIcon() {
    QPixmap pm = canvas(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 60, 140), 1.5));
    p.setBrush(QColor(120, 170, 240));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(10, 3, 12, 26));
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    p.drawLine(QPointF(16, 3), QPointF(16, 29));
    return pm;
}

QPixmap tipIcon() {
    QPixmap pm = canvas(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 90, 0), 1.5));
    p.setBrush(QColor(255, 230, 80));
    p.drawEllipse(QRectF(7, 2, 18, 18));
    p.setBrush(QColor(150, 150, 150));
    p.drawRect(QRectF(12, 20, 8, 8));
    p.drawLine(QPointF(12, 24), QPointF(20, 24));
    return pm;
}

// The About box animation: a letter whose sound swells and fades while it rocks a little.
QPixmap aboutFrame(int index) {
    QPixmap pm = canvas(48, 48);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const int arcs = index < 4 ? index : 7 - index;
    const double tilt = std::sin(index * M_PI / 4) * 6.0;
    p.translate(16, 24);
    p.rotate(tilt);
    drawEnvelope(p, QRectF(-13, -9, 26, 18), QColor(255, 244, 200));
    p.resetTransform();
    drawSound(p, QPointF(29, 24), 5, arcs + 1, QColor::fromHsv((index * 45) % 360, 200, 210));
    return pm;
}

// A letter flying right while its sound pulses: index 0..7 of the playing order.
QPixmap transmitFrame(int index) {
    QPixmap pm(97, 38);
    pm.fill(QColor(0, 0, 96));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    for (int i = 0; i < 12; ++i)  // stars drifting left
        p.drawPoint(QPointF(std::fmod(i * 37.0 - index * 6 + 97 * 4, 97.0), 3 + (i * 11) % 32));
    const double x = 6 + index * 8;
    drawEnvelope(p, QRectF(x, 11, 24, 16), QColor(255, 244, 200));
    drawSound(p, QPointF(x + 23, 19), 4, 1 + index % 4, QColor(255, 120, 60));
    return pm;
}

// The toolbar's pictures, drawn at 16 x 16.
QPixmap toolbarImage(int index) {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(40, 40, 70);
    p.setPen(QPen(ink, 1));
    switch (index) {
        case 0:  // New: a blank page with a folded corner
            p.setBrush(Qt::white);
            p.drawPolygon(QPolygonF({{3, 1}, {10, 1}, {13, 4}, {13, 15}, {3, 15}}));
            p.drawLine(QPointF(10, 1), QPointF(10, 4));
            p.drawLine(QPointF(10, 4), QPointF(13, 4));
            break;
        case 1:  // Open: a folder
            p.setBrush(QColor(240, 200, 80));
            p.drawPolygon(QPolygonF({{1, 4}, {6, 4}, {7, 6}, {15, 6}, {15, 14}, {1, 14}}));
            break;
        case 2:  // New Message: a letter with a star
            drawEnvelope(p, QRectF(1, 5, 12, 9), QColor(255, 244, 200));
            p.setPen(QPen(QColor(220, 160, 0), 2));
            p.drawLine(QPointF(13, 1), QPointF(13, 6));
            p.drawLine(QPointF(10.5, 3.5), QPointF(15.5, 3.5));
            break;
        case 3:  // Resend: a letter with a turning arrow
            drawEnvelope(p, QRectF(1, 6, 11, 8), QColor(255, 244, 200));
            p.setPen(QPen(QColor(30, 130, 30), 1.5));
            p.drawArc(QRectF(8, 1, 7, 7), 90 * 16, -270 * 16);
            p.drawLine(QPointF(11.5, 1), QPointF(13.5, 2.5));
            break;
        case 4:  // Move: a letter and an arrow to the right
            drawEnvelope(p, QRectF(1, 3, 9, 7), QColor(255, 244, 200));
            p.setPen(QPen(QColor(30, 90, 180), 1.5));
            p.drawLine(QPointF(5, 13), QPointF(14, 13));
            p.drawLine(QPointF(11, 10), QPointF(14, 13));
            p.drawLine(QPointF(11, 16), QPointF(14, 13));
            break;
        case 5:  // Delete: a red cross
            p.setPen(QPen(QColor(200, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(3, 3), QPointF(13, 13));
            p.drawLine(QPointF(13, 3), QPointF(3, 13));
            break;
        case 6:  // Empty Outbox Now: a letter with sound
            drawEnvelope(p, QRectF(1, 4, 9, 8), QColor(255, 244, 200));
            drawSound(p, QPointF(9, 8), 2.5, 2, QColor(200, 40, 40));
            break;
        case 7:  // Mixer: three sliders
            for (int i = 0; i < 3; ++i) {
                p.drawLine(QPointF(3 + i * 5, 1), QPointF(3 + i * 5, 15));
                p.setBrush(QColor(90, 90, 90));
                p.drawRect(QRectF(1 + i * 5, 3 + (i * 5) % 9, 4, 3));
            }
            break;
        default:  // Help: a question mark in a circle
            p.setBrush(QColor(40, 90, 200));
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.setPen(Qt::white);
            QFont f = p.font();
            f.setPixelSize(11);
            f.setBold(true);
            p.setFont(f);
            p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
            break;
    }
    return pm;
}

}  // namespace

QPixmap ProgramIcon(int size) {
    return programIcon(size);
}

// A sheet of paper with the program's letter on it: a message file.
QPixmap MessageFileIcon(int size) {
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({{5, 1}, {21, 1}, {27, 7}, {27, 31}, {5, 31}}));
    drawEnvelope(p, QRectF(7, 12, 14, 10), QColor(255, 244, 200));
    drawSound(p, QPointF(20, 17), 2.5, 2, QColor(200, 40, 40));
    return pm;
}

bool WriteIconTheme(const std::string& themeFolder) {
    const QString root = QString::fromStdString(themeFolder);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/").arg(root).arg(size);
        if (!QDir().mkpath(dir + QStringLiteral("apps")) ||
            !QDir().mkpath(dir + QStringLiteral("mimetypes")))
            return false;
        if (!ProgramIcon(size).save(dir + QStringLiteral("apps/korrin.png")) ||
            !MessageFileIcon(size).save(
                dir + QStringLiteral("mimetypes/application-x-korrin-message.png")))
            return false;
    }
    return true;
}

QPixmap ToolbarImage(int index) {
    return index >= 0 && index < kToolbarImages ? toolbarImage(index) : QPixmap();
}

QPixmap LoadBitmap(int id) {
    switch (id) {
        case kProgramIcon:
            return programIcon();
        case kWebIcon:
            return webIcon();
        case kTipIcon:
            return tipIcon();
        case kToolbarBitmap: {
            QPixmap strip = canvas(16 * kToolbarImages, 16);
            QPainter p(&strip);
            for (int i = 0; i < kToolbarImages; ++i)
                p.drawPixmap(16 * i, 0, toolbarImage(i));
            return strip;
        }
        default:
            for (int i = 0; i < 8; ++i)
                if (id == kTransmitFrames[i])
                    return transmitFrame(i);
            if (id >= kAboutFirstFrame && id < kAboutFirstFrame + kAboutFrameCount)
                return aboutFrame(id - kAboutFirstFrame);
            return {};
    }
}

QIcon LoadIcon(int id) {
    QPixmap pm = LoadBitmap(id);
    return pm.isNull() ? QIcon() : QIcon(pm);
}

}  // namespace korrin::res
