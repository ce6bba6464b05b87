// The About box: version, contact buttons and its eight-frame animation.
#include <gtest/gtest.h>

#include <QImage>

#include "helpers/GuiSupport.h"
#include "helpers/OpenerRecorder.h"
#include "korrin/ui/Animate.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/Resources.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

TEST(AboutBox, ShowsVersionAnimatesAndOpensContacts) {
    TempDir dir;
    OpenerRecorder opener(dir);
    CAboutDlg about;
    int framesSeen = 0;
    bool advanced = false;
    WhenShown(QStringLiteral("dialog_164"), [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "About Quillion EMail for Windows(tm)");
        EXPECT_EQ(GetDlgItemText(w, 1012), "6.0");
        CAnimateCtrl* anim = about.animation();
        ASSERT_NE(anim, nullptr);
        EXPECT_EQ(anim->geometry(), QRect(410, 80, 48, 48));
        EXPECT_TRUE(anim->IsRunning());
        framesSeen = anim->FrameCount();
        int first = anim->CurrentFrame();
        QTimer::singleShot(700, w, [&, w, first] {
            advanced = about.animation()->CurrentFrame() != first;
            Click(w, 1072);
            Click(w, 1073);
            Click(w, IDOK);
        });
    });
    EXPECT_EQ(about.DoModal(), IDOK);
    EXPECT_EQ(framesSeen, 8);
    EXPECT_TRUE(advanced);
    EXPECT_EQ(opener.Opened(2), "http://www.quillion.example/\nmailto:support@quillion.example\n");
}

TEST(AboutBox, FramesAreDistinctPictures) {
    std::vector<QImage> frames;
    for (int id = 180; id <= 187; ++id) {
        QPixmap pm = res::LoadBitmap(id);
        ASSERT_EQ(pm.size(), QSize(48, 48)) << id;
        frames.push_back(pm.toImage());
    }
    for (std::size_t i = 0; i < frames.size(); ++i)
        for (std::size_t j = i + 1; j < frames.size(); ++j)
            EXPECT_NE(frames[i], frames[j]) << i << " " << j;
    EXPECT_TRUE(res::LoadBitmap(188).isNull());
}

TEST(AnimateCtrl, OneFrameNeverStartsTheTimerAndSlidingMovesDiagonally) {
    CAnimateCtrl anim;
    anim.SetFrames({res::LoadBitmap(180)});
    anim.Start(10);
    EXPECT_FALSE(anim.IsRunning());

    anim.Slide(QPoint(5, 7), 5);
    QElapsedTimer clock;
    clock.start();
    while (anim.pos() == QPoint(5, 7) && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    anim.StopSlide();
    QPoint moved = anim.pos() - QPoint(5, 7);
    EXPECT_GT(moved.x(), 0);
    EXPECT_EQ(moved.x(), moved.y());
}

}  // namespace
