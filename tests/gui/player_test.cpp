// The message window driven offscreen as a person would, by its control numbers: recording
// from a spoken wave file through the virtual sound card, the transport's state table and its
// edge cases, importing and saving through scripted file dialogs, the questions before a
// recording is dropped, what goes to the owner, and the names a screen reader hears.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QSlider>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <sstream>

#include "helpers/GuiSupport.h"
#include "helpers/OpenerRecorder.h"
#include "helpers/PlayerOwnerStandIn.h"
#include "helpers/SmtpServer.h"
#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "korrin/app/Drafts.h"
#include "korrin/ui/FileProp.h"
#include "korrin/ui/FormatChoose.h"
#include "korrin/ui/TransportDlg.h"
#include "korrin/ui/WaveView.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/PropertySheet.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QString Text(QWidget* w, int id) {
    return GetDlgItemText(w, id);
}

bool Visible(QWidget* w, int id) {
    QWidget* c = GetDlgItem(w, id);
    return c && c->isVisible();
}

// The enabled flags of the eight transport buttons, in the table's order.
std::string Buttons(const CPlayer& p) {
    std::string s;
    for (int id : CPlayer::kTransport)
        s += p.buttonEnabled(id) ? '1' : '0';
    return s;
}

// The Escape key, as the keyboard gives it to the window.
void Esc(QWidget* w) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

double Seconds(const QString& lengthText) {
    return lengthText.section(QLatin1Char(' '), 0, 0).toDouble();
}

// Texts of the message log's lines of one kind.
std::vector<std::string> Logged(const std::string& log, const std::string& kind,
                                const std::string& field = "text") {
    std::vector<std::string> out;
    for (const std::string& l : ReadLines(log))
        if (JsonField(l, "kind") == kind)
            out.push_back(JsonField(l, field));
    return out;
}

bool Contains(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& t : texts)
        if (t.find(part) != std::string::npos)
            return true;
    return false;
}

class PlayerTest : public RegistryTest {
  protected:
    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        InstallAudioWindows();
    }
    std::string log() const { return dir_.file("messages.log"); }
    // A PCM file of ms milliseconds at 8,000 Hz, 8 bit, mono, a tone of the given loudness.
    std::string Tone(const std::string& name, unsigned ms, std::uint8_t value = 200) {
        const std::string path = dir_.file(name);
        WriteWave(path, PcmFormat{1, 8000, 8}, SegmentAudio(PcmFormat{1, 8000, 8}, {{ms, value}}));
        return path;
    }
    void Answers(const std::string& list) { answers_.emplace("KORRIN_MESSAGE_ANSWERS", list); }
    void FileAnswers(const std::string& lines) {
        WriteFile(dir_.file("files.txt"), lines);
        files_.emplace("KORRIN_FILE_ANSWERS", dir_.file("files.txt"));
    }
    // An installation that can send: InstallDir with its folders made on demand, and the
    // sender's SMTP settings.
    void Installed() {
        {
            RegKeyGuard key;
            ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kInstallKey, key.out()), ERROR_SUCCESS);
        }
        ASSERT_EQ(::mkdir(install().c_str(), 0700), 0);
        CUtils u;
        ASSERT_EQ(u.SetRegistryString(kInstallKey, kInstallDirValue, install()), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kName, "Ann Example"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kEmailAddress, "ann@example.org"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kSmtpHost, "127.0.0.1:1"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kAccount, "ann"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kPassword, "secret"), 1);
    }
    std::string install() const { return dir_.file("install"); }
    std::vector<std::string> Outbox() const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(install() + "/OUTBOX", ec))
            if (e.path().extension() == ".kx0" || e.path().extension() == ".kx1")
                out.push_back(e.path().string());
        return out;
    }
    RunResult Ctl(const std::vector<std::string>& args) {
        std::vector<std::string> argv{BuildDir() + "/korrinctl"};
        argv.insert(argv.end(), args.begin(), args.end());
        return korrin::test::Run(argv, {{"KORRIN_MESSAGE_LOG", dir_.file("ctl.log")}});
    }
    void SetDword(const char* name, DWORD v) {
        ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, name, v), 1);
    }

    TempDir tmp_;
    ScopedEnv tmpdir_{"TMPDIR", tmp_.path()};
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    ScopedEnv mixer_{"KORRIN_MIXER", "virtual"};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("messages.log")};
    std::optional<ScopedEnv> answers_{std::in_place, "KORRIN_MESSAGE_ANSWERS", ""};
    std::optional<ScopedEnv> files_;
    std::optional<ScopedEnv> capture_;
    StandInOwner owner_;
};

