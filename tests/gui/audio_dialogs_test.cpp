// The quality dialog, the Advanced Formats dialog and the format chooser, driven offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/ui/Format.h"
#include "korrin/ui/FormatChoose.h"
#include "korrin/ui/ZipDlg.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

const QString kQualityDialog = QStringLiteral("dialog_191");
const QString kFormatsDialog = QStringLiteral("dialog_190");
const QString kChooser = QStringLiteral("dialog_192");

std::vector<std::uint8_t> Value(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key) != ERROR_SUCCESS)
        return {};
    DWORD size = 0;
    std::vector<std::uint8_t> data;
    if (RegQueryValueEx(key, name, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        RegQueryValueEx(key, name, nullptr, data.data(), &size);
    }
    RegCloseKey(key);
    return data;
}

std::vector<std::uint8_t> Sz(const std::string& s) {
    return std::vector<std::uint8_t>(s.c_str(), s.c_str() + s.size() + 1);
}

std::vector<std::uint8_t> Pcm8(DWORD rate) {
    std::vector<std::uint8_t> f = {1, 0, 1, 0};
    for (DWORD v : {rate, rate})
        for (int i = 0; i < 4; ++i)
            f.push_back(std::uint8_t(v >> (8 * i)));
    for (std::uint8_t b : {1, 0, 8, 0, 0, 0, 0, 0})
        f.push_back(b);
    return f;  // 18 bytes + 2 zero bytes of padding = the largest format size
}

bool Checked(QWidget* w, int id) {
    auto* b = GetDlgItemAs<QAbstractButton>(w, id);
    return b && b->isChecked();
}

bool Enabled(QWidget* w, int id) {
    QWidget* c = GetDlgItem(w, id);
    return c && c->isEnabled();
}

class AudioDialogs : public RegistryTest {
  protected:
    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        InstallAudioWindows();
    }
    TempDir tools_;
    ScopedEnv windir_{"KORRIN_WINDIR", tools_.path()};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("messages.log")};
};

}  // namespace

