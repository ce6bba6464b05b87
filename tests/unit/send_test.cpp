// The core half of the composer: where a message file's name is cut, saving the recording
// without ever losing the old one, and drafts that outlive a program that ends unasked.
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "helpers/WaveSupport.h"
#include "korrin/app/Drafts.h"
#include "korrin/app/Send.h"
#include "korrin/audio/Mci.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;
namespace fs = std::filesystem;

TEST(MessageBaseTest, CutsAtTheLastDotOfTheFileNameOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/ann/.cache/x.wav", "/home/ann/.cache/x"},
        {"/tmp/a.b/V12L", "/tmp/a.b/V12L"},
        {"/tmp/a.b/V12L.tar.wav", "/tmp/a.b/V12L.tar"},
        {"name.kx1", "name"},
        {"/d.d/", "/d.d/"},
        {"/d/.wav", "/d/"},
    };
    for (const auto& [path, base] : cases)
        EXPECT_EQ(MessageBase(path), base) << path;
}

TEST(FileAnswersTest, AnswersInOrderThenCancelAndANewFileStartsOver) {
    TempDir dir;
    const std::string answers = dir.file("answers.txt");
    ScopedEnv file{"KORRIN_FILE_ANSWERS", answers};
    ScopedEnv log{"KORRIN_MESSAGE_LOG", dir.file("log")};
    WriteFile(answers, "  /a/first.kx0 \r\n\nCancel\n/b/second.kx1");
    platform::FileDialogRequest request;
    request.title = "Save";
    request.initialName = "/home/x/KORRIN.kx0";
    using Answer = std::optional<std::string>;
    EXPECT_EQ(platform::TakeFileAnswer(request), Answer("/a/first.kx0"));
    EXPECT_EQ(platform::TakeFileAnswer(request), Answer());
    EXPECT_EQ(platform::TakeFileAnswer(request), Answer("/b/second.kx1"));
    EXPECT_EQ(platform::TakeFileAnswer(request), Answer());  // used up
    WriteFile(answers, "/c/third.kx0\n");
    EXPECT_EQ(platform::TakeFileAnswer(request), Answer("/c/third.kx0"));

    const auto lines = ReadLines(dir.file("log"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(JsonField(lines[0], "kind"), "filedialog");
    EXPECT_EQ(JsonField(lines[0], "text"), "/home/x/KORRIN.kx0");
    EXPECT_EQ(JsonField(lines[1], "answer"), "Cancel");
    EXPECT_EQ(JsonField(lines[4], "answer"), "/c/third.kx0");
}

class SendCoreTest : public StoreTest {
  protected:
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", logPath()};
    const platform::PcmFormat pcm_{1, 8000, 8};

    std::string wave(const char* name, unsigned ms, std::uint8_t value) {
        const std::string path = dir_.file(name);
        WriteWave(path, pcm_, SegmentAudio(pcm_, {{ms, value}}));
        return path;
    }
};

TEST_F(SendCoreTest, SaveRecordingReplacesTheWorkingFileOrLeavesItAndThePlayer) {
    const std::string working = wave("work.wav", 500, 0x40);
    const std::string source = wave("source.wav", 300, 0x70);
    MciDevice player;
    ASSERT_EQ(player.Open(source), 0u);
    ASSERT_EQ(SaveRecording(player, working), 0);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(ReadWave(working).data, SegmentAudio(pcm_, {{300, 0x70}}));

    // A working file that cannot be replaced (a folder stands there): nothing changes and
    // the player stays open for the caller to try again.
    const std::string blocked = dir_.file("blocked.wav");
    ASSERT_EQ(::mkdir(blocked.c_str(), 0700), 0);
    WriteFile(blocked + "/keep", "x");
    ASSERT_EQ(player.Open(source), 0u);
    EXPECT_NE(SaveRecording(player, blocked), 0);
    EXPECT_TRUE(player.IsOpen());
    EXPECT_EQ(ReadFile(blocked + "/keep"), "x");
    EXPECT_EQ(fs::directory_iterator(dir_.path()) == fs::directory_iterator(), false);
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(entry.path().string().find("blocked.wav."), std::string::npos) << entry.path();
}

TEST_F(SendCoreTest, DraftIsReplacedWholeAndOfferedOnlyWhenNobodyHoldsIt) {
    const SendEnvelope envelope{"bob@example.org", "cy@example.org", "eve@example.org",
                                "Draft subject", "first\nsecond"};
    std::string path;
    {
        CDraft draft;
        ASSERT_EQ(draft.Create(), 0);
        path = draft.path();
        EXPECT_EQ(fs::path(path).parent_path(), folder(kDraftsFolder));
        ASSERT_EQ(draft.ReplaceFromFile(wave("a.wav", 400, 0x30), envelope), 0);
        SendEnvelope back;
        ASSERT_EQ(ReadDraftEnvelope(path, &back), 0);
        EXPECT_EQ(back.to, envelope.to);
        EXPECT_EQ(back.cc, envelope.cc);
        EXPECT_EQ(back.subject, envelope.subject);
        EXPECT_EQ(back.memo, envelope.memo);
        EXPECT_EQ(ListOrphanDrafts(), std::vector<std::string>{});  // held by its window

        // A failed replace keeps the draft there was.
        const std::string before = ReadFile(path);
        EXPECT_NE(draft.ReplaceFromFile(dir_.file("missing.wav"), envelope), 0);
        EXPECT_EQ(ReadFile(path), before);

        // From the player, which stays open on its file.
        MciDevice player;
        ASSERT_EQ(player.Open(wave("b.wav", 200, 0x50)), 0u);
        ASSERT_EQ(draft.Replace(player, envelope), 0);
        EXPECT_TRUE(player.IsOpen());
        EXPECT_NE(ReadFile(path), before);
        for (const auto& entry : fs::directory_iterator(folder(kDraftsFolder)))
            EXPECT_EQ(entry.path().extension() == ".part", false) << entry.path();
    }
    // The window is gone without filing it: the draft waits for the next start.
    EXPECT_EQ(ListOrphanDrafts(), std::vector<std::string>{path});
    CDraft adopted;
    ASSERT_EQ(adopted.Adopt(path), 0);
    EXPECT_EQ(ListOrphanDrafts(), std::vector<std::string>{});
    CDraft second;
    EXPECT_NE(second.Adopt(path), 0);
    adopted.Remove();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ListOrphanDrafts(), std::vector<std::string>{});
}

// The window's three steps: a cancelled build leaves the working file and no work files; the
// next build reports its stages in order, and only the store request drops the working file.
TEST_F(SendCoreTest, CancelledBuildKeepsEverythingAndTheNextOneFiles) {
    struct Window : ISendWindow {
        int shown = 0;
        void ShowOwner() override { ++shown; }
    } window;
    const std::string temp = dir_.file("tmp");
    ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
    ScopedEnv tmpdir{"TMPDIR", temp};
    CUtils u;
    for (const auto& [name, value] : {std::pair{setting::kName, "Ann"},
                                      {setting::kEmailAddress, "ann@example.org"},
                                      {setting::kSmtpHost, "127.0.0.1"},
                                      {setting::kAccount, "ann"},
                                      {setting::kPassword, "pw"}})
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, name, value), 1);
    const std::string working = wave("V7L.wav", 800, 0x60);
    const std::string original = ReadFile(working);

    CSendJob job(nullptr, working, {"bob@example.org", "", "", "Subject", "memo"}, nullptr,
                 &window);
    ASSERT_EQ(job.Check(800), send::kDone);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(job.Build({nullptr, &cancel}), send::kCancelled);
    EXPECT_EQ(ReadFile(working), original);
    EXPECT_TRUE(fs::is_empty(temp));

    // As the window runs it: on a worker of its own, the window thread waiting.
    cancel = false;
    std::vector<SendStage> stages;
    int built = -1;
    std::thread worker([&] {
        built = job.Build({[&](SendStage s) { stages.push_back(s); }, &cancel});
    });
    worker.join();
    ASSERT_EQ(built, send::kDone);
    EXPECT_EQ(stages, (std::vector<SendStage>{SendStage::kConverting, SendStage::kPacking,
                                              SendStage::kStamping}));
    EXPECT_EQ(ReadFile(working), original);  // built from a copy
    EXPECT_EQ(job.record().kind, DWORD(CMessageTrailer::kPlain));
    ASSERT_EQ(job.Store(), send::kDone);
    EXPECT_EQ(window.shown, 1);
    EXPECT_EQ(fs::path(job.filedPath()).parent_path(), folder("OUTBOX"));
    EXPECT_FALSE(fs::exists(working));
    EXPECT_TRUE(fs::is_empty(temp));
    CMessageTrailer filed;
    ASSERT_EQ(filed.ReadForDisplay(job.filedPath(), false), 0);
    EXPECT_EQ(filed.subject, "Subject");
    EXPECT_EQ(filed.senderName, "Ann");
}

}  // namespace
}  // namespace korrin