// The road of a new message through the window: New, Record 3 s from speech, Stop, the
// envelope typed, played back, saved as a wave file, Esc refused after the question, Send
// into the Outbox; the filed message read back, decoded by sox and delivered to a real SMTP
// server.
TEST_F(PlayerTest, NewMessageRecordedFromSpeechIsSentIntoTheOutboxAndDelivered) {
    Installed();
    const std::string voice = dir_.file("voice.wav");
    RunResult spoken =
        korrin::test::Run({"/usr/bin/espeak-ng", "-w", voice,
                           "This is a voice message recorded through the virtual sound card, "
                           "long enough to fill three seconds and a little more."});
    ASSERT_EQ(spoken.exitCode, 0) << spoken.err;
    capture_.emplace("KORRIN_AUDIO_CAPTURE", voice);
    // Esc's question: No.
    Answers("No");
    FileAnswers(dir_.file("saved.wav") + "\n");
    const char* shots = std::getenv("KORRIN_SCREENSHOT_DIR");

    bool ran = false;
    const int result = owner_.NewMessage([&](CPlayer& p) {
        ran = true;
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "0.00 sec");
        EXPECT_EQ(Text(&p, CPlayer::kPositionTextId), "0.00");
        EXPECT_FALSE(Visible(&p, CPlayer::kFromId));
        EXPECT_FALSE(Visible(&p, CPlayer::kSentId));
        EXPECT_TRUE(Visible(&p, CPlayer::kToButtonId));  // the WAB answers
        EXPECT_FALSE(Visible(&p, CPlayer::kToLabelId));
        EXPECT_TRUE(Visible(&p, CPlayer::kRecordId));

        Click(&p, CPlayer::kRecordId);
        QElapsedTimer since;
        since.start();
        EXPECT_EQ(p.state(), kRecording);
        EXPECT_EQ(Buttons(p), "10000000");
        EXPECT_EQ(Text(&p, CPlayer::kStatusId), "Recording.Elapsed Time:");
        EXPECT_FALSE(Visible(&p, CPlayer::kPositionSliderId));
        EXPECT_FALSE(p.action(CPlayer::kPropertiesEdit)->isEnabled());
        Pump(1500);
        EXPECT_GE(Text(&p, CPlayer::kPositionTextId).toDouble(), 1.0);
        auto* meter = dynamic_cast<CLevelMeter*>(GetDlgItem(&p, CPlayer::kLevelMeterId));
        EXPECT_GT(meter->level(), 0) << "speech shows on the level meter";
        if (shots)
            p.grab().save(QString::fromUtf8(shots) + "/compose-recording.png");

        // Nothing but Stop acts while recording.
        const int beeps = p.beeps();
        p.OnCommand(CPlayer::kCut);
        p.OnCommand(CPlayer::kSend);
        Click(&p, CPlayer::kPlayId);
        Esc(&p);
        p.close();  // the close box
        EXPECT_EQ(p.beeps(), beeps + 5);
        EXPECT_EQ(p.state(), kRecording);
        EXPECT_TRUE(p.isRunning());

        Pump(static_cast<int>(3000 - since.elapsed()));
        Click(&p, CPlayer::kStopId);
        EXPECT_EQ(p.state(), kStopped);
        EXPECT_EQ(Buttons(p), "11111111");
        EXPECT_TRUE(p.changed());
        EXPECT_TRUE(Visible(&p, CPlayer::kPositionSliderId));
        EXPECT_EQ(Text(&p, CPlayer::kStatusId), "0 sec");
        const double seconds = Seconds(Text(&p, CPlayer::kLengthId));
        EXPECT_NEAR(seconds, 3.0, 0.25) << Text(&p, CPlayer::kLengthId).toStdString();
        EXPECT_TRUE(Text(&p, CPlayer::kLengthId).endsWith(" sec"));
        Pump(300);
        auto* wave = dynamic_cast<CWaveView*>(GetDlgItem(&p, CPlayer::kWaveViewId));
        ASSERT_FALSE(wave->peaks().empty());
        EXPECT_GT(*std::max_element(wave->peaks().begin(), wave->peaks().end()), 20);

        GetDlgItemAs<QLineEdit>(&p, CPlayer::kToId)->insert("ann@example.org");
        GetDlgItemAs<QLineEdit>(&p, CPlayer::kSubjectId)->insert("Hello");
        SetDlgItemText(&p, CPlayer::kMemoId, "First line\nSecond line");

        Click(&p, CPlayer::kBeginId);
        Click(&p, CPlayer::kPlayId);
        EXPECT_EQ(p.state(), kPlaying);
        EXPECT_EQ(Buttons(p), "11101110");
        Pump(600);
        EXPECT_GT(p.position(), 200u);
        Click(&p, CPlayer::kStopId);

        p.OnCommand(CPlayer::kSaveAs);
        const WaveImage saved = ReadWave(dir_.file("saved.wav"));
        EXPECT_NEAR(saved.data.size() / 8000.0, seconds, 0.01);

        Esc(&p);  // asks: No keeps the recording
        EXPECT_TRUE(p.isRunning());
        if (shots)
            p.grab().save(QString::fromUtf8(shots) + "/compose-stopped.png");
        p.OnCommand(CPlayer::kSend);
    });
    ASSERT_TRUE(ran);
    EXPECT_EQ(result, 0) << "sent";
    EXPECT_TRUE(owner_.outboxOutOfDate);
    EXPECT_EQ(Logged(log(), "messagebox"),
              (std::vector<std::string>{"You have recorded a new message.  If you proceed you "
                                        "will loose this message.  Do you want to proceed?"}));
    EXPECT_EQ(Logged(log(), "report"), std::vector<std::string>{});

    const auto filed = Outbox();
    ASSERT_EQ(filed.size(), 1u);
    const std::string name = std::filesystem::path(filed[0]).filename().string();
    EXPECT_EQ(name.rfind("KX", 0), 0u);
    EXPECT_EQ(name.substr(name.size() - 5), "O.kx0");
    RunResult show = Ctl({"show", filed[0]});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    for (const char* part : {"\"subject\": \"Hello\"", "\"toAddresses\": \"ann@example.org\"",
                             "\"senderName\": \"Ann Example\"", "First line\\r\\nSecond line"})
        EXPECT_NE(show.out.find(part), std::string::npos) << part << "\n" << show.out;
    // The payload is GSM that sox decodes, about as long as what was recorded.
    const std::string bytes = ReadFile(filed[0]);
    const auto trailer =
        LoadLE32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 8);
    WriteFile(dir_.file("payload.wav"), bytes.substr(0, bytes.size() - 8 - trailer));
    RunResult info = korrin::test::Run({"/usr/bin/soxi", dir_.file("payload.wav")});
    EXPECT_NE(info.out.find("GSM"), std::string::npos) << info.out << info.err;
    RunResult seconds = korrin::test::Run({"/usr/bin/soxi", "-D", dir_.file("payload.wav")});
    EXPECT_NEAR(std::atof(seconds.out.c_str()), 3.0, 0.3) << seconds.out;

    const std::string received = dir_.file("received");
    ASSERT_EQ(::mkdir(received.c_str(), 0700), 0);
    SmtpServer server(received);
    ASSERT_GT(server.port(), 0);
    ASSERT_EQ(CUtils().SetRegistryString(kKorrinKey, setting::kSmtpHost,
                                         "127.0.0.1:" + std::to_string(server.port())),
              1);
    RunResult sent = Ctl({"outbox", "send"});
    EXPECT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_TRUE(Outbox().empty());
    EXPECT_NE(ReadFile(received + "/mail1.json").find("ann@example.org"), std::string::npos);
}

