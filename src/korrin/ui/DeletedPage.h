// The Deleted page of the Preferences sheet (resource 178): whether Deleted Items is emptied
// when the program ends.
#pragma once

#include "platform/ui/PropertySheet.h"

namespace korrin {

class CDeletedPage : public platform::CPropertyPage {
  public:
    static constexpr int kResourceId = 178;
    static constexpr int kEmptyOnExitId = 1080;

    CDeletedPage();
    void OnOK() override;

  protected:
    bool OnInitDialog() override;

  private:
    bool empty_ = false;
};

}  // namespace korrin
