#include "korrin/ui/MuteBox.h"

#include <QAbstractButton>

#include "platform/ui/Dialog.h"

namespace korrin {

using namespace platform;

void MuteBox::HideMuteBox() {
    if (QWidget* box = window_ ? GetDlgItem(window_, kMuteBoxId) : nullptr)
        box->hide();
}

void MuteBox::SetMuteCheck(bool checked) {
    if (auto* box = window_ ? GetDlgItemAs<QAbstractButton>(window_, kMuteBoxId) : nullptr)
        box->setChecked(checked);
}

void MuteBox::PostMixerMessage(unsigned msg, std::uintptr_t mixer, std::uintptr_t control) {
    platform::PostMessage(window_, msg, static_cast<WPARAM>(mixer), static_cast<LPARAM>(control));
}

void MuteBox::OnClicked(MuteControl& control) {
    if (auto* box = window_ ? GetDlgItemAs<QAbstractButton>(window_, kMuteBoxId) : nullptr)
        control.SetMute(box->isChecked());
}

}  // namespace korrin