// The window's Send and `korrinctl compose` make one message of one spoken wave file: the same
// audio bytes and the same envelope, but for the date and the file's number.
TEST_F(PlayerTest, WindowSendAndComposeGiveTheSameAudioAndEnvelope) {
    Installed();
    const std::string voice = dir_.file("voice.wav");
    RunResult spoken = korrin::test::Run(
        {"/usr/bin/espeak-ng", "-w", voice, "The same words, sent twice by two roads."});
    ASSERT_EQ(spoken.exitCode, 0) << spoken.err;
    FileAnswers(voice + "\n");
    const int result = owner_.NewMessage([&](CPlayer& p) {
        p.OnCommand(CPlayer::kImport);
        SetDlgItemText(&p, CPlayer::kToId, "bob@example.org");
        SetDlgItemText(&p, CPlayer::kCcId, "cy@example.org");
        SetDlgItemText(&p, CPlayer::kSubjectId, "Twice");
        SetDlgItemText(&p, CPlayer::kMemoId, "line one\nline two");
        p.OnCommand(CPlayer::kSend);
    });
    ASSERT_EQ(result, 0);
    ASSERT_EQ(Outbox().size(), 1u);
    const std::string byWindow = Outbox()[0];
    RunResult composed =
        Ctl({"compose", "--to", "bob@example.org", "--cc", "cy@example.org", "--subject", "Twice",
             "--note", "line one\nline two", "--wave", voice});
    ASSERT_EQ(composed.exitCode, 0) << composed.err;
    const std::string byCompose = composed.out.substr(0, composed.out.find('\n'));
    ASSERT_NE(byCompose, byWindow);

    auto payload = [](const std::string& path) {
        const std::string bytes = ReadFile(path);
        const auto trailer =
            LoadLE32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 8);
        return bytes.substr(0, bytes.size() - 8 - trailer);
    };
    const std::string audio = payload(byWindow);
    EXPECT_GT(audio.size(), 2000u);
    EXPECT_TRUE(audio == payload(byCompose)) << "the audio differs";
    // The envelope as `korrinctl show` reads it, without the file, its date and the trailer's
    // length (the date texts vary in length).
    auto envelope = [&](const std::string& path) {
        RunResult show = Ctl({"show", path});
        EXPECT_EQ(show.exitCode, 0) << show.err;
        std::string kept;
        std::istringstream lines(show.out);
        for (std::string line; std::getline(lines, line);) {
            bool varies = false;
            for (const char* name :
                 {"\"file\"", "\"length\"", "\"date\"", "\"longDate\"", "\"shortDate\""})
                varies = varies || line.find(name) != std::string::npos;
            if (!varies)
                kept += line + "\n";
        }
        return kept;
    };
    const std::string expected = envelope(byWindow);
    EXPECT_NE(expected.find("\"note\": \"line one\\r\\nline two\""), std::string::npos) << expected;
    EXPECT_NE(expected.find("\"ccAddresses\": \"cy@example.org\""), std::string::npos);
    EXPECT_EQ(envelope(byCompose), expected);
}

// A fault on the way (a plain file where the Outbox folder belongs): Send fails plainly, the
// window stays open on the whole recording, and Send works once the fault is gone.
TEST_F(PlayerTest, SendThatCannotFileKeepsTheRecordingAndWorksOnceTheFaultIsGone) {
    Installed();
    WriteFile(install() + "/OUTBOX", "in the way");
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 3000, 250));
    const int result = owner_.NewMessage([&](CPlayer& p) {
        Click(&p, CPlayer::kRecordId);
        Pump(800);
        Click(&p, CPlayer::kStopId);
        const DWORD length = p.length();
        SetDlgItemText(&p, CPlayer::kToId, "bob@example.org");
        p.OnCommand(CPlayer::kSend);
        EXPECT_TRUE(p.isRunning());
        EXPECT_TRUE(p.changed());
        EXPECT_TRUE(p.player().IsOpen());
        EXPECT_EQ(p.length(), length);
        EXPECT_NEAR(double(ReadWave(p.workingFile()).data.size()), length * 8.0, 8.0);
        EXPECT_EQ(ReadFile(install() + "/OUTBOX"), "in the way");
        Click(&p, CPlayer::kPlayId);
        EXPECT_EQ(p.state(), kPlaying);
        Click(&p, CPlayer::kStopId);

        std::filesystem::remove(install() + "/OUTBOX");
        p.OnCommand(CPlayer::kSend);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Outbox().size(), 1u);
    EXPECT_FALSE(Logged(log(), "report").empty()) << "the failed filing was reported";
}

