#include "platform/ui/ProgramEnd.h"

namespace korrin::platform {

namespace {

std::function<void()>& handler() {
    static std::function<void()> h;
    return h;
}

}  // namespace

void SetProgramEndHandler(std::function<void()> h) {
    handler() = std::move(h);
}

bool RequestProgramEnd() {
    // A copy: the handler may remove itself while it runs.
    std::function<void()> h = handler();
    if (!h)
        return false;
    h();
    return true;
}

}  // namespace korrin::platform
