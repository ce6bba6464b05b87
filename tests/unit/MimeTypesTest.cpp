// The mime.types reader behind HKEY_CLASSES_ROOT\.ext\Content Type.
#include "platform/registry/MimeTypes.h"

#include "helpers/TestSupport.h"

namespace {

using korrin::platform::MimeTypeForExtension;
using korrin::platform::SystemMimeTypeForExtension;

TEST(MimeTypes, ReadsTheLinesAWellFormedFileHas) {
    const std::string file =
        "# audio/x-commented wav\n"
        "audio/x-wav\t\t\t\twav\n"
        "audio/basic au snd # trailing note\r\n"
        "audio/wav wav\n"
        "   image/png   PNG  \n"
        "text/plain\n";
    EXPECT_EQ(MimeTypeForExtension(file, "wav"), "audio/x-wav") << "first line wins";
    EXPECT_EQ(MimeTypeForExtension(file, "WAV"), "audio/x-wav");
    EXPECT_EQ(MimeTypeForExtension(file, "snd"), "audio/basic") << "CR before the LF";
    EXPECT_EQ(MimeTypeForExtension(file, "png"), "image/png");
    EXPECT_EQ(MimeTypeForExtension(file, "note"), std::nullopt) << "inside a comment";
    EXPECT_EQ(MimeTypeForExtension(file, "commented"), std::nullopt);
}

TEST(MimeTypes, MatchesWholeExtensionsOnly) {
    const std::string file = "audio/x-wav wav\nnot-a-type wa\nx/y\tw";
    EXPECT_EQ(MimeTypeForExtension(file, "wa"), std::nullopt);
    EXPECT_EQ(MimeTypeForExtension(file, "wavx"), std::nullopt);
    EXPECT_EQ(MimeTypeForExtension(file, "w"), "x/y") << "last line without a newline";
    EXPECT_EQ(MimeTypeForExtension(file, ""), std::nullopt);
    EXPECT_EQ(MimeTypeForExtension(file, "x/y"), std::nullopt);
}

TEST(MimeTypes, MissingOrOddFileKnowsNothing) {
    korrin::test::TempDir dir;
    for (const std::string& path : {dir.file("absent"), dir.path()}) {
        korrin::test::ScopedEnv env("KORRIN_MIME_TYPES", path);
        EXPECT_EQ(SystemMimeTypeForExtension("wav"), std::nullopt) << path;
    }
    korrin::test::FifoGuard fifo(dir.file("fifo"));
    korrin::test::ScopedEnv env("KORRIN_MIME_TYPES", dir.file("fifo"));
    EXPECT_EQ(SystemMimeTypeForExtension("wav"), std::nullopt);
    EXPECT_FALSE(fifo.rescued()) << "the lookup waited for a writer";
}

}  // namespace