TEST_F(PlayerTest, TransportButtonsFollowTheStateTable) {
    const std::string file = Tone("ten.wav", 10000);
    CMessageTrailer record;
    record.toNames = "Ann";
    record.longDate = "Tuesday, March 2, 1999 4:05 PM";
    record.senderName = "Bob";
    const int result = owner_.Run(file, record, kModeView, kKindOpen, [&](CPlayer& p) {
        EXPECT_FALSE(Visible(&p, CPlayer::kRecordId));
        EXPECT_EQ(Text(&p, CPlayer::kSentId), "Tuesday, March 2, 1999 4:05 PM");
        EXPECT_EQ(Text(&p, CPlayer::kFromId), "Bob");
        EXPECT_TRUE(GetDlgItemAs<QLineEdit>(&p, CPlayer::kToId)->isReadOnly());
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "10.00 sec");
        EXPECT_DOUBLE_EQ(p.msPerTick(), 400.0);
        EXPECT_EQ(Buttons(p), "11111111");

        Click(&p, CPlayer::kPlayId);
        EXPECT_EQ(p.state(), kPlaying);
        EXPECT_EQ(Buttons(p), "11101110");
        EXPECT_FALSE(p.action(CPlayer::kPropertiesEdit)->isEnabled());
        Click(&p, CPlayer::kPlayId);  // disabled: a beep, nothing else
        EXPECT_EQ(p.beeps(), 1);
        EXPECT_EQ(p.state(), kPlaying);

        // Review before a tenth of the length goes to 0.
        Pump(300);
        Click(&p, CPlayer::kReviewId);
        EXPECT_EQ(p.position(), 0u);
        EXPECT_EQ(p.state(), kPlaying);
        // Cue moves a tenth on and keeps playing.
        Click(&p, CPlayer::kCueId);
        EXPECT_GE(p.position(), 1000u);
        EXPECT_LT(p.position(), 1500u);
        Pump(400);
        EXPECT_GT(p.player().GetPosition(), 1100u) << "still playing after Cue";

        // End stops at the length; Cue there stays at the length.
        Click(&p, CPlayer::kEndId);
        EXPECT_EQ(p.state(), kStopped);
        EXPECT_EQ(Text(&p, CPlayer::kPositionTextId), "10.00");
        EXPECT_EQ(GetDlgItemAs<QSlider>(&p, CPlayer::kPositionSliderId)->value(), 25);
        Click(&p, CPlayer::kCueId);
        EXPECT_EQ(p.position(), 10000u);

        // Play while paused: Playing without sound; Pause again starts it from there.
        Click(&p, CPlayer::kBeginId);
        EXPECT_EQ(Text(&p, CPlayer::kPositionTextId), "0.00");
        Click(&p, CPlayer::kPauseId);
        EXPECT_EQ(p.pause(), kPaused);
        EXPECT_EQ(Text(&p, CPlayer::kStatusId), "Paused...");
        Click(&p, CPlayer::kPlayId);
        EXPECT_EQ(p.state(), kPlaying);
        Pump(400);
        EXPECT_EQ(p.player().GetPosition(), 0u);
        Click(&p, CPlayer::kPauseId);
        EXPECT_EQ(p.pause(), kRunning);
        EXPECT_EQ(Text(&p, CPlayer::kStatusId), "0 sec");
        Pump(400);
        EXPECT_GT(p.player().GetPosition(), 100u);
        Click(&p, CPlayer::kStopId);
        EXPECT_EQ(Buttons(p), "11111111");
        EXPECT_TRUE(p.action(CPlayer::kPropertiesEdit)->isEnabled());

        // The slider: five ticks of 400 ms.
        GetDlgItemAs<QSlider>(&p, CPlayer::kPositionSliderId)->setValue(5);
        EXPECT_EQ(p.position(), 2000u);
        EXPECT_EQ(p.player().GetPosition(), 2000u);
        Pump(250);
        EXPECT_EQ(Text(&p, CPlayer::kPositionTextId), "2.00");
        Esc(&p);  // nothing recorded: no question
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(ReadLines(log()).empty());
}

TEST_F(PlayerTest, AfterCutOnlyRecordWorksAndTheNextStopMovesToTheEndOfTheNewRecording) {
    const std::string file = Tone("two.wav", 2000);
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 5000, 250));
    Answers("No,Yes");
    CMessageTrailer record;
    const int result = owner_.Run(file, record, kModeCompose, kKindNew, [&](CPlayer& p) {
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "2.00 sec");
        p.OnCommand(CPlayer::kCut);
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "0.00 sec");
        EXPECT_EQ(Buttons(p), "00000001");
        EXPECT_TRUE(p.changed());
        EXPECT_EQ(p.msPerTick(), 0.0);
        EXPECT_EQ(GetDlgItemAs<QSlider>(&p, CPlayer::kPositionSliderId)->maximum(), 25);
        Click(&p, CPlayer::kPlayId);
        p.OnCommand(CPlayer::kCut);  // Begin is disabled: Cut only beeps
        EXPECT_EQ(p.beeps(), 2);

        Click(&p, CPlayer::kRecordId);
        Pump(700);
        // The elapsed time counts from Record, not from the insertion point.
        EXPECT_LT(Text(&p, CPlayer::kPositionTextId).toDouble(), 1.0);
        Click(&p, CPlayer::kStopId);
        EXPECT_EQ(Buttons(p), "11111111");
        EXPECT_NEAR(p.length(), 700, 150);
        EXPECT_EQ(p.position(), p.length()) << "moved to the end of the new recording";
        EXPECT_EQ(GetDlgItemAs<QSlider>(&p, CPlayer::kPositionSliderId)->value(), 25);

        p.OnCommand(CPlayer::kClose);  // No
        EXPECT_TRUE(p.isRunning());
        p.OnCommand(CPlayer::kClose);  // Yes
    });
    EXPECT_EQ(result, IDOK);
}

TEST_F(PlayerTest, RecordingWhilePausedChangesNothing) {
    const std::string file = Tone("one.wav", 1000);
    const std::string before = ReadFile(file);
    CMessageTrailer record;
    const int result = owner_.Run(file, record, kModeCompose, kKindNew, [&](CPlayer& p) {
        Click(&p, CPlayer::kPauseId);
        Click(&p, CPlayer::kRecordId);
        EXPECT_EQ(p.state(), kRecording);
        EXPECT_EQ(Buttons(p), "10000000");
        EXPECT_FALSE(p.changed());
        p.OnCommand(CPlayer::kSaveAs);
        EXPECT_EQ(p.beeps(), 1);
        Click(&p, CPlayer::kStopId);
        EXPECT_EQ(p.state(), kStopped);
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "1.00 sec");
        Esc(&p);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(Logged(log(), "messagebox").empty()) << "unchanged: Esc does not ask";
    EXPECT_TRUE(Logged(log(), "filedialog").empty()) << "refused while recording";
}

// The chosen file is only read: its audio, in the local format, goes into the working file.
TEST_F(PlayerTest, ImportConvertsIntoTheWorkingFileAndNeverWritesTheChosenFile) {
    const std::string chosen = dir_.file("VOICE.WAV");
    WriteWave(chosen, PcmFormat{2, 11025, 16},
              SegmentAudio(PcmFormat{2, 11025, 16}, {{1500, 0x30}}));
    const std::string chosenBytes = ReadFile(chosen);
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 2000, 250));
    FileAnswers(chosen + "\nCancel\n");
    Answers("Yes,No");
    const int result = owner_.NewMessage([&](CPlayer& p) {
        Click(&p, CPlayer::kRecordId);
        Pump(300);
        Click(&p, CPlayer::kStopId);
        p.OnCommand(CPlayer::kImport);  // asks before dropping the recording: Yes
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "1.50 sec");
        EXPECT_EQ(Text(&p, CPlayer::kPositionTextId), "0.00");
        EXPECT_TRUE(p.changed());
        const WaveImage working = ReadWave(p.workingFile());
        EXPECT_EQ(working.format.formatTag, 1);
        EXPECT_EQ(working.format.samplesPerSec, 8000u);
        EXPECT_EQ(working.format.bitsPerSample, 8);
        EXPECT_EQ(working.format.channels, 1);
        EXPECT_EQ(working.data.size(), 12000u);
        p.OnCommand(CPlayer::kImport);  // Cancel: nothing happens
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "1.50 sec");
        Esc(&p);  // changed: asks, No
        EXPECT_TRUE(p.isRunning());
        p.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(ReadFile(chosen), chosenBytes);
    EXPECT_EQ(CUtils().GetSettingString(setting::kOpenWavePath), chosen);
    EXPECT_EQ(Logged(log(), "filedialog", "answer"), (std::vector<std::string>{chosen, "Cancel"}));
    EXPECT_EQ(Logged(log(), "filedialog", "caption").front(), "Open Wave File");
    const auto boxes = Logged(log(), "messagebox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find("Do you want to open the file you just selected?"), std::string::npos);
}

