// A stand-in for the main window as the message window's owner: it makes the empty working
// file of a new message the way the main window's New does, runs the message window on it,
// remembers the commands handed to it and removes the working file afterwards.
#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "helpers/GuiSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Acm.h"
#include "korrin/store/Trailer.h"
#include "korrin/ui/Player.h"
#include "platform/files/Files.h"

namespace korrin::test {

class StandInOwner : public PlayerOwner {
  public:
    QWidget* OwnerWindow() override { return &window_; }
    void OnOwnerCommand(int id) override { commands.push_back(id); }
    bool& MapiLoaded() override { return mapiLoaded; }
    bool& MapiStarted() override { return mapiStarted; }
    void MarkOutboxOutOfDate() override { outboxOutOfDate = true; }

    // New message: an empty wave file of the local format under a fresh temporary name,
    // the composer run on it, the file removed after. Returns the window's result; `during`
    // runs once the window shows.
    int NewMessage(const std::function<void(CPlayer&)>& during, CMessageTrailer* record = nullptr) {
        FormatChooser local(&window_);
        std::string details;
        local.GetFormat(kKorrinKey, details);
        DWORD number = 0;
        CUtils().NextFileID(number);
        workingFile = platform::GetTempPath() + "V" + std::to_string(number) + "L.wav";
        WaveFileInfo info;
        if (!AcmAppFileNew(local, workingFile, info))
            return -1;
        CMessageTrailer empty;
        const int result =
            Run(workingFile, record ? *record : empty, kModeCompose, kKindNew, during);
        platform::DeleteFile(workingFile);
        return result;
    }

    // Runs the window modally on file; `during` gets the window once it shows.
    int Run(const std::string& file, CMessageTrailer& record, int mode, int kind,
            const std::function<void(CPlayer&)>& during);

    std::vector<int> commands;
    bool mapiLoaded = false;
    bool mapiStarted = false;
    bool outboxOutOfDate = false;
    std::string workingFile;

  private:
    QWidget window_;
};

inline int StandInOwner::Run(const std::string& file, CMessageTrailer& record, int mode, int kind,
                             const std::function<void(CPlayer&)>& during) {
    CPlayer player(this, file, record, mode, kind);
    WhenShown(QStringLiteral("dialog_130"), [&](QWidget*) {
        during(player);
        // Every test ends the window in its steps; one left open would wait forever.
        if (player.isRunning()) {
            ADD_FAILURE() << "the message window is still open after the test's steps";
            player.EndDialog(-1);
        }
    });
    return player.DoModal();
}

}  // namespace korrin::test
