// A registry with the program's key and an install folder, a message log to read the
// reports back from, and message files made to order.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/store/Trailer.h"
#include "platform/registry/Registry.h"

namespace korrin::test {

class StoreTest : public RegistryTest {
  protected:
    void SetUp() override {
        using namespace platform;
        {
            RegKeyGuard key;
            ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        }
        {
            RegKeyGuard key;
            ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kInstallKey, key.out()), ERROR_SUCCESS);
        }
        ASSERT_EQ(::mkdir(install().c_str(), 0700), 0);
        ASSERT_EQ(CUtils().SetRegistryString(kInstallKey, kInstallDirValue, install()), 1);
    }

    std::string install() const { return dir_.file("install"); }
    std::string folder(const char* name) const { return install() + "/" + name; }
    void makeFolder(const char* name) const { ::mkdir(folder(name).c_str(), 0700); }

    // The texts of the reports made so far.
    std::vector<std::string> reports() const {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(logPath()))
            if (JsonField(line, "kind") == "report")
                out.push_back(JsonField(line, "text"));
        return out;
    }
    std::vector<std::string> boxes() const {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(logPath()))
            if (JsonField(line, "kind") == "messagebox")
                out.push_back(JsonField(line, "caption") + "|" + JsonField(line, "answer"));
        return out;
    }
    std::string logPath() const { return dir_.file("messages.log"); }

    // A message file: payload, then a trailer dated `utc` (now when the year is 0).
    static void makeMessage(const std::string& path, const std::string& payload,
                            const std::string& to, const std::string& subject,
                            SYSTEMTIME utc = {}) {
        WriteFile(path, payload);
        CMessageTrailer t;
        t.subject = subject;
        t.SetNoteFromEdit("typed note");
        ASSERT_EQ(t.WriteNew(path, "Sender", "sender@example.org", to, to, "", ""), 0);
        if (utc.wYear != 0) {
            CMessageTrailer r;
            ASSERT_EQ(r.ReadAllAndStrip(path), 0);
            r.date = utc;
            ASSERT_EQ(r.Rewrite(path), 0);
        }
    }

    static SYSTEMTIME utcTime(int y, int mo, int d, int h, int mi, int s = 0) {
        SYSTEMTIME t;
        std::int64_t seconds = 0;
        t.wYear = static_cast<WORD>(y);
        t.wMonth = static_cast<WORD>(mo);
        t.wDay = static_cast<WORD>(d);
        t.wHour = static_cast<WORD>(h);
        t.wMinute = static_cast<WORD>(mi);
        t.wSecond = static_cast<WORD>(s);
        platform::SystemTimeToSeconds(t, &seconds);
        platform::SecondsToSystemTime(seconds, &t);
        return t;
    }

    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("messages.log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    ScopedEnv tz_{"TZ", "UTC"};
};

}  // namespace korrin::test