const QString kSheet = QString::fromLatin1(kFilePropCaption).prepend("sheet_");

// The sheet's tabs and what page `page` shows in field id.
QString SheetField(QWidget* sheet, int page, int id) {
    auto* tabs = GetDlgItemAs<QTabWidget>(sheet, CPropertySheet::kTabControlId);
    tabs->setCurrentIndex(page);
    return GetDlgItemText(tabs->widget(page), id);
}

// A received message that is only looked at keeps its own encoding on disk; the sheet shows it.
TEST_F(PlayerTest, PropertiesRewriteTheWorkingFileOnlyAfterAChange) {
    const std::string file = dir_.file("received.wav");
    const auto gsm = GsmWave(2000);
    WriteFile(file, std::string(gsm.begin(), gsm.end()));
    CMessageTrailer record;
    QString tag, path;
    int pages = 0;
    owner_.Run(file, record, kModeView, kKindOpen, [&](CPlayer& p) {
        EXPECT_EQ(Text(&p, CPlayer::kLengthId), "2.00 sec");
        Click(&p, CPlayer::kCueId);
        const DWORD at = p.position();
        WhenShown(kSheet, [&](QWidget* w) {
            pages = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId)->count();
            tag = SheetField(w, 0, CDetailsVoice::kFormatTagId);
            path = SheetField(w, 1, CDetailsPage::kFullPathId);
            Click(w, IDCANCEL);
        });
        p.OnCommand(CPlayer::kPropertiesEdit);
        EXPECT_TRUE(p.player().IsOpen());
        EXPECT_EQ(p.position(), at) << "back where it was";
        p.EndDialog(IDOK);
    });
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(tag, "49");
    EXPECT_EQ(path.toStdString(), file);
    EXPECT_EQ(ReadFile(file), std::string(gsm.begin(), gsm.end()));
    EXPECT_TRUE(Logged(log(), "messagebox").empty());
}

// The transport properties show a converted copy; its Preview plays that copy in a Preview
// window. The copy goes afterwards and the working file is as it was.
TEST_F(PlayerTest, PropertiesTransportShowAndPreviewAGsmCopy) {
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 3000, 250));
    const char* shots = std::getenv("KORRIN_SCREENSHOT_DIR");
    std::string copy, previewFile, saved;
    QString tag, previewTitle;
    std::set<int> hidden;
    bool previewFieldsHidden = false;
    const int result = owner_.NewMessage([&](CPlayer& p) {
        Click(&p, CPlayer::kRecordId);
        Pump(1000);
        Click(&p, CPlayer::kStopId);
        ASSERT_TRUE(p.changed());
        // Edit first: the recording is saved into the working file.
        WhenShown(kSheet, [&](QWidget* w) { Click(w, IDCANCEL); });
        p.OnCommand(CPlayer::kPropertiesEdit);
        saved = ReadFile(p.workingFile());
        EXPECT_EQ(ReadWave(p.workingFile()).format.formatTag, 1);

        WhenShown(kSheet, [&](QWidget* w) {
            auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
            EXPECT_EQ(tabs->count(), 3);
            copy = SheetField(w, 1, CDetailsPage::kFullPathId).toStdString();
            if (shots && (Pump(100), true))
                w->grab().save(QString::fromUtf8(shots) + "/sheet-file.png");
            tag = SheetField(w, 0, CDetailsVoice::kFormatTagId);
            for (int id : {1017, 1018, 1024, 1025, 1026, 1027})
                if (!GetDlgItem(tabs->widget(0), id)->isVisibleTo(tabs->widget(0)))
                    hidden.insert(id);
            if (shots && (Pump(100), true))
                w->grab().save(QString::fromUtf8(shots) + "/sheet-voice.png");
            tabs->setCurrentIndex(2);
            if (shots && (Pump(100), true))
                w->grab().save(QString::fromUtf8(shots) + "/sheet-preview.png");
            // The Preview window is a second message window over the first.
            auto* poll = new QTimer(w);
            QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
                for (QWidget* t : QApplication::topLevelWidgets()) {
                    auto* preview = dynamic_cast<CPlayer*>(t);
                    if (!preview || preview == &p || !preview->isVisible())
                        continue;
                    poll->stop();
                    previewTitle = preview->windowTitle();
                    previewFile = preview->workingFile();
                    previewFieldsHidden = !Visible(preview, CPlayer::kSubjectId) &&
                                          !Visible(preview, CPlayer::kToId) &&
                                          !Visible(preview, CPlayer::kMemoId) &&
                                          !Visible(preview, CPlayer::kRecordId);
                    preview->EndDialog(IDOK);
                }
            });
            poll->start(20);
            Click(w, CPagePreview::kPreviewId);
            Click(w, IDCANCEL);
        });
        p.OnCommand(CPlayer::kPropertiesTransport);
        EXPECT_TRUE(p.player().IsOpen());
        EXPECT_EQ(p.state(), kStopped);
        p.EndDialog(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(tag, "49") << "GSM 6.10, the transport format";
    EXPECT_EQ(hidden, (std::set<int>{1017, 1018, 1024, 1025, 1026, 1027}));
    EXPECT_TRUE(previewTitle.endsWith("-Preview")) << previewTitle.toStdString();
    EXPECT_TRUE(previewFieldsHidden);
    EXPECT_EQ(previewFile, copy);
    EXPECT_NE(copy, owner_.workingFile);
    EXPECT_FALSE(std::filesystem::exists(copy)) << copy;
    EXPECT_EQ(Logged(log(), "report"), std::vector<std::string>{});
    EXPECT_FALSE(saved.empty());
}

// Picks a format in the chooser by its tag and format texts, then OK.
void ChooseFormat(QWidget* chooser, const QString& tag, const QString& format) {
    auto* tags = GetDlgItemAs<QComboBox>(chooser, CFormatChooseDlg::kTagListId);
    tags->setCurrentIndex(tags->findText(tag));
    auto* formats = GetDlgItemAs<QComboBox>(chooser, CFormatChooseDlg::kFormatListId);
    formats->setCurrentIndex(formats->findText(format));
    ASSERT_EQ(formats->currentText(), format);
    Click(chooser, IDOK);
}

