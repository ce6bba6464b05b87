// The message window's two pictures of the sound: the waveform of the whole message with the
// play position, and the level meter of what is heard or recorded now. Both only paint what
// they were last given; the window feeds them from its position timer.
#pragma once

#include <QWidget>

#include <cstdint>
#include <vector>

namespace korrin {

class CWaveView : public QWidget {
  public:
    explicit CWaveView(QWidget* parent = nullptr);
    // Peaks 0 .. 255 in equal slices; position as a fraction of the length (0 .. 1).
    void SetPeaks(std::vector<std::uint8_t> peaks, double position);
    const std::vector<std::uint8_t>& peaks() const { return peaks_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    std::vector<std::uint8_t> peaks_;
    double position_ = 0;
};

class CLevelMeter : public QWidget {
  public:
    explicit CLevelMeter(QWidget* parent = nullptr);
    void SetLevel(int level);  // 0 .. 255
    int level() const { return level_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int level_ = 0;
};

}  // namespace korrin