TEST_F(AudioDialogs, QualityFirstOpeningShowsNetPhoneAndStoresNothingOnCancel) {
    CZipDlg dlg;
    WhenShown(kQualityDialog, [](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Quillion Email(tm) - Message Quality vs. Size");
        EXPECT_TRUE(Checked(w, 1034));
        for (int id : {1042, 1043, 1044, 1069, 1070, 1038})
            EXPECT_FALSE(Enabled(w, id)) << id;
        EXPECT_EQ(GetDlgItemText(w, 1071), "");
        Click(w, 1039);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(Value(setting::kQuality).empty());
    EXPECT_TRUE(Value(setting::kCompression).empty());
    EXPECT_TRUE(Value(setting::kWaveFormat).empty());
}

TEST_F(AudioDialogs, OkOnRadioStoresTwentyTwoKilohertzPcmAsBothFormats) {
    CZipDlg dlg;
    WhenShown(kQualityDialog, [](QWidget* w) {
        Click(w, 1036);
        EXPECT_TRUE(Enabled(w, 1069));
        EXPECT_FALSE(Enabled(w, 1038));
        EXPECT_TRUE(Checked(w, 1070));  // Compression was missing: 1, "Don't use Zip"
        EXPECT_TRUE(GetDlgItemText(w, 1071).startsWith("Better quality still. Overkill for voice"));
        EXPECT_TRUE(GetDlgItemText(w, 1071).endsWith(
            "For more information contact Quillion. Email: support@quillion.example, "
            "http://www.quillion.example/."));
        Click(w, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(Value(setting::kQuality), (std::vector<std::uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(Value(setting::kCompression), (std::vector<std::uint8_t>{1, 0, 0, 0}));
    std::vector<std::uint8_t> radio = Pcm8(22050);
    radio.resize(20, 0);
    EXPECT_EQ(Value(setting::kWaveFormat), radio);
    EXPECT_EQ(Value(setting::kWaveFormatTransport), radio);
    EXPECT_EQ(Value(setting::kFormatDetails), Sz("PCM 22,050 Hz, 8 Bit, Mono"));
    EXPECT_EQ(Value(setting::kFormatDetailsTransport), Sz("PCM 22,050 Hz, 8 Bit, Mono"));
}

TEST_F(AudioDialogs, DefaultThenCancelStoresNothing) {
    CUtils().SetRegistryDword(kKorrinKey, setting::kQuality, 3);
    CUtils().SetRegistryDword(kKorrinKey, setting::kCompression, 1);
    CZipDlg dlg;
    WhenShown(kQualityDialog, [](QWidget* w) {
        EXPECT_TRUE(Checked(w, 1036));
        Click(w, 1033);
        EXPECT_TRUE(Checked(w, 1034));
        EXPECT_FALSE(Enabled(w, 1069));
        EXPECT_TRUE(GetDlgItemText(w, 1071).startsWith("We call it Net Phone quality"));
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(Value(setting::kQuality), (std::vector<std::uint8_t>{3, 0, 0, 0}));
    EXPECT_TRUE(Value(setting::kWaveFormat).empty());
}

TEST_F(AudioDialogs, UseZipNeedsBothProgramsBeforeOkStoresAnything) {
    CUtils().SetRegistryDword(kKorrinKey, setting::kCompression, 2);
    CZipDlg dlg;
    std::string pkzip = tools_.file("pkzip"), pkunzip = tools_.file("pkunzip");
    WhenShown(kQualityDialog, [&](QWidget* w) {
        Click(w, 1035);
        // The re-click of "Use Zip" ran first; the Telephone text replaced its text.
        EXPECT_TRUE(Checked(w, 1069));
        EXPECT_TRUE(GetDlgItemText(w, 1071).startsWith("Better voice quality than Net Phone."));
        Click(w, 1069);
        EXPECT_TRUE(
            GetDlgItemText(w, 1071).startsWith("Can't find PKZIP.exe or PKUNZIP.exe.  These files "
                                               "are required by Quillion Email (TM)"));
        Click(w, IDOK);  // stays open
        EXPECT_TRUE(w->isVisible());
        EXPECT_TRUE(Value(setting::kQuality).empty());
        WriteFile(pkzip, "#!/bin/sh\n");
        WriteFile(pkunzip, "#!/bin/sh\n");
        Click(w, 1069);
        EXPECT_TRUE(GetDlgItemText(w, 1071).startsWith(
            "Quillion Email(tm) has successfully detected a copy of PKZIP/PKUNZIP."));
        Click(w, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(Value(setting::kQuality), (std::vector<std::uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(Value(setting::kCompression), (std::vector<std::uint8_t>{2, 0, 0, 0}));
    std::vector<std::uint8_t> phone = Pcm8(8000);
    phone.resize(20, 0);
    EXPECT_EQ(Value(setting::kWaveFormatTransport), phone);
}

TEST_F(AudioDialogs, AdvancedKeepsTheFormatsAndAnUnknownQualityIsReported) {
    CUtils().SetRegistryDword(kKorrinKey, setting::kQuality, 9);
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "OK");
        CZipDlg dlg;
        WhenShown(kQualityDialog, [](QWidget* w) {
            for (int id : {1034, 1035, 1036, 1037})
                EXPECT_FALSE(Checked(w, id)) << id;
            Click(w, 1037);
            EXPECT_TRUE(Enabled(w, 1038));
            EXPECT_TRUE(GetDlgItemText(w, 1071).startsWith("Advanced. It is not advised"));
            Click(w, IDOK);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
    const auto lines = ReadLines(dir_.file("messages.log"));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(JsonField(lines[0], "detail").find("Unknown Quality Found,Zip:"), std::string::npos)
        << lines[0];
    EXPECT_EQ(Value(setting::kQuality), (std::vector<std::uint8_t>{4, 0, 0, 0}));
    EXPECT_TRUE(Value(setting::kWaveFormat).empty());
}

TEST_F(AudioDialogs, AdvancedFormatsBrowseChoosesAndOkStores) {
    CFormatDlg dlg;
    bool chooserSeen = false;
    WhenShown(kFormatsDialog, [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "ADVANCED - Formats");
        EXPECT_EQ(GetDlgItemText(w, 1004), "PCM 8,000 Hz, 8 Bit, Mono");
        EXPECT_EQ(GetDlgItemText(w, 1005), "GSM 6.10 8,000 Hz, Mono");
        // The local chooser lists PCM only; cancelling changes nothing.
        WhenShown(kChooser, [&](QWidget* c) {
            EXPECT_EQ(c->windowTitle(), "Choose Local Message Format");
            auto* tags = GetDlgItemAs<QComboBox>(c, 101);
            ASSERT_NE(tags, nullptr);
            EXPECT_EQ(tags->count(), 1);
            EXPECT_EQ(tags->currentText(), "PCM");
            EXPECT_EQ(GetDlgItemAs<QComboBox>(c, 102)->currentText(), "8,000 Hz, 8 Bit, Mono");
            Click(c, IDCANCEL);
        });
        Click(w, 1001);
        EXPECT_EQ(GetDlgItemText(w, 1004), "PCM 8,000 Hz, 8 Bit, Mono");
        // The transport chooser lists every codec; pick IMA ADPCM.
        WhenShown(kChooser, [&](QWidget* c) {
            chooserSeen = true;
            auto* tags = GetDlgItemAs<QComboBox>(c, 101);
            EXPECT_EQ(tags->count(), 5);
            EXPECT_EQ(tags->currentText(), "GSM 6.10");
            tags->setCurrentIndex(tags->findText("IMA/DVI ADPCM"));
            EXPECT_EQ(GetDlgItemAs<QComboBox>(c, 102)->currentText(), "8,000 Hz, 4 Bit, Mono");
            Click(c, IDOK);
        });
        Click(w, 1002);
        EXPECT_EQ(GetDlgItemText(w, 1005), "IMA/DVI ADPCM 8,000 Hz, 4 Bit, Mono");
        Click(w, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(chooserSeen);
    const std::vector<std::uint8_t> ima = {17, 0, 1, 0, 0x40, 0x1F, 0, 0, 0xD7, 0x0F,
                                           0,  0, 0, 1, 4,    0,    2, 0, 0xF9, 0x01};
    EXPECT_EQ(Value(setting::kWaveFormatTransport), ima);
    EXPECT_EQ(Value(setting::kFormatDetailsTransport), Sz("IMA/DVI ADPCM 8,000 Hz, 4 Bit, Mono"));
    EXPECT_EQ(Value(setting::kFormatDetails), Sz("PCM 8,000 Hz, 8 Bit, Mono"));
}

TEST_F(AudioDialogs, AdvancedFormatsDefaultStaysAfterCancelAndOkWithoutBrowseWritesNothing) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
    std::vector<std::uint8_t> radio = Pcm8(22050);
    radio.resize(20, 0);
    RegSetValueEx(key, setting::kWaveFormat, REG_BINARY, radio.data(), 20);
    const auto text = Sz("PCM 22,050 Hz, 8 Bit, Mono");
    RegSetValueEx(key, setting::kFormatDetails, REG_SZ, text.data(), DWORD(text.size()));
    RegCloseKey(key);
    {
        CFormatDlg dlg;
        WhenShown(kFormatsDialog, [](QWidget* w) {
            EXPECT_EQ(GetDlgItemText(w, 1004), "PCM 22,050 Hz, 8 Bit, Mono");
            Click(w, IDOK);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(Value(setting::kWaveFormat), radio);
    }
    CFormatDlg dlg;
    WhenShown(kFormatsDialog, [](QWidget* w) {
        Click(w, 1033);
        EXPECT_EQ(GetDlgItemText(w, 1004), "PCM 8,000 Hz, 8 Bit, Mono");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    std::vector<std::uint8_t> phone = Pcm8(8000);
    phone.resize(20, 0);
    EXPECT_EQ(Value(setting::kWaveFormat), phone);
    EXPECT_EQ(Value(setting::kFormatDetails), Sz("PCM 8,000 Hz, 8 Bit, Mono"));
}