// Convert saves a recording the working file does not hold yet, converts the whole file and
// opens it again where it was. A conversion that fails on the way (the file size limit stands
// for a full disk) leaves the file byte for byte, no ".tmp", and says so under "Convert".
TEST_F(PlayerTest, ConvertKeepsAnUnsavedRecordingAndAFailedConversionChangesNothing) {
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 5000, 250));
    const char* shots = std::getenv("KORRIN_SCREENSHOT_DIR");
    const QString convertDialog = QStringLiteral("dialog_170");
    const QString chooser = QStringLiteral("dialog_192");
    const int result = owner_.NewMessage([&](CPlayer& p) {
        const std::string working = p.workingFile();
        Click(&p, CPlayer::kRecordId);
        Pump(3000);
        Click(&p, CPlayer::kStopId);
        ASSERT_TRUE(p.changed());
        GetDlgItemAs<QSlider>(&p, CPlayer::kPositionSliderId)->setValue(10);
        const DWORD at = p.position();
        ASSERT_GT(at, 0u);

        bool shown = false;
        WhenShown(convertDialog, [&](QWidget* c) {
            shown = true;
            EXPECT_EQ(c->windowTitle(), "Convert Quillion EMail(tm) Voice File");
            EXPECT_EQ(GetDlgItemText(c, CConvertDlg::kDetailsId), "PCM 8,000 Hz, 8 Bit, Mono");
            WhenShown(chooser, [&](QWidget* w) {
                EXPECT_EQ(w->windowTitle(), "Choose Format to Convert to");
                ChooseFormat(w, "GSM 6.10", "8,000 Hz, Mono");
            });
            Click(c, CConvertDlg::kBrowseId);
            EXPECT_EQ(GetDlgItemText(c, CConvertDlg::kDetailsId), "GSM 6.10 8,000 Hz, Mono");
            if (shots)
                c->grab().save(QString::fromUtf8(shots) + "/convert.png");
            Click(c, IDOK);
        });
        p.OnCommand(CPlayer::kConvertVoiceFile);
        EXPECT_TRUE(shown);
        const WaveImage gsm = ReadWave(working);
        EXPECT_EQ(gsm.format.formatTag, 49);
        EXPECT_NEAR(double(p.length()), 3000.0, 250.0) << "the recording is in it";
        EXPECT_EQ(p.position(), at);
        EXPECT_TRUE(p.player().IsOpen());

        // Now one that fails half way.
        const std::string before = ReadFile(working);
        WhenShown(convertDialog, [&](QWidget* c) {
            WhenShown(chooser,
                      [&](QWidget* w) { ChooseFormat(w, "PCM", "44,100 Hz, 16 Bit, Stereo"); });
            Click(c, CConvertDlg::kBrowseId);
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit old{};
            ::getrlimit(RLIMIT_FSIZE, &old);
            rlimit small = old;
            small.rlim_cur = 100 * 1024;
            ::setrlimit(RLIMIT_FSIZE, &small);
            Click(c, IDOK);
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, SIG_DFL);
            EXPECT_TRUE(c->isVisible()) << "the dialog stays for another try";
            Click(c, IDCANCEL);
        });
        p.OnCommand(CPlayer::kConvertVoiceFile);
        EXPECT_EQ(ReadFile(working), before);
        EXPECT_FALSE(std::filesystem::exists(working + ".tmp"));
        EXPECT_EQ(p.position(), at);
        EXPECT_TRUE(p.player().IsOpen());
        Click(&p, CPlayer::kPlayId);
        EXPECT_EQ(p.state(), kPlaying);
        Click(&p, CPlayer::kStopId);
        p.EndDialog(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Logged(log(), "messagebox"), std::vector<std::string>{CConvertDlg::kConvertedText});
    EXPECT_EQ(Logged(log(), "messagebox", "caption"), std::vector<std::string>{"Quillion"});
    const auto sources = Logged(log(), "report", "source");
    const auto reports = Logged(log(), "report");
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(Contains(reports, "Convert failed"));
    for (const auto& source : sources)
        EXPECT_EQ(source, "Convert");
}

