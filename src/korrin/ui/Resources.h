// The program's pictures by resource number, drawn when asked for so that no image files
// need shipping: the program icon (129), the web and tip icons of the report dialog (171,
// 173) and the eight frames of the About box animation (180 to 187, 48 x 48 pixels), the
// main window's transmitting animation and its toolbar strip.
#pragma once

#include <QIcon>
#include <QPixmap>

#include <string>

namespace korrin::res {

constexpr int kProgramIcon = 129;
constexpr int kWebIcon = 171;
constexpr int kTipIcon = 173;
constexpr int kAboutFirstFrame = 180;
constexpr int kAboutFrameCount = 8;
// The main window's "transmitting" animation, 97 x 38 pixels, in playing order.
constexpr int kTransmitFrames[8] = {134, 176, 135, 177, 175, 178, 174, 179};
// The main window's toolbar strip: nine 16 x 16 images side by side (New, Open, New Message,
// Resend, Move, Delete, Empty Outbox Now, Mixer, Help).
constexpr int kToolbarBitmap = 153;
constexpr int kToolbarImages = 9;

// A null pixmap for a number that is not one of ours.
QPixmap LoadBitmap(int id);
QIcon LoadIcon(int id);
// The program's icon and the message files' icon drawn at size x size pixels.
QPixmap ProgramIcon(int size);
QPixmap MessageFileIcon(int size);
// Writes both icons at 16 to 256 pixels into an icon theme folder (.../icons/hicolor):
// SIZExSIZE/apps/korrin.png and SIZExSIZE/mimetypes/application-x-korrin-message.png.
bool WriteIconTheme(const std::string& themeFolder);
// One image of the toolbar strip.
QPixmap ToolbarImage(int index);

}  // namespace korrin::res
