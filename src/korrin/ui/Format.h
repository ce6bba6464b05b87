// The "ADVANCED - Formats" dialog: the local and the transport format side by side, each
// with its Browse button, and Default to bring both back to their recommended values.
#pragma once

#include <memory>

#include "korrin/audio/Acm.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CFormatDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 190;
    static constexpr int kLocalBrowseId = 1001;
    static constexpr int kTransportBrowseId = 1002;
    static constexpr int kLocalDetailsId = 1004;
    static constexpr int kTransportDetailsId = 1005;
    static constexpr int kDefaultId = 1033;

    explicit CFormatDlg(QWidget* parent = nullptr);
    ~CFormatDlg() override;

    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    std::unique_ptr<FormatChooser> local_;
    std::unique_ptr<FormatChooser> transport_;
    bool changed_ = false;
};

}  // namespace korrin
