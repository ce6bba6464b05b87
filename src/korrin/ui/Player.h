// The message window (dialog 130): plays a stored message (View), records, edits and addresses
// a new one (Compose), or plays the transport-quality copy of a message (Preview). It owns
// the working wave file's player, the mute box and the envelope fields; the tape-recorder
// transport drives the player, and timer 2 follows its position.
//
// The window is run modally by its owner (the main window) for one message. Results: 1 closed
// through File Close, 2 cancelled (Esc, the close box), 0 sent, and 301 / 302 / 306 when the
// user asked to forward, reply or resend (the owner then opens a new composer).
//
// Threads: the user-interface thread only.
#pragma once

#include <QElapsedTimer>
#include <QPixmap>

#include <array>
#include <map>
#include <memory>
#include <string>

#include "korrin/audio/Mci.h"
#include "korrin/mail/TolvlinkBinding.h"
#include "korrin/ui/ConvertDlg.h"
#include "korrin/ui/MuteBox.h"
#include "platform/ui/Dialog.h"

class QAction;
class QMenuBar;
class QSlider;
class QToolBar;

namespace korrin {

class WabAddressBook;

class CMessageTrailer;
class CDraft;
class CSendJob;
struct SendEnvelope;
class CLevelMeter;
class CWaveView;
class MuteControl;

enum PlayerMode : int { kModeView = 1, kModeCompose = 2, kModePreview = 4 };
enum ComposeKind : int {
    kKindForward = 301,
    kKindReply = 302,
    kKindOpen = 304,
    kKindNew = 305,
    kKindResend = 306,
};
enum PlayerState : int { kStopped = 1, kPlaying = 2, kRecording = 3 };
enum PauseState : int { kRunning = 1, kPaused = 2 };

// What the message window needs of the window that opens it.
class PlayerOwner {
  public:
    virtual ~PlayerOwner() = default;
    // The parent of the message window; shown again when a message has been stored.
    virtual QWidget* OwnerWindow() = 0;
    // The commands the message window leaves to its owner: Mixer (40027), Preferences (32773).
    virtual void OnOwnerCommand(int id) = 0;
    // The MAPI binding's loaded and started flags, kept for the program run.
    virtual bool& MapiLoaded() = 0;
    virtual bool& MapiStarted() = 0;
    // The MAPI binding (none until the first load attempt), kept for the program run.
    std::unique_ptr<CTolvlinkBinding>& MapiBinding() { return mapiBinding_; }
    // The Outbox list no longer shows what is on disk.
    virtual void MarkOutboxOutOfDate() = 0;

  private:
    std::unique_ptr<CTolvlinkBinding> mapiBinding_;
};

// Loads the owner's MAPI binding unless it is loaded already (a fresh binding for every
// attempt); true when loaded. Sets the owner's loaded flag.
bool LoadMapiBinding(PlayerOwner& owner);

class CPlayer : public platform::CDialog, public IConvertRecorder {
  public:
    static constexpr int kResourceId = 130;

    // Controls.
    static constexpr int kToId = 1022, kCcId = 1028, kBccId = 1030;
    static constexpr int kSubjectId = 1016, kFromId = 1018, kSentId = 1024, kMemoId = 1017;
    static constexpr int kToLabelId = 1061, kCcLabelId = 1064, kBccLabelId = 1066;
    static constexpr int kToButtonId = 1023, kCcButtonId = 1029, kBccButtonId = 1031;
    static constexpr int kSubjectLabelId = 1032, kFromLabelId = 1062, kSentLabelId = 1063,
                         kMemoLabelId = 1065;
    static constexpr int kStopId = 1011, kBeginId = 1021, kReviewId = 1014, kPlayId = 1026,
                         kPauseId = 1027, kCueId = 1010, kEndId = 1020, kRecordId = 1025;
    static constexpr int kPositionSliderId = 1009;
    static constexpr int kStatusId = 1040, kPositionTextId = 1060, kSecId = 1041, kLengthId = 1012;
    static constexpr int kVolumeSliderId = 1033;
    static constexpr int kMuteId = kMuteBoxId;
    // The waveform and the level meter (no numbers of their own in the template).
    static constexpr int kWaveViewId = 1100, kLevelMeterId = 1101;

    // Commands.
    static constexpr int kSend = 40018, kImport = 57601, kSaveAs = 57604, kPropertiesEdit = 32775,
                         kPropertiesTransport = 32779, kClose = 57602;
    static constexpr int kCut = 40026, kAppendBegin = 40024, kAppendEnd = 40025,
                         kPreferences = 32773;
    static constexpr int kMixer = 40027, kQuality = 40029, kHelp = 40020, kAbout = 40011;
    static constexpr int kReply = 40022, kReplyAll = 32776, kForward = 40021, kResend = 32782;
    static constexpr int kAdvancedFormats = 40030, kConvertVoiceFile = 40031;
    static constexpr int kTimerId = 2;
    static constexpr int kTimerMs = 200;

