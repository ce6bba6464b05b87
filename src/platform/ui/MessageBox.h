// Message boxes. Every box passes through the message seam: it is logged, and while answers
// are scripted it is answered from the script instead of being shown. Without a window
// system (a command-line tool) the box is printed on standard error and takes its default
// button. From a worker thread the box runs on the user-interface thread and blocks only
// the worker until it is answered.
#pragma once

#include <string>

#include "platform/seam/MessageSeam.h"

class QWidget;

namespace korrin::platform {

// Control number of the text in a box (its buttons carry their answer numbers).
constexpr int kMessageBoxTextId = 0xFFFF;

// owner may be null (the desktop). Returns the answer (IDOK, IDYES, ...).
int MessageBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned type,
               const SourceLocation& where = SourceLocation::current());

}  // namespace korrin::platform
