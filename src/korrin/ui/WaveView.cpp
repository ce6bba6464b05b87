#include "korrin/ui/WaveView.h"

#include <QPainter>

namespace korrin {

CWaveView::CWaveView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CWaveView::SetPeaks(std::vector<std::uint8_t> peaks, double position) {
    if (peaks == peaks_ && position == position_)
        return;
    peaks_ = std::move(peaks);
    position_ = position;
    update();
}

void CWaveView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 28, 36));
    const int w = width(), h = height(), mid = h / 2;
    p.setPen(QColor(60, 80, 90));
    p.drawLine(0, mid, w, mid);
    if (!peaks_.empty()) {
        p.setPen(QColor(90, 210, 140));
        const int n = static_cast<int>(peaks_.size());
        for (int x = 0; x < w; ++x) {
            const int v = peaks_[static_cast<std::size_t>(x * n / std::max(1, w))];
            const int half = v * (h / 2 - 1) / 255;
            p.drawLine(x, mid - half, x, mid + half);
        }
    }
    const int x = static_cast<int>(position_ * (w - 1));
    p.setPen(QColor(255, 220, 80));
    p.drawLine(x, 0, x, h);
}

CLevelMeter::CLevelMeter(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CLevelMeter::SetLevel(int level) {
    if (level == level_)
        return;
    level_ = level;
    update();
}

void CLevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 28, 36));
    // Green up to two thirds, then yellow, red in the last eighth: where speech clips.
    const int w = width() - 2, h = height() - 2;
    const int lit = level_ * h / 255;
    for (int y = 0; y < lit; ++y) {
        const int share = y * 255 / std::max(1, h);
        const QColor c = share > 223   ? QColor(230, 50, 40)
                         : share > 170 ? QColor(230, 200, 40)
                                       : QColor(60, 200, 90);
        p.setPen(c);
        p.drawLine(1, h - y, w, h - y);
    }
    p.setPen(QColor(80, 90, 100));
    p.drawRect(0, 0, width() - 1, height() - 1);
}

}  // namespace korrin