// An unzipped send while the hint is wanted shows it after filing; ticking "Don't display
// this message again!" and OK keeps it away from the next send.
TEST_F(PlayerTest, UnzippedSendShowsTheZipHintOnceTicked) {
    Installed();
    SetDword(setting::kQuality, 2);
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 3000, 250));
    const char* shots = std::getenv("KORRIN_SCREENSHOT_DIR");
    // Every showing of the hint is answered: tick, OK.
    int hints = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        for (QWidget* h : QApplication::topLevelWidgets()) {
            if (!h->isVisible() || h->objectName() != "dialog_165")
                continue;
            ++hints;
            EXPECT_EQ(h->windowTitle(), "Hint - Not using Zip");
            EXPECT_EQ(Outbox().size(), std::size_t(hints)) << "filed before the hint";
            if (shots)
                h->grab().save(QString::fromUtf8(shots) + "/zip-hint.png");
            Click(h, CZipHintDlg::kDontShowId);
            Click(h, IDOK);
        }
    });
    answer.start(20);
    for (int round = 0; round < 2; ++round) {
        const int result = owner_.NewMessage([&](CPlayer& p) {
            Click(&p, CPlayer::kRecordId);
            Pump(600);
            Click(&p, CPlayer::kStopId);
            SetDlgItemText(&p, CPlayer::kToId, "bob@example.org");
            p.OnCommand(CPlayer::kSend);
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(hints, 1);
        EXPECT_EQ(CUtils().GetSettingDword(setting::kNagZip), 1u);
    }
    EXPECT_EQ(Outbox().size(), 2u);
}

TEST_F(PlayerTest, ViewCommandsEndTheWindowWithTheirResultsOrGoToTheOwner) {
    const std::string file = Tone("one.wav", 1000);
    CMessageTrailer record;
    struct Case {
        int command;
        int result;
    };
    for (Case c :
         {Case{CPlayer::kReply, 302}, Case{CPlayer::kForward, 301}, Case{CPlayer::kResend, 306}}) {
        EXPECT_EQ(owner_.Run(file, record, kModeView, kKindOpen,
                             [&](CPlayer& p) { p.action(c.command)->trigger(); }),
                  c.result);
    }
    owner_.Run(file, record, kModeView, kKindOpen, [&](CPlayer& p) {
        p.action(CPlayer::kMixer)->trigger();
        p.action(CPlayer::kPreferences)->trigger();
        p.action(CPlayer::kReplyAll)->trigger();
        p.EndDialog(IDOK);
    });
    EXPECT_EQ(owner_.commands, (std::vector<int>{CPlayer::kMixer, CPlayer::kPreferences}));
    const auto boxes = Logged(log(), "messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("This feature not yet implemented", 0), 0u);
}

TEST_F(PlayerTest, HelpOpensTheWebPageAndTheSupportMailThroughTheShell) {
    answers_.reset();  // the dialog itself is shown
    ScopedEnv noAnswers("KORRIN_MESSAGE_ANSWERS", std::nullopt);
    OpenerRecorder opener(dir_);
    const std::string file = Tone("one.wav", 1000);
    CMessageTrailer record;
    bool seen = false;
    owner_.Run(file, record, kModePreview, kKindOpen, [&](CPlayer& p) {
        EXPECT_TRUE(p.windowTitle().endsWith("-Preview"));
        EXPECT_FALSE(Visible(&p, CPlayer::kSubjectId));
        EXPECT_FALSE(Visible(&p, CPlayer::kMemoLabelId));
        WhenShown(QStringLiteral("dialog_155"), [&](QWidget* help) {
            seen = true;
            Click(help, 1072);
            Click(help, 1076);
            Click(help, IDOK);
        });
        p.OnCommand(CPlayer::kHelp);
        p.EndDialog(IDOK);
    });
    EXPECT_TRUE(seen);
    EXPECT_EQ(opener.Opened(2),
              "http://www.quillion.example/korrinhelp.html\nmailto:support@quillion.example\n");
}

TEST_F(PlayerTest, WithoutTheMapiLibraryTheComposerSaysSoAndStaysUsable) {
    // A library that lacks an entry point is no library.
    ScopedEnv libdir("KORRIN_LIBDIR", BuildDir() + "/tolvlink-partial");
    SetDword(setting::kTransport, 3);
    SetDword(setting::kAddressBook, 3);
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 2000, 250));
    Answers("OK,OK,Yes");
    owner_.NewMessage([&](CPlayer& p) {
        p.OnCommand(CPlayer::kToButtonId);
        Click(&p, CPlayer::kRecordId);
        Pump(300);
        Click(&p, CPlayer::kStopId);
        EXPECT_GT(p.length(), 0u);
        p.OnCommand(CPlayer::kClose);
    });
    const auto lines = ReadLines(log());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(JsonField(lines[0], "kind"), "messagebox");
    EXPECT_EQ(JsonField(lines[0], "text").rfind("Could not load Mapi support", 0), 0u);
    EXPECT_EQ(JsonField(lines[1], "kind"), "report");
    EXPECT_EQ(JsonField(lines[1], "text"), "debug");
    EXPECT_EQ(JsonField(lines[1], "source"), "Player");
    EXPECT_EQ(JsonField(lines[2], "text"), "Mapi Support Not Loaded");
    EXPECT_FALSE(owner_.mapiLoaded);
}

TEST_F(PlayerTest, EveryControlCarriesTheNameAScreenReaderReads) {
    CMessageTrailer record;
    record.senderAddress = "bob@example.org";
    record.senderName = "Bob";
    const std::string file = Tone("one.wav", 1000);
    owner_.Run(file, record, kModeCompose, kKindReply, [&](CPlayer& p) {
        EXPECT_EQ(Text(&p, CPlayer::kToId), "bob@example.org");
        const std::map<int, QString> names = {
            {CPlayer::kToId, "To:"},
            {CPlayer::kCcId, "Cc:"},
            {CPlayer::kBccId, "Bcc:"},
            {CPlayer::kSubjectId, "Subject:"},
            {CPlayer::kMemoId, "Memo:"},
            {CPlayer::kPositionSliderId, "Position"},
            {CPlayer::kVolumeSliderId, "Volume"},
            {CPlayer::kMuteId, "Mute"},
            {CPlayer::kPlayId, "Play"},
            {CPlayer::kRecordId, "Record"},
            {CPlayer::kReviewId, "Rewind"},
            {CPlayer::kCueId, "Forward"},
            {CPlayer::kToButtonId, "To..."},
            {CPlayer::kBccButtonId, "Bcc:"},
        };
        for (const auto& [id, name] : names) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(GetDlgItem(&p, id));
            ASSERT_TRUE(a) << id;
            EXPECT_EQ(a->text(QAccessible::Name), name) << id;
        }
        // Every visible control of the window has a name of some kind.
        for (QWidget* w : p.findChildren<QWidget*>()) {
            if (!w->isVisible() || !(qobject_cast<QAbstractButton*>(w) ||
                                     qobject_cast<QLineEdit*>(w) || qobject_cast<QSlider*>(w)))
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            EXPECT_FALSE(a->text(QAccessible::Name).isEmpty())
                << w->metaObject()->className() << " " << w->objectName().toStdString();
        }
        // The transport keys are told in the tool tips.
        EXPECT_TRUE(GetDlgItem(&p, CPlayer::kPlayId)->toolTip().contains("F5"));
        EXPECT_TRUE(GetDlgItem(&p, CPlayer::kRecordId)->toolTip().contains("F8"));
        EXPECT_TRUE(p.action(CPlayer::kSend)
                        ->shortcuts()
                        .contains(QKeySequence(Qt::CTRL | Qt::Key_Return)));
        p.EndDialog(IDOK);
    });
}

}  // namespace

namespace {

std::vector<std::string> Drafts(const std::string& install) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(install + "/DRAFTS", ec))
        if (e.path().extension() == ".kx0")
            out.push_back(e.path().string());
    return out;
}

// The recording's seconds in a draft: the wave file before its trailer, 8,000 bytes a second.
double DraftSeconds(const std::string& draft) {
    const std::string bytes = ReadFile(draft);
    if (bytes.size() < 8)
        return -1;
    const auto trailer =
        LoadLE32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 8);
    const std::string wave = bytes.substr(0, bytes.size() - 8 - trailer);
    WaveImage image;
    const std::vector<std::uint8_t> raw(wave.begin(), wave.end());
    if (ParseWave(raw.data(), raw.size(), image) != WaveReadResult::kOk)
        return -1;
    return image.data.size() / 8000.0;
}

}  // namespace

