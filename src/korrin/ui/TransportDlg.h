// The "Transport" dialog (how messages leave: SMTP, AOL, MAPI) and the "Hint - Not using Zip"
// dialog. Both store their value under the program's key on OK; a value that cannot be stored
// is reported and the dialog stays open, so the user knows the choice did not take.
#pragma once

#include <functional>
#include <memory>

#include "platform/ui/Dialog.h"

namespace korrin {

// What the Transport dialog needs of the MAPI support library: whether it can be loaded (the
// main window loads it on the first ask and remembers the result), and its profile dialog.
struct MapiProfileAccess {
    std::function<bool()> load;  // empty: no library on this system
    std::function<void(QWidget* owner)> changeProfile;
};

class CTolvlinkBinding;

// The access through the main window's MAPI binding: loaded on the first ask (a fresh binding
// each attempt until one loads), Change Profile through the library's GetMapiProfile.
MapiProfileAccess TolvlinkProfileAccess(std::unique_ptr<CTolvlinkBinding>& binding, bool& loaded,
                                        QWidget* owner);

class CTransportDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 166;
    static constexpr int kSmtpId = 1013, kAolId = 1014, kMapiId = 1015, kMoreInfoId = 1061,
                         kChangeProfileId = 1062;
    static constexpr const char* kInfoPage = "transports.html";

    explicit CTransportDlg(MapiProfileAccess mapi = {}, QWidget* parent = nullptr);

    void OnCommand(int id) override;
    int transport() const { return transport_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void select(int transport);
    MapiProfileAccess mapi_;
    bool mapiLoaded_ = false;
    int transport_ = 1;
};

class CZipHintDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 165;
    static constexpr int kTextId = 1010, kDontShowId = 1011, kWebId = 1072, kMailId = 1073,
                         kCompressionPageId = 1074;
    static constexpr const char* kCompressionPage = "compression.html";

    explicit CZipHintDlg(QWidget* parent = nullptr);
    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    bool dontShow_ = false;
};

// The hint text, with the PKZIP maker's address.
QString ZipHintText();

}  // namespace korrin
