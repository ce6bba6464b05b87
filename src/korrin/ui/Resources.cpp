#include "korrin/ui/Resources.h"

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

QPixmap programIcon() {
    QPixmap pm = canvas(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
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

}  // namespace

QPixmap LoadBitmap(int id) {
    switch (id) {
        case kProgramIcon:
            return programIcon();
        case kWebIcon:
            return webIcon();
        case kTipIcon:
            return tipIcon();
        default:
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
