// The "Message Quality vs. Size" dialog: three presets and Advanced, and whether messages are
// packed with the zip programs before sending. Nothing is stored before OK.
#pragma once

#include "platform/Win32Types.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CZipDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 191;
    static constexpr int kNetPhoneId = 1034;
    static constexpr int kTelephoneId = 1035;
    static constexpr int kRadioId = 1036;
    static constexpr int kAdvancedId = 1037;
    static constexpr int kAdvancedButtonId = 1038;
    static constexpr int kCancel2Id = 1039;
    static constexpr int kMoreInfoId = 1040;
    static constexpr int kContactId = 1041;
    static constexpr int kZipGroupId = 1042;
    static constexpr int kZipTextId = 1043;
    static constexpr int kZipInnerGroupId = 1044;
    static constexpr int kUseZipId = 1069;
    static constexpr int kNoZipId = 1070;
    static constexpr int kDescriptionId = 1071;
    static constexpr int kDefaultId = 1033;

    explicit CZipDlg(QWidget* parent = nullptr);

    void OnCommand(int id) override;
    platform::DWORD quality() const { return quality_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void enableZip(bool enable);
    void enable(int id, bool on);
    void describe(const std::string& text);
    bool checked(int id) const;
    void check(int id);

    platform::DWORD quality_ = 1;
};

}  // namespace korrin
