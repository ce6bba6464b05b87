#include "korrin/ui/FormatChoose.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThread>

#include "korrin/audio/Acm.h"

namespace korrin {

using namespace platform;

namespace {

// A conversion may run on a worker (Send does, behind its progress window): what it asks of
// the windows is then queued to the user-interface thread, never done from the worker.
class WidgetAudioWindow : public AudioWindow {
  public:
    void SetItemText(void* owner, int item, const std::string& text) override {
        if (!owner)
            return;
        QPointer<QWidget> window(static_cast<QWidget*>(owner));
        onUiThread([window, item, text = QString::fromStdString(text)] {
            if (window)
                platform::SetDlgItemText(window, item, text);
        });
    }
    void BeginWaitCursor() override {
        onUiThread([] { QApplication::setOverrideCursor(Qt::WaitCursor); });
    }
    void EndWaitCursor() override {
        onUiThread([] { QApplication::restoreOverrideCursor(); });
    }

  private:
    template <class Fn>
    static void onUiThread(Fn fn) {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        if (!app)
            return;
        if (QThread::currentThread() == app->thread())
            fn();
        else
            QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
    }
};

}  // namespace

void InstallAudioWindows() {
    static WidgetAudioWindow window;
    InstallAudioWindow(&window);
    SetFormatChooseDialog([](const ACMFORMATCHOOSE& choose,
                             const std::vector<AcmFormatTagEntry>& choices, std::size_t& tagIndex,
                             std::size_t& formatIndex) {
        CFormatChooseDlg dlg(choose, choices, tagIndex, formatIndex,
                             static_cast<QWidget*>(choose.hwndOwner));
        if (dlg.DoModal() != IDOK)
            return false;
        tagIndex = dlg.tagIndex();
        formatIndex = dlg.formatIndex();
        return true;
    });
}

CFormatChooseDlg::CFormatChooseDlg(const ACMFORMATCHOOSE& choose,
                                   const std::vector<AcmFormatTagEntry>& choices,
                                   std::size_t tagIndex, std::size_t formatIndex, QWidget* parent)
    : CDialog(kResourceId, parent), choices_(choices) {
    setWindowTitle(QString::fromUtf8(choose.pszTitle ? choose.pszTitle : "Sound Selection"));
    auto* grid = new QGridLayout(this);
    auto* tags = new QComboBox(this);
    SetControlId(tags, kTagListId);
    for (const AcmFormatTagEntry& t : choices)
        tags->addItem(QString::fromStdString(t.name));
    auto* formats = new QComboBox(this);
    SetControlId(formats, kFormatListId);
    grid->addWidget(new QLabel(QStringLiteral("&Format:"), this), 0, 0);
    grid->addWidget(tags, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("&Attributes:"), this), 1, 0);
    grid->addWidget(formats, 1, 1, 1, 2);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    BindCommand(cancel, IDCANCEL);
    grid->addWidget(ok, 2, 1);
    grid->addWidget(cancel, 2, 2);
    tags->setCurrentIndex(int(tagIndex));
    fillFormats(tagIndex);
    formats->setCurrentIndex(int(formatIndex));
    connect(tags, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0)
            fillFormats(std::size_t(i));
    });
}

void CFormatChooseDlg::fillFormats(std::size_t tag) {
    auto* formats = GetDlgItemAs<QComboBox>(this, kFormatListId);
    formats->clear();
    if (tag < choices_.size())
        for (const AcmFormatEntry& f : choices_[tag].formats)
            formats->addItem(QString::fromStdString(f.text));
    formats->setCurrentIndex(0);
}

std::size_t CFormatChooseDlg::tagIndex() const {
    return std::size_t(std::max(0, GetDlgItemAs<QComboBox>(this, kTagListId)->currentIndex()));
}

std::size_t CFormatChooseDlg::formatIndex() const {
    return std::size_t(std::max(0, GetDlgItemAs<QComboBox>(this, kFormatListId)->currentIndex()));
}

}  // namespace korrin
