// The Outbox page of the Preferences sheet (resource 174): how many minutes apart the Outbox
// is sent by itself, or not at all.
#pragma once

#include "platform/ui/PropertySheet.h"

namespace korrin {

class CTransmitDlg;

class COutboxPage : public platform::CPropertyPage {
  public:
    static constexpr int kResourceId = 174;
    static constexpr int kMinutesId = 1030;
    static constexpr int kDontEmptyId = 1031;
    static constexpr int kEveryTextId = 1032;
    static constexpr int kMinutesTextId = 1033;
    static constexpr int kMaxMinutes = 1000;

    // transmit: the session whose Outbox timer follows the new value; may be null.
    explicit COutboxPage(CTransmitDlg* transmit);

    void OnOK() override;

    // The value OK stores: 0 when the box is ticked, 1 for 0 minutes, at most 1000.
    static unsigned long ValueToStore(bool dontEmpty, unsigned long minutes);

  protected:
    bool OnInitDialog() override;

  private:
    void enableMinutes(bool on);
    CTransmitDlg* transmit_;
};

}  // namespace korrin
