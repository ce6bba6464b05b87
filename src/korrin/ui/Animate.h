// A small child window that plays a row of frame bitmaps in a loop: the About box's letter
// and the main window's "transmitting" picture. It can also slide itself across its parent
// one pixel right and one down per tick.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <vector>

class QTimer;

namespace korrin {

class CAnimateCtrl : public QWidget {
  public:
    static constexpr int kFrameTimerId = 202;
    static constexpr int kSlideTimerId = 203;

    explicit CAnimateCtrl(QWidget* parent = nullptr);
    ~CAnimateCtrl() override;

    void SetFrames(std::vector<QPixmap> frames);
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    int CurrentFrame() const { return current_; }

    // The frame timer runs only when there is more than one frame to show.
    void Start(int frameMilliseconds);
    void Stop();
    bool IsRunning() const;

    void Slide(QPoint start, int periodMilliseconds);
    void StopSlide();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void OnTimer(int id);

    std::vector<QPixmap> frames_;
    int current_ = 0;
    QTimer* frameTimer_ = nullptr;
    QTimer* slideTimer_ = nullptr;
};

}  // namespace korrin
