// A folder of message files with the real launchers over Info-ZIP, a private temporary folder
// and old-layout messages made as the older release made them (the envelope zipped with the
// wave).
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "korrin/app/Zip.h"
#include "unit/store/StoreFixture.h"

namespace korrin::test {

class FixFolderTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        for (const auto& d : {tmp_, tools_, run_, stage_, box_})
            ASSERT_TRUE(std::filesystem::create_directory(d));
        ::chmod(run_.c_str(), 0700);
        for (const char* tool : {"pkzip", "pkunzip"}) {
            WriteFile(tools_ + "/" + tool, ReadFile(SourceDir() + "/resources/tools/" + tool));
            ::chmod((tools_ + "/" + tool).c_str(), 0755);
        }
    }
    std::string makeOld(const std::string& name) {
        const std::string wave = stage_ + "/V1P.wav";
        makeMessage(wave, std::string(20000, '\x80'), "To " + name, "Subject " + name);
        EXPECT_EQ(ZipFileInPlace(wave), 0);
        std::filesystem::rename(wave, box_ + "/" + name);
        return box_ + "/" + name;
    }
    std::string tmp_ = dir_.file("tmp"), tools_ = dir_.file("tools"), run_ = dir_.file("run"),
                stage_ = dir_.file("stage"), box_ = dir_.file("box");
    ScopedEnv tmpdir_{"TMPDIR", tmp_};
    ScopedEnv windir_{"KORRIN_WINDIR", tools_};
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", run_};
};

}  // namespace korrin::test
