// The Mute check box of a window, driven offscreen: hidden without a mixer, kept in step
// when another program mutes, and muting when clicked.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QVBoxLayout>

#include <thread>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "korrin/ui/MuteBox.h"
#include "platform/mixer/VirtualMixer.h"
#include "platform/ui/Dialog.h"

namespace {

using namespace korrin;
using namespace korrin::platform;
namespace vm = korrin::platform::virtualmixer;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;

// A window with the box, answering the mixer's message as the recorder does.
class BoxWindow : public CDialog {
  public:
    BoxWindow() : CDialog(130), mute_(this) {
        auto* box = new QCheckBox("&Mute", this);
        SetControlId(box, kMuteBoxId);
        (new QVBoxLayout(this))->addWidget(box);
        connect(box, &QCheckBox::clicked, this, [this] { mute_.OnClicked(control); });
    }
    LRESULT OnMessage(unsigned msg, WPARAM w, LPARAM l) override {
        if (msg == MM_MIXM_CONTROL_CHANGE) {
            ++changes;
            control.Refresh();
            return 0;
        }
        return CDialog::OnMessage(msg, w, l);
    }
    void init() { control.Init(&mute_); }
    QCheckBox* box() { return GetDlgItemAs<QCheckBox>(this, kMuteBoxId); }
    MuteBox mute_;
    MuteControl control;
    int changes = 0;
};

bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class MuteBoxTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv mixer_{"KORRIN_MIXER", "virtual"};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    void SetUp() override { vm::Configure(vm::DefaultDevices()); }
    void TearDown() override { vm::Configure(vm::DefaultDevices()); }
};

TEST_F(MuteBoxTest, AnotherProgramMutingChecksTheBox) {
    BoxWindow w;
    w.show();
    w.init();
    ASSERT_TRUE(w.box()->isVisible());
    EXPECT_FALSE(w.box()->isChecked());
    std::thread other([] { vm::SetControl(0, "Volume Control", "Mute", 1); });
    other.join();
    EXPECT_TRUE(waitFor([&] { return w.box()->isChecked(); }));
    EXPECT_EQ(w.changes, 1);
}

TEST_F(MuteBoxTest, ClickingTheBoxMutes) {
    BoxWindow w;
    w.show();
    w.init();
    korrin::test::Click(&w, kMuteBoxId);
    long v = 0;
    ASSERT_TRUE(vm::GetControl(0, "Volume Control", "Mute", v));
    EXPECT_EQ(v, 1);
    // The mixer tells about its own change too; the box stays as the user left it.
    EXPECT_TRUE(waitFor([&] { return w.changes == 1; }));
    EXPECT_TRUE(w.box()->isChecked());
}

TEST_F(MuteBoxTest, WithoutAMixerTheBoxIsHiddenAndTheUserToldOnce) {
    vm::Configure({});
    BoxWindow w;
    w.show();
    w.init();
    EXPECT_FALSE(w.box()->isVisible());
    const auto l = korrin::test::ReadLines(dir_.file("log"));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_NE(korrin::test::JsonField(l[0], "text")
                  .find("A sound card mixer is not found. Mute will not be available."),
              std::string::npos);
}

}  // namespace
