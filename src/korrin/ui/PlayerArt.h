// The message window's pictures, drawn when asked for: the sixteen transport button images
// (enabled and grey, by their bitmap numbers) and the toolbar strips of its three modes.
#pragma once

#include <QPixmap>

#include <vector>

namespace korrin::res {

// Transport images, enabled / grey.
constexpr int kPlayBitmap = 120, kPlayGreyBitmap = 138;
constexpr int kStopBitmap = 121, kStopGreyBitmap = 146;
constexpr int kBeginBitmap = 122, kBeginGreyBitmap = 139;
constexpr int kReviewBitmap = 123, kReviewGreyBitmap = 145;
constexpr int kPauseBitmap = 124, kPauseGreyBitmap = 142;
constexpr int kCueBitmap = 125, kCueGreyBitmap = 141;
constexpr int kEndBitmap = 126, kEndGreyBitmap = 140;
constexpr int kRecordBitmap = 136, kRecordGreyBitmap = 144;

// Toolbar strips of 16 x 16 images: View (7), Compose (7), Preview (3).
constexpr int kViewToolbarBitmap = 115;
constexpr int kComposeToolbarBitmap = 137;
constexpr int kPreviewToolbarBitmap = 154;

// A transport image (28 x 20 pixels); null for a number that is not one of them.
QPixmap LoadTransportBitmap(int id);

// A toolbar strip: the images side by side, in the order of the toolbar's buttons.
QPixmap LoadToolbarStrip(int id);
// The command numbers of a strip's images, in order (empty for an unknown strip).
std::vector<int> ToolbarCommands(int id);

}  // namespace korrin::res
