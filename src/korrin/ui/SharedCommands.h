// The commands the main window and the message window carry alike.
#pragma once

class QWidget;

namespace korrin {

// About (40011), Help (40020), Quality (40029) and Advanced Formats (40030), run modal to
// `parent`. False, and nothing run, for any other command.
bool RunSharedCommand(int id, QWidget* parent);

}  // namespace korrin
