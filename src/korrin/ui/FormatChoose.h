// The windows of the audio formats: the format chooser the compression manager shows, and the
// window side of a conversion (progress text, wait cursor).
#pragma once

#include <cstddef>
#include <vector>

#include "platform/acm/Acm.h"
#include "platform/ui/Dialog.h"

namespace korrin {

// Installs the chooser dialog and the conversion's window side. Called once at start-up on
// the user-interface thread.
void InstallAudioWindows();

// The chooser: a list of format tags and, below it, the formats of the chosen tag.
class CFormatChooseDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 192;
    static constexpr int kTagListId = 101;
    static constexpr int kFormatListId = 102;

    CFormatChooseDlg(const platform::ACMFORMATCHOOSE& choose,
                     const std::vector<platform::AcmFormatTagEntry>& choices, std::size_t tagIndex,
                     std::size_t formatIndex, QWidget* parent);

    std::size_t tagIndex() const;
    std::size_t formatIndex() const;

  private:
    void fillFormats(std::size_t tag);

    const std::vector<platform::AcmFormatTagEntry>& choices_;
};

}  // namespace korrin
