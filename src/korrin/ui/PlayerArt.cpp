#include "korrin/ui/PlayerArt.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace korrin::res {

namespace {

enum class Glyph { kStop, kBegin, kReview, kPlay, kPause, kCue, kEnd, kRecord };

QPolygonF triangle(double x, double top, double bottom, double width, bool right) {
    const double mid = (top + bottom) / 2;
    if (right)
        return QPolygonF({QPointF(x, top), QPointF(x + width, mid), QPointF(x, bottom)});
    return QPolygonF({QPointF(x + width, top), QPointF(x, mid), QPointF(x + width, bottom)});
}

QPixmap transport(Glyph g, bool enabled) {
    QPixmap pm(28, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = enabled ? QColor(30, 30, 40) : QColor(160, 160, 160);
    const QColor red = enabled ? QColor(210, 30, 30) : QColor(175, 175, 175);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const double top = 4, bottom = 16;
    switch (g) {
        case Glyph::kStop:
            p.drawRect(QRectF(8, 4, 12, 12));
            break;
        case Glyph::kBegin:
            p.drawRect(QRectF(6, top, 2.5, bottom - top));
            p.drawPolygon(triangle(9, top, bottom, 7, false));
            p.drawPolygon(triangle(16, top, bottom, 7, false));
            break;
        case Glyph::kReview:
            p.drawPolygon(triangle(6, top, bottom, 8, false));
            p.drawPolygon(triangle(14, top, bottom, 8, false));
            break;
        case Glyph::kPlay:
            p.drawPolygon(triangle(9, 3, 17, 12, true));
            break;
        case Glyph::kPause:
            p.drawRect(QRectF(9, 4, 3.5, 12));
            p.drawRect(QRectF(15.5, 4, 3.5, 12));
            break;
        case Glyph::kCue:
            p.drawPolygon(triangle(6, top, bottom, 8, true));
            p.drawPolygon(triangle(14, top, bottom, 8, true));
            break;
        case Glyph::kEnd:
            p.drawPolygon(triangle(5, top, bottom, 7, true));
            p.drawPolygon(triangle(12, top, bottom, 7, true));
            p.drawRect(QRectF(19.5, top, 2.5, bottom - top));
            break;
        case Glyph::kRecord:
            p.setBrush(red);
            p.drawEllipse(QRectF(8, 4, 12, 12));
            break;
    }
    return pm;
}

// A small sheet of paper, the common ground of the file commands.
void page(QPainter& p, const QRectF& r) {
    p.setPen(QPen(QColor(70, 70, 90), 1));
    p.setBrush(QColor(255, 255, 250));
    p.drawRect(r);
}

void envelope(QPainter& p, const QRectF& r) {
    p.setPen(QPen(QColor(60, 60, 90), 1));
    p.setBrush(QColor(255, 244, 200));
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
    p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const QPointF n(-d.y(), d.x());
    p.drawLine(to, to - d * 3.5 + n * 3);
    p.drawLine(to, to - d * 3.5 - n * 3);
}

// One 16 x 16 toolbar image for a command number.
void tool(QPainter& p, int command) {
    const QColor blue(30, 80, 170), green(20, 130, 60), red(200, 40, 40);
    switch (command) {
        case 40018:  // Send
            envelope(p, QRectF(1.5, 4.5, 10, 8));
            arrow(p, QPointF(9, 8.5), QPointF(15, 8.5), green);
            break;
        case 57604:  // Save As
            p.setPen(QPen(QColor(40, 40, 80), 1));
            p.setBrush(QColor(70, 110, 200));
            p.drawRect(QRectF(2.5, 2.5, 11, 11));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 2.5, 7, 4));
            p.drawRect(QRectF(5, 9, 6, 4.5));
            break;
        case 40026:  // Cut Message
            p.setPen(QPen(QColor(50, 50, 50), 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(2, 10, 4, 4));
            p.drawEllipse(QRectF(10, 10, 4, 4));
            p.drawLine(QPointF(5.5, 10.5), QPointF(11, 2));
            p.drawLine(QPointF(10.5, 10.5), QPointF(5, 2));
            break;
        case 40024:  // Append to Beginning
            page(p, QRectF(6.5, 2.5, 8, 11));
            arrow(p, QPointF(1, 5), QPointF(6, 5), red);
            break;
        case 40025:  // Append to End
            page(p, QRectF(1.5, 2.5, 8, 11));
            arrow(p, QPointF(15, 11), QPointF(10, 11), red);
            break;
        case 40027:  // Mixer
            p.setPen(QPen(QColor(60, 60, 60), 1));
            for (int i = 0; i < 3; ++i) {
                const double x = 3.5 + i * 4.5;
                p.drawLine(QPointF(x, 2), QPointF(x, 14));
                p.setBrush(blue);
                p.drawRect(QRectF(x - 1.5, 4 + i * 3, 3, 2.5));
            }
            break;
        case 40020:  // Help
            p.setPen(QPen(blue, 1));
            p.setBrush(QColor(220, 232, 255));
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.setPen(blue);
            p.setFont(QFont(QStringLiteral("Sans"), 8, QFont::Bold));
            p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
            break;
        case 40022:  // Reply to Sender
            envelope(p, QRectF(4.5, 6.5, 10, 8));
            arrow(p, QPointF(9, 3), QPointF(2, 3), blue);
            break;
        case 32776:  // Reply to All
            envelope(p, QRectF(4.5, 6.5, 10, 8));
            arrow(p, QPointF(9, 2), QPointF(2, 2), blue);
            arrow(p, QPointF(9, 5), QPointF(2, 5), blue);
            break;
        case 40021:  // Forward
            envelope(p, QRectF(1.5, 6.5, 10, 8));
            arrow(p, QPointF(7, 3), QPointF(14, 3), blue);
            break;
        case 32782:  // Resend
            envelope(p, QRectF(1.5, 6.5, 10, 8));
            p.setPen(QPen(green, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(8, 1, 7, 7), 90 * 16, 270 * 16);
            break;
        default:
            break;
    }
}

}  // namespace

QPixmap LoadTransportBitmap(int id) {
    struct Entry {
        int enabled, grey;
        Glyph glyph;
    };
    static const Entry entries[] = {
        {kStopBitmap, kStopGreyBitmap, Glyph::kStop},
        {kBeginBitmap, kBeginGreyBitmap, Glyph::kBegin},
        {kReviewBitmap, kReviewGreyBitmap, Glyph::kReview},
        {kPlayBitmap, kPlayGreyBitmap, Glyph::kPlay},
        {kPauseBitmap, kPauseGreyBitmap, Glyph::kPause},
        {kCueBitmap, kCueGreyBitmap, Glyph::kCue},
        {kEndBitmap, kEndGreyBitmap, Glyph::kEnd},
        {kRecordBitmap, kRecordGreyBitmap, Glyph::kRecord},
    };
    for (const Entry& e : entries) {
        if (id == e.enabled)
            return transport(e.glyph, true);
        if (id == e.grey)
            return transport(e.glyph, false);
    }
    return {};
}

std::vector<int> ToolbarCommands(int id) {
    switch (id) {
        case kViewToolbarBitmap:
            return {57604, 40022, 32776, 40021, 32782, 40027, 40020};
        case kComposeToolbarBitmap:
            return {40018, 57604, 40026, 40024, 40025, 40027, 40020};
        case kPreviewToolbarBitmap:
            return {57604, 40027, 40020};
        default:
            return {};
    }
}

QPixmap LoadToolbarStrip(int id) {
    const std::vector<int> commands = ToolbarCommands(id);
    if (commands.empty())
        return {};
    QPixmap pm(16 * static_cast<int>(commands.size()), 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    for (int command : commands) {
        tool(p, command);
        p.translate(16, 0);
    }
    return pm;
}

}  // namespace korrin::res