    // The transport buttons in the order of their flags and images.
    static constexpr std::array<int, 8> kTransport = {kStopId,  kBeginId, kReviewId, kPlayId,
                                                      kPauseId, kCueId,   kEndId,    kRecordId};

    // workingFile and record belong to the caller and outlive the window.
    CPlayer(PlayerOwner* owner, std::string workingFile, CMessageTrailer& record, int mode,
            int kind);
    ~CPlayer() override;

    void OnCommand(int id) override;
    platform::LRESULT OnMessage(unsigned msg, platform::WPARAM wParam,
                                platform::LPARAM lParam) override;

    int state() const { return state_; }
    int pause() const { return pause_; }
    bool changed() const { return changed_; }
    platform::DWORD position() const { return position_; }
    platform::DWORD length() const { return length_; }
    double msPerTick() const { return msPerTick_; }
    bool buttonEnabled(int controlId) const;
    int beeps() const { return beeps_; }  // disabled buttons and refused commands
    QAction* action(int command) const;
    const std::string& workingFile() const { return workingFile_; }
    // The draft that keeps this composition on disk; empty without an installation.
    std::string draftPath() const;
    // Before DoModal, in Compose: the composition resumes a draft an earlier run left (the
    // offer at start-up). The window keeps that draft, held until now by the caller, instead
    // of starting a new one, and counts the recording as changed: it exists nowhere else.
    void ResumeDraft(std::unique_ptr<CDraft> draft);
    MciDevice& player() { return player_; }

    // IConvertRecorder
    const std::string& WorkingFile() const override { return workingFile_; }
    bool ReleaseWorkingFile(platform::DWORD* position) override;
    void ReopenWorkingFile(platform::DWORD position) override;

  protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnTimer(int id) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void buildControls();
    void buildMenu();
    void addShortcuts();
    QAction* addCommand(QMenu* menu, const QString& text, int id);
    void initCompose();
    void initView();
    void initPreview();
    void startPlayer();
    void initVolume();

    void beep();
    void setButtonsByState();
    void setButtons(const std::array<bool, 8>& enabled);
    void enableMenuItems(bool on);
    void seekAndContinue();
    void showLength();
    void setSliderRange();
    void setSliderPosition(platform::DWORD p);
    void setPositionText(platform::DWORD p);
    void updatePictures();

    void onTransport(int id);
    void doPlay();
    void doStop();
    void doBegin();
    void doEnd();
    void doReview();
    void doCue();
    void doPause();
    void doRecord();
    void onPositionSlider(int value);
    void onVolumeSlider(int value);
    void onAddressBook();

    void cutMessage();
    void importWave();
    void saveAs();
    void properties(bool transport);
    void showTransportProperties();
    void send();
    SendEnvelope envelope() const;
    void closeFromMenu();
    bool askToDropRecording(const char* text);
    bool saveRecording();
    int convertToLocal(const std::string& source, const std::string& target);
    void startDraft();
    void saveDraft();
    void dropDraft();
    static void onTerminate(int);

    PlayerOwner* owner_;
    std::string workingFile_;
    CMessageTrailer& record_;
    int mode_;
    int kind_;

    int state_ = kStopped;
    int pause_ = kRunning;
    platform::DWORD position_ = 0;
    platform::DWORD length_ = 0;
    double msPerTick_ = 0;
    platform::DWORD recordStart_ = 0;
    bool changed_ = false;
    bool lengthStale_ = false;
    std::array<bool, 8> buttonEnabled_{};
    std::array<QPixmap, 16> bitmaps_;  // enabled images, then grey ones, in button order
    int beeps_ = 0;
    std::unique_ptr<WabAddressBook> wab_;  // Compose only; null without the WAB
    bool settingSlider_ = false;

    MciDevice player_;
    MuteBox muteBox_{this};
    std::unique_ptr<MuteControl> mixer_;
    QMenuBar* menuBar_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QWidget* body_ = nullptr;
    QSlider* positionSlider_ = nullptr;
    QSlider* volumeSlider_ = nullptr;
    CWaveView* waveView_ = nullptr;
    CLevelMeter* levelMeter_ = nullptr;
    std::map<int, QAction*> actions_;
    CSendJob* sending_ = nullptr;  // the Send in progress, for its store request
    std::unique_ptr<CDraft> draft_;
    QElapsedTimer sinceDraft_;  // while recording, the draft is renewed every 10 s
};

}  // namespace korrin
