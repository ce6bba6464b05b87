#include "korrin/ui/Player.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSlider>
#include <QSocketNotifier>
#include <QToolBar>
#include <QVBoxLayout>

#include <fcntl.h>
#include <unistd.h>
#include <cmath>
#include <optional>

#include <csignal>
#include <cstdio>

#include "korrin/app/Defaults.h"
#include "korrin/app/Drafts.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Send.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Acm.h"
#include "korrin/audio/Mixer.h"
#include "korrin/store/Trailer.h"
#include "korrin/ui/FileProp.h"
#include "korrin/ui/Format.h"
#include "korrin/ui/HelpDlg.h"
#include "korrin/ui/IEAddrBk.h"
#include "korrin/ui/PlayerArt.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/SendProgress.h"
#include "korrin/ui/SharedCommands.h"
#include "korrin/ui/TransportDlg.h"
#include "korrin/ui/WaveView.h"
#include "korrin/ui/ZipDlg.h"
#include "platform/files/Files.h"
#include "platform/mci/Mci.h"
#include "platform/mci/WaveData.h"
#include "platform/mixer/Mixer.h"
#include "platform/registry/Registry.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiThread.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kCaption = "Quillion EMail for Windows(tm)";
constexpr const char* kDropOnClose =
    "You have recorded a new message.  If you proceed you will loose this message.  Do you "
    "want to proceed?";
constexpr const char* kDropOnImport =
    "You have recorded a new message.  If you proceed you will loose this message.  Do you "
    "want to open the file you just selected?";

// The string table of the tool tips, by control or command number.
QString toolTipText(int id) {
    switch (id) {
        case 1010:
            return QStringLiteral("Forward");
        case 1011:
            return QStringLiteral("Stop");
        case 1014:
            return QStringLiteral("Rewind");
        case 1020:
            return QStringLiteral("End");
        case 1021:
            return QStringLiteral("Begin");
        case 1025:
            return QStringLiteral("Record");
        case 1026:
            return QStringLiteral("Play");
        case 1027:
            return QStringLiteral("Pause");
        case 1028:
            return QStringLiteral("Carbon Copy");
        case 1031:
            return QStringLiteral("Blind Carbon Copy");
        case 1036:
            return QStringLiteral("Mute");
        case 40018:
            return QStringLiteral("Send Mail");
        case 57604:
            return QStringLiteral("Save As");
        case 40026:
            return QStringLiteral("Cut Message");
        case 40024:
            return QStringLiteral("Append to the Beginning of the Message");
        case 40025:
            return QStringLiteral("Append to the End of the Message");
        case 40027:
            return QStringLiteral("Mixer");
        case 40020:
            return QStringLiteral("Help");
        case 40022:
            return QStringLiteral("Reply to Sender");
        case 32776:
            return QStringLiteral("Reply to All");
        case 40021:
            return QStringLiteral("Forward");
        case 32782:
            return QStringLiteral("Resend the selected Quillion EMail for Windows(tm) message");
        default:
            return {};
    }
}

// Keys of the transport that never reach a text field: the function keys.
QKeySequence transportKey(int id) {
    switch (id) {
        case CPlayer::kPlayId:
            return QKeySequence(Qt::Key_F5);
        case CPlayer::kPauseId:
            return QKeySequence(Qt::Key_F6);
        case CPlayer::kStopId:
            return QKeySequence(Qt::Key_F7);
        case CPlayer::kRecordId:
            return QKeySequence(Qt::Key_F8);
        default:
            return {};
    }
}

// The images of a transport button: enabled, grey.
constexpr std::array<std::array<int, 2>, 8> kImages = {
    {{res::kStopBitmap, res::kStopGreyBitmap},
     {res::kBeginBitmap, res::kBeginGreyBitmap},
     {res::kReviewBitmap, res::kReviewGreyBitmap},
     {res::kPlayBitmap, res::kPlayGreyBitmap},
     {res::kPauseBitmap, res::kPauseGreyBitmap},
     {res::kCueBitmap, res::kCueGreyBitmap},
     {res::kEndBitmap, res::kEndGreyBitmap},
     {res::kRecordBitmap, res::kRecordGreyBitmap}}};

QString withoutMnemonic(QString text) {
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return text;
}

std::string formatSeconds(DWORD ms, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, ms / 1000.0);
    return text;
}

constexpr qint64 kDraftEveryMs = 10000;

// The composer whose draft a SIGTERM saves; one at most, as the window is modal. The signal
// only writes a byte into the pipe; the window's thread does the work.
CPlayer* g_composer = nullptr;
int g_termPipe[2] = {-1, -1};

void noteTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_termPipe[1], &byte, 1);
}

// InstallDir, read without a report: without an installation there is no draft to keep.
bool haveInstallDir() {
    RegKeyGuard key;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kInstallKey, key.out()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    return RegQueryValueEx(key.get(), kInstallDirValue, nullptr, nullptr, &size) == ERROR_SUCCESS &&
           size > 1;
}

int transportIndex(int id) {
    for (std::size_t i = 0; i < CPlayer::kTransport.size(); ++i)
        if (CPlayer::kTransport[i] == id)
            return static_cast<int>(i);
    return -1;
}

}  // namespace

bool LoadMapiBinding(PlayerOwner& owner) {
    return CTolvlinkBinding::EnsureLoaded(owner.MapiBinding(), owner.MapiLoaded(),
                                          owner.OwnerWindow());
}

CPlayer::CPlayer(PlayerOwner* owner, std::string workingFile, CMessageTrailer& record, int mode,
                 int kind)
    : CDialog(kResourceId, owner ? owner->OwnerWindow() : nullptr),
      owner_(owner),
      workingFile_(std::move(workingFile)),
      record_(record),
      mode_(mode),
      kind_(kind) {
    setWindowTitle(QString::fromUtf8(kCaption));
    buildControls();
}

