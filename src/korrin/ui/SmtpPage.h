// The SMTP page of the Preferences sheet: the sender's server and identity, stored under the
// program's key when the sheet is closed with OK. The page checks nothing: required values are
// checked when a message is sent.
#pragma once

#include "platform/registry/Registry.h"
#include "platform/ui/PropertySheet.h"

namespace korrin {

class CSmtpPage : public platform::CPropertyPage {
  public:
    static constexpr int kResourceId = 151;
    static constexpr int kServerId = 1005;
    static constexpr int kEmailId = 1006;
    static constexpr int kDisplayNameId = 1007;
    static constexpr int kAccountId = 1008;
    static constexpr int kPasswordId = 1009;
    static constexpr int kOrganizationId = 1010;
    // Drop-down: 0 none, 1 STARTTLS, 2 TLS from the start ("SMTP Security").
    static constexpr int kSecurityId = 1011;
    // Check box: "Attach Playable Copy".
    static constexpr int kPlayableCopyId = 1012;
    // Values hold at most this many characters.
    static constexpr int kMaxChars = 255;

    CSmtpPage();

    void OnOK() override;

  protected:
    bool OnInitDialog() override;

  private:
    // Stores the password box's text and empties the box.
    void storePassword(platform::HKEY key);
};

}  // namespace korrin