// A composition is on disk as a draft from its first Stop until it is sent or dropped.
TEST_F(PlayerTest, TheDraftFollowsTheRecordingAndGoesWhenTheMessageIsDropped) {
    Installed();
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 3000, 250));
    Answers("Yes");
    owner_.NewMessage([&](CPlayer& p) {
        ASSERT_FALSE(p.draftPath().empty());
        Click(&p, CPlayer::kRecordId);
        Pump(700);
        Click(&p, CPlayer::kStopId);
        ASSERT_EQ(Drafts(install()), std::vector<std::string>{p.draftPath()});
        EXPECT_NEAR(DraftSeconds(p.draftPath()), p.length() / 1000.0, 0.01);
        EXPECT_TRUE(ListOrphanDrafts().empty()) << "held while the window lives";
        p.OnCommand(CPlayer::kCut);
        EXPECT_NEAR(DraftSeconds(p.draftPath()), 0.0, 0.001);
        p.OnCommand(CPlayer::kClose);  // Yes: dropped
    });
    EXPECT_TRUE(Drafts(install()).empty());
}

// SIGTERM while recording: the program ends as the signal says, and what was recorded so far
// is in the draft, which the next start may offer.
TEST_F(PlayerTest, SigtermWhileRecordingLeavesTheRecordingInAnUnlockedDraft) {
    Installed();
    const std::string working = Tone("working.wav", 0);
    RunResult r =
        korrin::test::Run({"/usr/bin/timeout", "-s", "TERM", "2.5", BuildDir() + "/player_window",
                           "compose", working, "500", "20000"},
                          {{"KORRIN_AUDIO", "virtual"},
                           {"KORRIN_MIXER", "virtual"},
                           {"KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 5000, 250)},
                           {"KORRIN_MESSAGE_ANSWERS", ""},
                           {"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(r.exitCode, 124) << r.out << r.err;  // ended by the signal
    const auto drafts = Drafts(install());
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_NEAR(DraftSeconds(drafts[0]), 2.0, 0.4);
    EXPECT_EQ(ListOrphanDrafts(), drafts);
}

// AOL: the save dialog answered by script. Cancel asks whether to delete the message (No
// brings the dialog back); a name typed with another extension keeps the message's own.
TEST_F(PlayerTest, AolSendAsksAgainAfterCancelAndKeepsTheKindsExtension) {
    Installed();
    SetDword(setting::kTransport, 2);
    ScopedEnv home("HOME", dir_.path());
    capture_.emplace("KORRIN_AUDIO_CAPTURE", Tone("capture.wav", 3000, 250));
    FileAnswers("Cancel\n" + dir_.file("for-aol.txt") + "\n");
    Answers("No,OK");
    const int result = owner_.NewMessage([&](CPlayer& p) {
        Click(&p, CPlayer::kRecordId);
        Pump(500);
        Click(&p, CPlayer::kStopId);
        SetDlgItemText(&p, CPlayer::kToId, "bob@example.org");
        p.OnCommand(CPlayer::kSend);
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(FileExists(dir_.file("for-aol.kx0")));
    EXPECT_FALSE(FileExists(dir_.file("for-aol.txt")));
    EXPECT_EQ(Logged(log(), "filedialog", "answer"),
              (std::vector<std::string>{"Cancel", dir_.file("for-aol.txt")}));
    const auto boxes = Logged(log(), "messagebox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find("Are you sure you want to delete it?"), std::string::npos);
    EXPECT_EQ(boxes[1].rfind("AOL file saved as: " + dir_.file("for-aol.kx0"), 0), 0u);
    EXPECT_TRUE(Outbox().empty());
}

// Qt's own open dialog, shown to a person: "*.wav" shows the upper-case file name too, and
// the person's answer (here Cancel) is logged like a scripted one.
TEST_F(PlayerTest, TheWaveFilterOfTheFileDialogIgnoresCase) {
    const std::string folder = dir_.file("waves");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    for (const char* name : {"VOICE.WAV", "low.wav", "notes.txt"})
        WriteFile(folder + "/" + name, "x");
    std::vector<std::string> listed;
    WhenShown(QStringLiteral("file_dialog"), [&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        auto* view = dialog ? dialog->findChild<QListView*>(QStringLiteral("listView")) : nullptr;
        if (view) {
            QElapsedTimer t;
            t.start();
            while (view->model()->rowCount(view->rootIndex()) < 2 && t.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                listed.push_back(
                    view->model()->index(r, 0, view->rootIndex()).data().toString().toStdString());
        }
        if (auto* d = qobject_cast<QDialog*>(w))
            d->reject();
    });
    FileDialogRequest request;
    request.save = false;
    request.title = "Open Wave File";
    request.filterName = "Wave files (*.WAV)";
    request.patterns = "*.wav";
    request.initialName = folder + "/*.wav";
    EXPECT_EQ(GetFileName(nullptr, request), std::nullopt);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"VOICE.WAV", "low.wav"}));
    EXPECT_EQ(Logged(log(), "filedialog", "answer"), std::vector<std::string>{"Cancel"});
}

namespace {

TEST_F(PlayerTest, AddressButtonsShowTheWabDialogWithTheTypedRecipients) {
    ScopedEnv data("XDG_DATA_HOME", dir_.file("data"));
    for (const char* d : {"data", "data/korrin", "data/korrin/contacts"})
        ASSERT_EQ(::mkdir(dir_.file(d).c_str(), 0700), 0);
    WriteFile(dir_.file("data/korrin/contacts/bob.vcf"),
              "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Bob Builder\r\nEMAIL:bob@example.org\r\n"
              "END:VCARD\r\n");
    bool shown = false;
    owner_.NewMessage([&](CPlayer& p) {
        SetDlgItemText(&p, CPlayer::kToId, "bob; zed");
        SetDlgItemText(&p, CPlayer::kBccId, "x@y.org");
        WhenShown("dialog_201", [&](QWidget* w) {
            shown = true;
            EXPECT_EQ(w->windowTitle(), "Address Book");
            EXPECT_EQ(GetDlgItemText(w, 1120), "Bob Builder <bob@example.org>; zed");
            EXPECT_EQ(GetDlgItemText(w, 1122), "x@y.org");
            SetDlgItemText(w, 1120, "Bob Builder <bob@example.org>");
            SetDlgItemText(w, 1121, "Carol <carol@example.org>; \"Doe, Jane\" <j@x.org>");
            Click(w, IDOK);
        });
        Click(&p, CPlayer::kCcButtonId);
        EXPECT_EQ(Text(&p, CPlayer::kToId), "Bob Builder <bob@example.org>");
        EXPECT_EQ(Text(&p, CPlayer::kCcId), "Carol <carol@example.org>; j@x.org");
        EXPECT_EQ(Text(&p, CPlayer::kBccId), "x@y.org");
        p.OnCommand(CPlayer::kClose);
    });
    EXPECT_TRUE(shown);
}

}  // namespace