CPlayer::~CPlayer() {
    if (g_composer == this) {
        std::signal(SIGTERM, SIG_DFL);
        g_composer = nullptr;
    }
    KillTimer(kTimerId);
    // The mixer's notifications name this window: it goes before the window does.
    mixer_.reset();
    player_.Close();
}

void CPlayer::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);
    toolBar_ = new QToolBar(this);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    layout->addWidget(toolBar_);
    body_ = new QWidget(this);
    body_->setFixedSize(DialogUnitsToPixels(305, 200));
    layout->addWidget(body_);
    QWidget* b = body_;

    struct Field {
        int labelId, buttonId, editId, y;
        const char *label, *button;
    };
    const Field fields[] = {
        {kToLabelId, kToButtonId, kToId, 4, "To:", "T&o..."},
        {kCcLabelId, kCcButtonId, kCcId, 18, "Cc:", "C&c..."},
        {kBccLabelId, kBccButtonId, kBccId, 32, "Bcc:", "&Bcc:"},
        {kSubjectLabelId, 0, kSubjectId, 46, "Subject:", nullptr},
        {kFromLabelId, 0, kFromId, 60, "From:", nullptr},
        {kSentLabelId, 0, kSentId, 74, "Sent:", nullptr},
    };
    for (const Field& f : fields) {
        auto* label =
            PlaceControl(new QLabel(QString::fromUtf8(f.label), b), 4, f.y + 2, 32, 9, f.labelId);
        auto* edit = PlaceControl(new QLineEdit(b), 38, f.y, 168, 12, f.editId);
        edit->setReadOnly(true);
        edit->setAccessibleName(QString::fromUtf8(f.label));
        label->setBuddy(edit);
        if (f.buttonId) {
            auto* button =
                PlaceControl(new QPushButton(QString::fromUtf8(f.button), b), 3, f.y, 33, 12);
            button->setAutoDefault(false);
            button->setAccessibleName(withoutMnemonic(button->text()));
            BindCommand(button, f.buttonId);
            button->hide();
        }
    }
    if (QString tip = toolTipText(kCcId); !tip.isEmpty())
        GetDlgItem(b, kCcId)->setToolTip(tip);
    if (QString tip = toolTipText(kBccButtonId); !tip.isEmpty())
        GetDlgItem(b, kBccButtonId)->setToolTip(tip);

    PlaceControl(new QLabel(QStringLiteral("Memo:"), b), 4, 90, 32, 9, kMemoLabelId);
    auto* memo = PlaceControl(new QPlainTextEdit(b), 38, 88, 168, 38, kMemoId);
    memo->setReadOnly(true);
    memo->setTabChangesFocus(true);
    memo->setAccessibleName(QStringLiteral("Memo:"));

    levelMeter_ = PlaceControl(new CLevelMeter(b), 214, 4, 8, 80, kLevelMeterId);
    levelMeter_->setAccessibleName(QStringLiteral("Level"));
    volumeSlider_ = PlaceControl(new QSlider(Qt::Vertical, b), 232, 4, 14, 80, kVolumeSliderId);
    volumeSlider_->setRange(0, 10);
    volumeSlider_->setInvertedAppearance(true);
    volumeSlider_->setInvertedControls(true);
    volumeSlider_->setTickPosition(QSlider::TicksRight);
    volumeSlider_->setAccessibleName(QStringLiteral("Volume"));
    PlaceControl(new QLabel(QStringLiteral("0"), b), 250, 4, 12, 9);
    PlaceControl(new QLabel(QStringLiteral("5"), b), 250, 40, 12, 9);
    PlaceControl(new QLabel(QStringLiteral("10"), b), 250, 76, 12, 9);
    auto* mute = PlaceControl(new QCheckBox(QStringLiteral("&Mute"), b), 226, 92, 60, 12, kMuteId);
    mute->setToolTip(toolTipText(kMuteId));
    mute->setAccessibleName(QStringLiteral("Mute"));
    connect(mute, &QCheckBox::clicked, this, [this] {
        if (mixer_)
            muteBox_.OnClicked(*mixer_);
    });
    connect(volumeSlider_, &QSlider::valueChanged, this, [this](int v) {
        if (!settingSlider_)
            onVolumeSlider(v);
    });

    waveView_ = PlaceControl(new CWaveView(b), 4, 130, 296, 22, kWaveViewId);
    waveView_->setAccessibleName(QStringLiteral("Waveform"));
    positionSlider_ =
        PlaceControl(new QSlider(Qt::Horizontal, b), 4, 154, 296, 12, kPositionSliderId);
    positionSlider_->setRange(0, 25);
    positionSlider_->setAccessibleName(QStringLiteral("Position"));
    connect(positionSlider_, &QSlider::valueChanged, this, [this](int v) {
        if (!settingSlider_)
            onPositionSlider(v);
    });

    for (std::size_t i = 0; i < kTransport.size(); ++i) {
        const int id = kTransport[i];
        auto* button = PlaceControl(new QPushButton(b), 4 + static_cast<int>(i) * 26, 168, 24, 15);
        button->setIconSize(QSize(28, 20));
        button->setAutoDefault(false);
        QString tip = toolTipText(id);
        button->setAccessibleName(tip);
        if (QKeySequence key = transportKey(id); !key.isEmpty())
            tip += QStringLiteral(" (%1)").arg(key.toString(QKeySequence::NativeText));
        button->setToolTip(tip);
        BindCommand(button, id);
        if (id == kPlayId)
            button->setDefault(true);
    }

    PlaceControl(new QLabel(QStringLiteral("0 sec"), b), 4, 188, 104, 9, kStatusId);
    PlaceControl(new QLabel(QStringLiteral("Loading. Wait..."), b), 110, 188, 56, 9,
                 kPositionTextId);
    PlaceControl(new QLabel(QStringLiteral("sec"), b), 168, 188, 20, 9, kSecId);
    auto* length = PlaceControl(new QLabel(QStringLiteral("Length in seconds"), b), 190, 188, 110,
                                9, kLengthId);
    length->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

