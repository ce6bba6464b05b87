#include "korrin/ui/Animate.h"

#include <QPainter>
#include <QTimer>

namespace korrin {

CAnimateCtrl::CAnimateCtrl(QWidget* parent) : QWidget(parent) {
    frameTimer_ = new QTimer(this);
    slideTimer_ = new QTimer(this);
    connect(frameTimer_, &QTimer::timeout, this, [this] { OnTimer(kFrameTimerId); });
    connect(slideTimer_, &QTimer::timeout, this, [this] { OnTimer(kSlideTimerId); });
}

CAnimateCtrl::~CAnimateCtrl() {
    Stop();
    StopSlide();
}

void CAnimateCtrl::SetFrames(std::vector<QPixmap> frames) {
    frames_ = std::move(frames);
    current_ = 0;
    update();
}

void CAnimateCtrl::Start(int frameMilliseconds) {
    if (frames_.size() > 1)
        frameTimer_->start(frameMilliseconds);
}

void CAnimateCtrl::Stop() {
    frameTimer_->stop();
}

bool CAnimateCtrl::IsRunning() const {
    return frameTimer_->isActive();
}

void CAnimateCtrl::Slide(QPoint start, int periodMilliseconds) {
    move(start);
    slideTimer_->start(periodMilliseconds);
}

void CAnimateCtrl::StopSlide() {
    slideTimer_->stop();
}

void CAnimateCtrl::OnTimer(int id) {
    if (id == kFrameTimerId && !frames_.empty()) {
        current_ = (current_ + 1) % static_cast<int>(frames_.size());
        update();
    } else if (id == kSlideTimerId) {
        move(pos() + QPoint(1, 1));
    }
}

void CAnimateCtrl::paintEvent(QPaintEvent*) {
    if (frames_.empty())
        return;
    QPainter p(this);
    p.drawPixmap(rect(), frames_[static_cast<std::size_t>(current_)]);
}

}  // namespace korrin
