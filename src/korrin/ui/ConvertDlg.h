// The "Convert Quillion EMail(tm) Voice File" dialog: converts the voice of the message being
// edited into a format the user picks (the local format unless Browse chose another). The
// recorder's device lets go of the working file first, after saving a recording not yet in
// it; the file is replaced only by a whole conversion, and the device opens it again at the
// position it had.
#pragma once

#include <memory>
#include <string>

#include "korrin/audio/FormatChooser.h"
#include "platform/ui/Dialog.h"

namespace korrin {

// What the dialog needs of the recorder window that opened it.
class IConvertRecorder {
  public:
    virtual ~IConvertRecorder() = default;
    virtual const std::string& WorkingFile() const = 0;
    // Stops the device, saves a recording the working file does not hold yet into it, and
    // closes the device. The position it was at goes to *position. False (reported) when the
    // recording could not be saved: the device stays open on it and nothing is converted.
    virtual bool ReleaseWorkingFile(platform::DWORD* position) = 0;
    // Opens the working file again and moves to position (its end when it is shorter).
    virtual void ReopenWorkingFile(platform::DWORD position) = 0;
};

class CConvertDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 170;
    static constexpr int kBrowseId = 1001, kDetailsId = 1004;
    static constexpr const char* kConvertedText =
        "File has been converted. To verify proper format see File->Properties";

    CConvertDlg(IConvertRecorder& recorder, QWidget* parent = nullptr);
    ~CConvertDlg() override;

    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    IConvertRecorder& recorder_;
    std::unique_ptr<FormatChooser> chooser_;
};

}  // namespace korrin