QAction* CPlayer::addCommand(QMenu* menu, const QString& text, int id) {
    QAction*& a = actions_[id];
    if (!a) {
        a = new QAction(text, this);
        a->setData(id);
        a->setObjectName(QStringLiteral("cmd_%1").arg(id));
        if (QString tip = toolTipText(id); !tip.isEmpty())
            a->setToolTip(tip);
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    if (menu)
        menu->addAction(a);
    return a;
}

QAction* CPlayer::action(int command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void CPlayer::buildMenu() {
    // "\t" ends the menu text; the key it names is the action's shortcut.
    auto command = [this](QMenu* m, const char* text, int id, QKeySequence key = {}) {
        QAction* a = addCommand(m, QString::fromUtf8(text).section(QLatin1Char('\t'), 0, 0), id);
        if (!key.isEmpty())
            a->setShortcut(key);
        return a;
    };
    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    if (mode_ == kModeCompose) {
        QAction* send = command(file, "Se&nd\tCtrl+Enter", kSend);
        send->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
        command(file, "&Import .wav file...", kImport);
        command(file, "Save &As...", kSaveAs);
        command(file, "&Properties Edit...", kPropertiesEdit);
        command(file, "Properties Transport...", kPropertiesTransport);
    } else {
        command(file, "Save &As...", kSaveAs);
        command(file, "&Properties...", kPropertiesEdit);
    }
    command(file, "&Close\tAlt+F4", kClose, QKeySequence(Qt::ALT | Qt::Key_F4));

    QMenu* edit = menuBar_->addMenu(QStringLiteral("&Edit"));
    if (mode_ == kModeCompose) {
        command(edit, "&Cut Message", kCut);
        command(edit, "&Append to Beginning", kAppendBegin);
        command(edit, "&Append to End", kAppendEnd);
    }
    command(edit, "&Preferences...", kPreferences);
    if (mode_ == kModeView) {
        QMenu* compose = menuBar_->addMenu(QStringLiteral("&Compose"));
        command(compose, "&Reply to Sender...", kReply);
        command(compose, "Reply to &All...", kReplyAll);
        command(compose, "&Forward...", kForward);
        command(compose, "&Resend", kResend);
    }
    QMenu* tools = menuBar_->addMenu(QStringLiteral("&Tools"));
    command(tools, "&Mixer...", kMixer);
    command(tools, "Message &Quality vs. Size...", kQuality);
    QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
    command(help, "&Help...", kHelp, QKeySequence(Qt::Key_F1));
    command(help, "&About Quillion Email(tm)...", kAbout);

    // The toolbar: its strip's images in order; 0 marks a separator.
    int strip = res::kComposeToolbarBitmap;
    std::vector<int> layout = {kSend,      kSaveAs, 0,      kCut, kAppendBegin,
                               kAppendEnd, 0,       kMixer, 0,    kHelp};
    if (mode_ == kModeView) {
        strip = res::kViewToolbarBitmap;
        layout = {kSaveAs, 0, kReply, kReplyAll, kForward, 0, kResend, 0, kMixer, 0, kHelp};
    } else if (mode_ == kModePreview) {
        strip = res::kPreviewToolbarBitmap;
        layout = {kSaveAs, 0, kMixer, 0, kHelp};
    }
    const QPixmap images = res::LoadToolbarStrip(strip);
    const std::vector<int> order = res::ToolbarCommands(strip);
    for (int id : layout) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = addCommand(nullptr, toolTipText(id), id);
        for (std::size_t i = 0; i < order.size(); ++i)
            if (order[i] == id)
                a->setIcon(QIcon(images.copy(static_cast<int>(i) * 16, 0, 16, 16)));
        toolBar_->addAction(a);
        if (QWidget* w = toolBar_->widgetForAction(a))
            w->setAccessibleName(a->toolTip());
    }
}

void CPlayer::addShortcuts() {
    for (int id : {kPlayId, kPauseId, kStopId, kRecordId}) {
        auto* s = new QShortcut(transportKey(id), this);
        connect(s, &QShortcut::activated, this, [this, id] {
            if (QWidget* w = GetDlgItem(this, id); w && w->isVisible())
                onTransport(id);
        });
    }
    struct Media {
        Qt::Key key;
        int id;
    };
    for (Media m : {Media{Qt::Key_MediaPlay, kPlayId}, Media{Qt::Key_MediaPause, kPauseId},
                    Media{Qt::Key_MediaStop, kStopId}, Media{Qt::Key_MediaRecord, kRecordId},
                    Media{Qt::Key_MediaTogglePlayPause, 0}}) {
        auto* s = new QShortcut(QKeySequence(m.key), this);
        connect(s, &QShortcut::activated, this, [this, id = m.id] {
            // The toggle plays a stopped message and pauses (or resumes) a playing one.
            const int target = id ? id : (state_ == kStopped ? kPlayId : kPauseId);
            if (QWidget* w = GetDlgItem(this, target); w && w->isVisible())
                onTransport(target);
        });
    }
}

bool CPlayer::OnInitDialog() {
    switch (mode_) {
        case kModeView:
            initView();
            break;
        case kModePreview:
            initPreview();
            break;
        default:
            initCompose();
            break;
    }
    buildMenu();
    addShortcuts();

    for (std::size_t i = 0; i < kTransport.size(); ++i) {
        bitmaps_[i] = res::LoadTransportBitmap(kImages[i][0]);
        bitmaps_[i + 8] = res::LoadTransportBitmap(kImages[i][1]);
    }
    setButtons({true, true, true, true, true, true, true, true});

    startPlayer();
    if (mode_ == kModeCompose)
        startDraft();
    initVolume();
    mixer_ = std::make_unique<MuteControl>();
    mixer_->Init(&muteBox_);

    SetDlgItemText(this, kSubjectId, QString::fromStdString(record_.subject));
    SetDlgItemText(this, kFromId, QString::fromStdString(record_.senderName));
    SetDlgItemText(this, kMemoId, QString::fromStdString(record_.note).replace("\r\n", "\n"));
    return true;
}

void CPlayer::initView() {
    GetDlgItem(this, kRecordId)->hide();
    SetDlgItemText(this, kSentId, QString::fromStdString(record_.longDate));
    SetDlgItemText(this, kToId, QString::fromStdString(record_.toNames));
    SetDlgItemText(this, kCcId, QString::fromStdString(record_.ccNames));
    SetDlgItemText(this, kBccId, QString::fromStdString(record_.bccNames));
}

void CPlayer::initPreview() {
    GetDlgItem(this, kRecordId)->hide();
    for (int id :
         {kToId, kCcId, kBccId, kFromId, kSentId, kSubjectId, kMemoId, kToLabelId, kCcLabelId,
          kBccLabelId, kFromLabelId, kSentLabelId, kSubjectLabelId, kMemoLabelId})
        GetDlgItem(this, id)->hide();
    setWindowTitle(windowTitle() + QStringLiteral("-Preview"));
}

void CPlayer::initCompose() {
    CUtils utils;
    const DWORD transport = utils.GetSettingDword(setting::kTransport);
    const DWORD addressBook = utils.GetSettingDword(setting::kAddressBook);
    if ((transport == 3 || addressBook == 3) && owner_ && !owner_->MapiLoaded()) {
        if (!LoadMapiBinding(*owner_)) {
            CEventReport().ShowError("Could not load Mapi support");
            KORRIN_REPORT("debug");
        }
    }
    // The MAPI logon happens once per program run.
    if (owner_ && owner_->MapiLoaded() && owner_->MapiBinding() && !owner_->MapiStarted()) {
        owner_->MapiStarted() = true;
        owner_->MapiBinding()->StartTolvlink(kTolvlinkKey, this);
    }

    for (int id : {kFromId, kSentId, kFromLabelId, kSentLabelId})
        GetDlgItem(this, id)->hide();
    // The memo takes the room the two hidden fields leave.
    PlaceControl(GetDlgItem(this, kMemoLabelId), 4, 62, 32, 9);
    PlaceControl(GetDlgItem(this, kMemoId), 38, 60, 168, 66);
    // With the WAB the address book buttons take the labels' places.
    wab_ = std::make_unique<WabAddressBook>();
    if (wab_->OpenWab() != platform::S_OK) {
        wab_.reset();
    } else {
        for (int id : {kToLabelId, kCcLabelId, kBccLabelId})
            GetDlgItem(this, id)->hide();
        for (int id : {kToButtonId, kCcButtonId, kBccButtonId})
            GetDlgItem(this, id)->show();
    }
    for (int id : {kToId, kCcId, kBccId, kSubjectId})
        GetDlgItemAs<QLineEdit>(this, id)->setReadOnly(false);
    GetDlgItemAs<QPlainTextEdit>(this, kMemoId)->setReadOnly(false);

    if (kind_ == kKindReply) {
        const std::string& to = record_.senderAddress.find('@') != std::string::npos
                                    ? record_.senderAddress
                                    : record_.senderName;
        SetDlgItemText(this, kToId, QString::fromStdString(to));
    } else if (kind_ == kKindResend) {
        SetDlgItemText(this, kToId, QString::fromStdString(record_.toAddresses));
        SetDlgItemText(this, kCcId, QString::fromStdString(record_.ccAddresses));
    }
    convertToLocal(workingFile_, workingFile_);
}

// Converts source into the local format as target, through "<target>.tmp" that replaces
// target in one rename: a conversion that fails leaves both files as they were. 0 on
// success, 1 after a report.
int CPlayer::convertToLocal(const std::string& source, const std::string& target) {
    FormatChooser local(this);
    std::string details;
    if (local.GetFormat(kKorrinKey, details) != 0)
        KORRIN_REPORT("GetFormat failed");
    CWaitCursor wait;
    const std::string tmp = target + ".tmp";
    WaveFileInfo info;
    if (ConvertWaveFile(local, source, tmp, info) != 0) {
        platform::DeleteFile(tmp);
        KORRIN_REPORT("Convert failed");
        return 1;
    }
    if (std::rename(tmp.c_str(), target.c_str()) != 0) {
        platform::DeleteFile(tmp);
        KORRIN_REPORT("MoveFile failed");
        return 1;
    }
    return 0;
}

void CPlayer::startPlayer() {
    state_ = kStopped;
    pause_ = kRunning;
    lengthStale_ = false;
    changed_ = false;
    player_.Open(workingFile_);  // a file the device refuses is reported by the device
    showLength();
    setSliderRange();
    doBegin();
    SetTimer(kTimerId, kTimerMs);
}

void CPlayer::initVolume() {
    if (std::optional<int> v = ReadVolumeSlider(true)) {
        settingSlider_ = true;
        volumeSlider_->setRange(0, 10);
        volumeSlider_->setValue(*v);
        settingSlider_ = false;
    }
}

void CPlayer::beep() {
    ++beeps_;
    QApplication::beep();
}

bool CPlayer::buttonEnabled(int controlId) const {
    const int i = transportIndex(controlId);
    return i >= 0 && buttonEnabled_[static_cast<std::size_t>(i)];
}

void CPlayer::setButtons(const std::array<bool, 8>& enabled) {
    for (std::size_t i = 0; i < kTransport.size(); ++i) {
        buttonEnabled_[i] = enabled[i];
        if (auto* b = GetDlgItemAs<QPushButton>(this, kTransport[i])) {
            b->setIcon(QIcon(bitmaps_[enabled[i] ? i : i + 8]));
            // A disabled button stays clickable (it beeps); screen readers hear its state.
            b->setProperty("transportEnabled", enabled[i]);
        }
    }
}

void CPlayer::setButtonsByState() {
    switch (state_) {
        case kPlaying:
            setButtons({true, true, true, false, true, true, true, false});
            break;
        case kRecording:
            setButtons({true, false, false, false, false, false, false, false});
            break;
        default:
            setButtons({true, true, true, true, true, true, true, true});
            break;
    }
}

void CPlayer::enableMenuItems(bool on) {
    for (int id : {kPropertiesEdit, kPropertiesTransport})
        if (QAction* a = action(id))
            a->setEnabled(on);
}

void CPlayer::seekAndContinue() {
    player_.Seek(position_);
    if (state_ == kPlaying && pause_ == kRunning) {
        if (player_.Play() != 0) {
            enableMenuItems(true);
            state_ = kStopped;
        }
    }
}

void CPlayer::showLength() {
    const DWORD measured = player_.GetLength(position_);
    length_ = measured == 0xFFFFFFFF ? 0 : measured;
    SetDlgItemText(this, kLengthId, QString::fromStdString(formatSeconds(length_, "%.2f sec")));
}

void CPlayer::setSliderRange() {
    msPerTick_ = length_ * 0.04;
    settingSlider_ = true;
    positionSlider_->setRange(0, 25);
    settingSlider_ = false;
    positionSlider_->update();
}

void CPlayer::setSliderPosition(DWORD p) {
    // A message of length 0 has no ticks: the slider stays at its start.
    const int tick = msPerTick_ > 0 ? static_cast<int>(std::min(p / msPerTick_ + 0.5, 25.0)) : 0;
    settingSlider_ = true;
    positionSlider_->setValue(tick);
    settingSlider_ = false;
}

void CPlayer::setPositionText(DWORD p) {
    SetDlgItemText(this, kPositionTextId, QString::fromStdString(formatSeconds(p, "%.2f")));
}

void CPlayer::onTransport(int id) {
    const int i = transportIndex(id);
    if (i < 0 || !buttonEnabled_[static_cast<std::size_t>(i)]) {
        beep();
        return;
    }
    switch (id) {
        case kPlayId:
            doPlay();
            break;
        case kStopId:
            doStop();
            break;
        case kBeginId:
            doBegin();
            break;
        case kEndId:
            doEnd();
            break;
        case kReviewId:
            doReview();
            break;
        case kCueId:
            doCue();
            break;
        case kPauseId:
            doPause();
            break;
        case kRecordId:
            doRecord();
            break;
        default:
            break;
    }
    updatePictures();
}

void CPlayer::doPlay() {
    state_ = kPlaying;
    enableMenuItems(false);
    seekAndContinue();
    setButtonsByState();
}

void CPlayer::doStop() {
    const int old = state_;
    state_ = kStopped;
    enableMenuItems(true);
    player_.Stop();
    if (old == kRecording) {
        position_ = player_.GetPosition();
        if (lengthStale_) {
            lengthStale_ = false;
            length_ = player_.GetLength(position_);
            doEnd();
        }
        positionSlider_->show();
        GetDlgItem(this, kLengthId)->show();
        SetDlgItemText(this, kStatusId, QStringLiteral("0 sec"));
        showLength();
        setSliderRange();
        setSliderPosition(position_);
        saveDraft();
    }
    setButtonsByState();
}

void CPlayer::doBegin() {
    doStop();
    position_ = 0;
    seekAndContinue();
    setSliderPosition(0);
    setPositionText(0);
}

void CPlayer::doEnd() {
    doStop();
    position_ = length_;
    seekAndContinue();
    settingSlider_ = true;
    positionSlider_->setValue(positionSlider_->maximum());
    settingSlider_ = false;
    setPositionText(length_);
}

void CPlayer::doReview() {
    const DWORD step = static_cast<DWORD>(length_ * 0.1 + 0.5);
    const DWORD at = player_.GetPosition();
    position_ = at > step ? at - step : 0;
    setSliderPosition(position_);
    setPositionText(position_);
    seekAndContinue();
}

void CPlayer::doCue() {
    const DWORD step = static_cast<DWORD>(length_ * 0.1 + 0.5);
    const DWORD at = player_.GetPosition();
    position_ = std::min<DWORD>(at + step, length_);
    setSliderPosition(position_);
    setPositionText(position_);
    seekAndContinue();
}

void CPlayer::doPause() {
    if (pause_ == kPaused) {
        pause_ = kRunning;
        seekAndContinue();
        SetDlgItemText(this, kStatusId, QStringLiteral("0 sec"));
    } else {
        pause_ = kPaused;
        player_.Stop();
        SetDlgItemText(this, kStatusId, QStringLiteral("Paused..."));
    }
}

void CPlayer::doRecord() {
    positionSlider_->hide();
    GetDlgItem(this, kLengthId)->hide();
    SetDlgItemText(this, kStatusId, QStringLiteral("Recording.Elapsed Time:"));
    state_ = kRecording;
    enableMenuItems(false);
    recordStart_ = player_.GetPosition();
    if (pause_ == kRunning) {
        // A paused window records nothing, so it changes nothing either.
        if (player_.Record(position_) != 0) {
            enableMenuItems(true);
            state_ = kStopped;
            positionSlider_->show();
            GetDlgItem(this, kLengthId)->show();
            SetDlgItemText(this, kStatusId, QStringLiteral("0 sec"));
        } else {
            changed_ = true;
            // The draft is renewed every 10 s from here, the first recording's included.
            sinceDraft_.start();
        }
    }
    setButtonsByState();
}

void CPlayer::OnTimer(int id) {
    if (id != kTimerId)
        return;
    if (!player_.IsOpen())
        return;
    position_ = player_.GetPosition();
    setSliderPosition(position_);
    const DWORD shown =
        state_ == kRecording && position_ >= recordStart_ ? position_ - recordStart_ : position_;
    const QString text = QString::fromStdString(formatSeconds(shown, "%.2f"));
    // Written only when it differs, so the label does not flicker.
    if (GetDlgItemText(this, kPositionTextId).left(80) != text)
        SetDlgItemText(this, kPositionTextId, text);
    updatePictures();
    if (state_ == kRecording && sinceDraft_.isValid() && sinceDraft_.elapsed() >= kDraftEveryMs)
        saveDraft();
}

void CPlayer::updatePictures() {
    std::vector<std::uint8_t> peaks;
    std::uint8_t level = 0;
    double where = 0;
    if (player_.IsOpen() &&
        mciGetLevels(player_.DeviceId(), static_cast<std::size_t>(std::max(1, waveView_->width())),
                     peaks, level, where) == 0) {
        waveView_->SetPeaks(std::move(peaks), where);
        levelMeter_->SetLevel(level);
    } else {
        waveView_->SetPeaks({}, 0);
        levelMeter_->SetLevel(0);
    }
}

void CPlayer::onPositionSlider(int value) {
    if (state_ == kRecording) {
        beep();
        return;
    }
    position_ = static_cast<DWORD>(msPerTick_ * value + 0.5);
    seekAndContinue();
    updatePictures();
}

void CPlayer::onVolumeSlider(int value) {
    SetVolumeFromSlider(value);
}

LRESULT CPlayer::OnMessage(unsigned msg, WPARAM wParam, LPARAM lParam) {
    // The store request of Send; it answers with Store's result.
    if (msg == WM_STORE_MESSAGE)
        return sending_ ? sending_->Store() : send::kFailed;
    if (msg == MM_MIXM_CONTROL_CHANGE) {
        if (std::optional<int> v = ReadVolumeSlider(false)) {
            settingSlider_ = true;
            volumeSlider_->setValue(*v);
            settingSlider_ = false;
        }
        if (mixer_)
            mixer_->Refresh();
        return 0;
    }
    return CDialog::OnMessage(msg, wParam, lParam);
}

void CPlayer::OnCommand(int id) {
    if (transportIndex(id) >= 0) {
        onTransport(id);
        return;
    }
    // While recording only Stop may act: anything else would leave the device recording
    // behind a window that no longer knows it.
    if (state_ == kRecording) {
        beep();
        return;
    }
    switch (id) {
        case kToButtonId:
        case kCcButtonId:
        case kBccButtonId:
            onAddressBook();
            return;
        case kCut:
            cutMessage();
            return;
        case kAppendBegin:
            onTransport(kBeginId);
            return;
        case kAppendEnd:
            onTransport(kEndId);
            return;
        case kImport:
            importWave();
            return;
        case kSaveAs:
            saveAs();
            return;
        case kPropertiesEdit:
            properties(false);
            return;
        case kPropertiesTransport:
            properties(true);
            return;
        case kSend:
            send();
            return;
        case kClose:
            closeFromMenu();
            return;
        case kReply:
            EndDialog(kKindReply);
            return;
        case kForward:
            EndDialog(kKindForward);
            return;
        case kResend:
            EndDialog(kKindResend);
            return;
        case kReplyAll:
            CEventReport().ShowError("This feature not yet implemented");
            return;
        case kHelp:
        case kAbout:
        case kQuality:
        case kAdvancedFormats:
            RunSharedCommand(id, this);
            return;
        case kConvertVoiceFile: {
            CConvertDlg convert(*this, this);
            convert.DoModal();
            return;
        }
        case kMixer:
        case kPreferences:
            if (owner_)
                owner_->OnOwnerCommand(id);
            return;
        default:
            CDialog::OnCommand(id);
            return;
    }
}

void CPlayer::onAddressBook() {
    if (CUtils().GetSettingDword(setting::kAddressBook) == 3) {
        if (!owner_ || !owner_->MapiLoaded() || !owner_->MapiBinding()) {
            KORRIN_REPORT("Mapi Support Not Loaded");
            return;
        }
        // The library cuts the texts in place: it gets copies, whole.
        CTolvlinkBinding& mapi = *owner_->MapiBinding();
        std::string texts[3];
        const int ids[3] = {kToId, kCcId, kBccId};
        for (int i = 0; i < 3; ++i)
            texts[i] = GetDlgItemText(this, ids[i]).toStdString();
        mapi.FixMapiAdrList(texts[0].data(), texts[1].data(), texts[2].data());
        mapi.GetMapiAddress(this, kToId, kCcId, kBccId);
        return;
    }
    if (!wab_)
        return;
    // The fields are sent as they read: whole, with each chosen address.
    ADRLIST* list = nullptr;
    if (!wab_->BuildAdrList(this, GetDlgItemText(this, kToId).toStdString(),
                            GetDlgItemText(this, kCcId).toStdString(),
                            GetDlgItemText(this, kBccId).toStdString(), &list))
        return;
    wab_->FreeAdrList(wab_->CurrentList());
    wab_->CurrentList() = list;
    if (!wab_->ShowAddressDialog(this, &wab_->CurrentList()))
        return;
    const int fields[] = {kToId, kCcId, kBccId};
    for (ULONG type = MAPI_TO; type <= MAPI_BCC; ++type)
        SetDlgItemText(
            this, fields[type - MAPI_TO],
            QString::fromStdString(WabAddressBook::FieldText(wab_->CurrentList(), type)));
}

void CPlayer::cutMessage() {
    if (!buttonEnabled(kBeginId)) {
        beep();
        return;
    }
    doBegin();
    player_.Delete();
    showLength();
    setSliderRange();
    changed_ = true;
    lengthStale_ = true;
    setButtons({false, false, false, false, false, false, false, true});
    updatePictures();
    saveDraft();
}

bool CPlayer::askToDropRecording(const char* text) {
    if (!changed_)
        return true;
    return AppMessageBox(this, text, kCaption, MB_YESNO) == IDYES;
}

void CPlayer::importWave() {
    FileDialogRequest request;
    request.save = false;
    request.title = "Open Wave File";
    request.filterName = "Wave files (*.WAV)";
    request.patterns = "*.wav";
    request.defaultExtension = "wav";
    request.initialName = CUtils().GetSettingString(setting::kOpenWavePath);
    const std::optional<std::string> answer = GetFileName(this, request);
    if (!answer)
        return;
    const std::string& chosen = *answer;
    if (!askToDropRecording(kDropOnImport))
        return;
    // The chosen file is only read: its audio, in the local format, becomes the working
    // file's, which is what a Send takes.
    const DWORD at = position_;
    player_.Close();
    if (convertToLocal(chosen, workingFile_) != 0) {
        if (player_.Open(workingFile_) == 0)
            player_.Seek(std::min(at, length_));
        return;
    }
    if (player_.Open(workingFile_) != 0) {
        CEventReport().ShowError("Failed to open wav file. Is it a valid wave file?");
        return;
    }
    showLength();
    setSliderRange();
    doBegin();
    changed_ = true;
    lengthStale_ = false;
    CUtils().SetRegistryString(kKorrinKey, setting::kOpenWavePath, chosen);
    updatePictures();
    saveDraft();
}

void CPlayer::saveAs() {
    FileDialogRequest request;
    request.save = true;
    request.title = "Save Voice File As";
    request.filterName = "Wave files (*.WAV)";
    request.patterns = "*.wav";
    request.defaultExtension = "wav";
    request.initialName = CUtils().GetSettingString(setting::kSaveAsPath);
    const std::optional<std::string> chosen = GetFileName(this, request);
    if (chosen && player_.Save(*chosen) == 0)
        CUtils().SetRegistryString(kKorrinKey, setting::kSaveAsPath, *chosen);
}

// Writes the player's content into the working file. The device writes a new file beside it
// and renames it over the old one, so a failed save (a full disk) leaves the old file and the
// open player as they were: false then, after the device's report. On success the player is
// closed; the caller opens it again.
bool CPlayer::saveRecording() {
    if (player_.Save(workingFile_) != 0)
        return false;
    player_.Close();
    return true;
}

bool CPlayer::ReleaseWorkingFile(DWORD* position) {
    if (state_ != kStopped)
        doStop();
    *position = player_.IsOpen() ? player_.GetPosition() : position_;
    // An unchanged file is not written again: a received message keeps its own encoding.
    if (changed_)
        return saveRecording();
    player_.Close();
    return true;
}

void CPlayer::ReopenWorkingFile(DWORD at) {
    if (player_.Open(workingFile_) != 0) {
        CEventReport().ShowError("Failed to open wav file. Is it a valid wave file?");
        return;
    }
    showLength();
    setSliderRange();
    position_ = std::min(at, length_);
    player_.Seek(position_);
    setSliderPosition(position_);
    setPositionText(position_);
    setButtonsByState();
    updatePictures();
}

void CPlayer::properties(bool transport) {
    DWORD at = 0;
    if (!ReleaseWorkingFile(&at))
        return;  // the device is still open on the recording
    if (transport)
        showTransportProperties();
    else
        ShowFileProperties(workingFile_, false, this);
    ReopenWorkingFile(at);
}

// The sheet, with its Preview page, for a copy of the message in the transport format; the
// copy goes when the sheet closes. The working file is only read.
void CPlayer::showTransportProperties() {
    std::optional<CWaitCursor> wait(std::in_place);
    DWORD number = 0;
    CUtils().NextFileID(number);
    const std::string temp = GetTempPath();
    if (!DirectoryExists(temp))
        KORRIN_REPORT("No temp path exists");
    const std::string copy = temp + "V" + std::to_string(number) + "P.wav";
    if (!CopyFile(workingFile_, copy, false)) {
        KORRIN_REPORT("CopyFile failed");
        return;  // nothing to show
    }
    FormatChooser transport(this);
    std::string details;
    if (transport.GetFormatTransport(kKorrinKey, details) != 0)
        KORRIN_REPORT("GetFormatTransport failed");
    if (ConvertFileInPlace(transport, copy) != 0)
        KORRIN_REPORT("Could not convert for transport.");
    // The Preview page plays the copy as a recipient hears it, in a window of its own.
    SetPreviewOpener([this](QWidget*, const std::string& path) {
        CMessageTrailer empty;
        CPlayer preview(owner_, path, empty, kModePreview, kKindOpen);
        preview.DoModal();
    });
    wait.reset();
    ShowFileProperties(copy, true, this);
    SetPreviewOpener(nullptr);
    if (!platform::DeleteFile(copy))
        KORRIN_REPORT("DeleteFile failed");
}

namespace {

// Send's window side: the AOL save dialog and showing the owner again.
class PlayerSendWindow : public ISendWindow {
  public:
    PlayerSendWindow(QWidget* window, PlayerOwner* owner) : window_(window), owner_(owner) {}
    std::optional<std::string> AskSaveFileName(const FileDialogRequest& request) override {
        return GetFileName(window_, request);
    }
    void ShowOwner() override {
        if (owner_ && owner_->OwnerWindow())
            owner_->OwnerWindow()->show();
    }
    void ShowZipHint() override {
        CZipHintDlg hint(window_);
        hint.DoModal();
    }

  private:
    QWidget* window_;
    PlayerOwner* owner_;
};

}  // namespace

SendEnvelope CPlayer::envelope() const {
    SendEnvelope e;
    e.to = GetDlgItemText(this, kToId).toStdString();
    e.cc = GetDlgItemText(this, kCcId).toStdString();
    e.bcc = GetDlgItemText(this, kBccId).toStdString();
    e.subject = GetDlgItemText(this, kSubjectId).toStdString();
    e.memo = GetDlgItemText(this, kMemoId).toStdString();
    return e;
}

// All or nothing: the checks first, then the recording saved into the working file, the
// message built from a converted copy on a worker behind the progress window, and filed by
// the store request. On any failure the player is opened again on the working file, which
// still holds the recording, changed stays as it was and the window stays open.
void CPlayer::send() {
    PlayerSendWindow window(this, owner_);
    CSendProgressDlg progress(this);
    // Boxes about the message belong to the progress window while it runs (it shows the
    // conversion's progress in its item 102), and to the composer before.
    CSendJob job(&progress, workingFile_, envelope(), nullptr, &window);
    job.SetMapiBinding(owner_ && owner_->MapiLoaded() ? owner_->MapiBinding().get() : nullptr);
    const DWORD at = player_.IsOpen() ? player_.GetPosition() : position_;
    const DWORD measured = player_.IsOpen() ? player_.GetLength(at) : 0;
    if (job.Check(measured == 0xFFFFFFFF ? 0 : measured) != send::kDone)
        return;
    CWaitCursor wait;
    if (changed_) {
        if (SaveRecording(player_, workingFile_) != 0)
            return;  // the player is still open on the recording
    } else {
        player_.Close();
    }
    sending_ = &job;
    int result = progress.Run([&job](const SendProgress& p) { return job.Build(p); });
    if (result == send::kDone)
        result = static_cast<int>(SendMessage(this, WM_STORE_MESSAGE, 0, job.transport()));
    sending_ = nullptr;
    if (result == send::kDone || result == send::kDiscarded) {
        if (owner_ && job.transport() == kTransportSmtp)
            owner_->MarkOutboxOutOfDate();
        player_.Close();
        dropDraft();
        EndDialog(0);
        return;
    }
    // The recording is still the working file's: the user may try again.
    ReopenWorkingFile(at);
}

void CPlayer::closeFromMenu() {
    if (!askToDropRecording(kDropOnClose))
        return;
    dropDraft();
    EndDialog(IDOK);
}

void CPlayer::OnCancel() {
    if (state_ == kRecording) {
        beep();
        return;
    }
    if (!askToDropRecording(kDropOnClose))
        return;
    dropDraft();
    EndDialog(IDCANCEL);
}

// The draft: a message file in InstallDir/DRAFTS, locked while this window lives, renewed
// after every Stop of a recording, Cut and Import, every 10 s while recording and on SIGTERM,
// and removed when the message is sent or dropped. A window whose program dies leaves it
// unlocked for the next start to offer.
void CPlayer::ResumeDraft(std::unique_ptr<CDraft> draft) {
    draft_ = std::move(draft);
}

void CPlayer::startDraft() {
    if (draft_) {
        changed_ = true;  // a resumed draft
    } else {
        if (!haveInstallDir())
            return;
        auto draft = std::make_unique<CDraft>();
        if (draft->Create() != 0)  // reported
            return;
        draft_ = std::move(draft);
    }
    if (g_termPipe[0] < 0 && ::pipe2(g_termPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_composer = this;
    auto* notifier = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] { CPlayer::onTerminate(0); });
    std::signal(SIGTERM, &noteTerminate);
}

std::string CPlayer::draftPath() const {
    return draft_ ? draft_->path() : std::string();
}

void CPlayer::saveDraft() {
    if (!draft_ || !draft_->IsHeld() || !player_.IsOpen())
        return;
    sinceDraft_.start();
    if (state_ != kRecording) {
        draft_->Replace(player_, envelope());
        return;
    }
    // A recording goes on: the device's audio so far is taken without stopping it.
    std::vector<std::uint8_t> wave;
    if (mciSnapshotWave(player_.DeviceId(), wave) != 0)
        return;
    const std::string snapshot = draft_->path() + ".part.wav";
    if (ReplaceFile(snapshot, wave))
        draft_->ReplaceFromFile(snapshot, envelope());
    platform::DeleteFile(snapshot);
}

void CPlayer::dropDraft() {
    if (draft_)
        draft_->Remove();
}

// SIGTERM (a session ending, a kill): the draft is renewed with what was recorded so far,
// then the program ends as the signal would have ended it.
void CPlayer::onTerminate(int) {
    char byte;
    while (::read(g_termPipe[0], &byte, 1) == 1) {
    }
    if (g_composer)
        g_composer->saveDraft();
    std::signal(SIGTERM, SIG_DFL);
    std::raise(SIGTERM);
}

void CPlayer::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (isRunning())
        OnCancel();
}

}  // namespace korrin
