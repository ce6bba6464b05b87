#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/files/Files.h"

using namespace korrin::platform;
using korrin::test::ReadFile;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;
using korrin::test::WriteFile;

namespace {

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                names.insert(n);
        }
        closedir(d);
    }
    return names;
}

struct timespec ModTime(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mtim;
}

}  // namespace

TEST(FilesSpecialFolders, TempPathAlwaysEndsInSlash) {
    for (const auto& [value, expected] :
         std::vector<std::pair<std::optional<std::string>, std::string>>{{std::nullopt, "/tmp/"},
                                                                         {"", "/tmp/"},
                                                                         {"/var/k", "/var/k/"},
                                                                         {"/var/k/", "/var/k/"}}) {
        ScopedEnv tmp("TMPDIR", value);
        EXPECT_EQ(GetTempPath(), expected) << value.value_or("(unset)");
    }
}

TEST(FilesSpecialFolders, ToolsDirectoryFollowsOverridesInOrder) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv windir("KORRIN_WINDIR", "/opt/tools/");
        ScopedEnv xdg("XDG_DATA_HOME", "/data");
        EXPECT_EQ(GetWindowsDirectory(), "/opt/tools");
    }
    ScopedEnv windir("KORRIN_WINDIR", std::nullopt);
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data");
        EXPECT_EQ(GetWindowsDirectory(), "/data/korrin/tools");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(GetWindowsDirectory(), "/home/someone/.local/share/korrin/tools");
    }
    ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(GetWindowsDirectory(), "/home/someone/.local/share/korrin/tools");
}

class FilesCopy : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string src_ = dir_.file("src.kx0");
    std::string dst_ = dir_.file("dst.kx0");
    void SetUp() override { WriteFile(src_, "source bytes"); }
};

TEST_F(FilesCopy, ReplacesExistingUnlessAskedNotTo) {
    WriteFile(dst_, "old destination");

    errno = 0;
    EXPECT_EQ(CopyFile(src_, dst_, true), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFile(dst_), "old destination");

    EXPECT_NE(CopyFile(src_, dst_, false), 0);
    EXPECT_EQ(ReadFile(dst_), "source bytes");
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"src.kx0", "dst.kx0"}));
}

TEST_F(FilesCopy, LeavesSourceUntouched) {
    const auto before = ModTime(src_);
    ASSERT_NE(CopyFile(src_, dst_, true), 0);
    const auto after = ModTime(src_);
    EXPECT_EQ(before.tv_sec, after.tv_sec);
    EXPECT_EQ(before.tv_nsec, after.tv_nsec);
    EXPECT_EQ(ReadFile(src_), "source bytes");
    EXPECT_EQ(ReadFile(dst_), "source bytes");

    ASSERT_NE(CopyFile(src_, src_, false), 0);  // onto itself
    EXPECT_EQ(ReadFile(src_), "source bytes");
}

TEST_F(FilesCopy, FailuresLeaveNoTemporaryFileBehind) {
    errno = 0;
    EXPECT_EQ(CopyFile(dir_.file("missing"), dst_, false), 0);
    EXPECT_EQ(errno, ENOENT);

    // The destination is a folder: the rename fails after the data was written.
    ASSERT_NE(CreateDirectory(dir_.file("folder")), 0);
    EXPECT_EQ(CopyFile(src_, dir_.file("folder"), false), 0);

    // A folder as the source.
    EXPECT_EQ(CopyFile(dir_.file("folder"), dst_, false), 0);
    EXPECT_EQ(errno, EISDIR);

    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"src.kx0", "folder"}));
    EXPECT_TRUE(Listing(dir_.file("folder")).empty());
}

TEST_F(FilesCopy, AFifoAsTheSourceIsRefusedWithoutWaiting) {
    korrin::test::FifoGuard fifo(dir_.file("fifo.kx0"));
    errno = 0;
    EXPECT_EQ(CopyFile(dir_.file("fifo.kx0"), dst_, false), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(fifo.rescued()) << "the copy waited for a writer";
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"src.kx0", "fifo.kx0"}));
}

TEST_F(FilesCopy, LargeFileArrivesIntact) {
    std::string big;
    big.reserve(5 * 1024 * 1024 + 7);
    for (std::size_t i = 0; i < big.capacity(); ++i)
        big += static_cast<char>((i * 2654435761u) >> 13);
    WriteFile(src_, big);
    ASSERT_NE(CopyFile(src_, dst_, false), 0);
    EXPECT_TRUE(ReadFile(dst_) == big);
}

TEST_F(FilesCopy, CopyOfReadOnlySourceStaysWritableByOwner) {
    ASSERT_EQ(chmod(src_.c_str(), 0444), 0);
    ASSERT_NE(CopyFile(src_, dst_, false), 0);
    struct stat st {};
    ASSERT_EQ(stat(dst_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600u);
}

class FilesMove : public ::testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(FilesMove, RefusesToReplaceAnExistingFile) {
    WriteFile(dir_.file("a"), "A");
    WriteFile(dir_.file("b"), "B");
    errno = 0;
    EXPECT_EQ(MoveFile(dir_.file("a"), dir_.file("b")), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFile(dir_.file("a")), "A");
    EXPECT_EQ(ReadFile(dir_.file("b")), "B");

    ASSERT_NE(MoveFile(dir_.file("a"), dir_.file("c")), 0);
    EXPECT_FALSE(FileExists(dir_.file("a")));
    EXPECT_EQ(ReadFile(dir_.file("c")), "A");
}

TEST_F(FilesMove, CrossesFileSystems) {
    struct stat here {
    }, shm{};
    if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm";
    ASSERT_EQ(stat(dir_.path().c_str(), &here), 0);
    if (here.st_dev == shm.st_dev)
        GTEST_SKIP() << "temp folder is on /dev/shm already";

    const std::string dst = "/dev/shm/korrin-move-" + std::to_string(getpid());
    WriteFile(dir_.file("m"), "moved across");
    WriteFile(dir_.file("n"), "stays");
    WriteFile(dst, "");
    unlink(dst.c_str());

    ASSERT_NE(MoveFile(dir_.file("m"), dst), 0);
    EXPECT_FALSE(FileExists(dir_.file("m")));
    EXPECT_EQ(ReadFile(dst), "moved across");

    // The copy path must still refuse an existing destination and keep the source.
    errno = 0;
    EXPECT_EQ(MoveFile(dir_.file("n"), dst), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFile(dir_.file("n")), "stays");
    EXPECT_EQ(ReadFile(dst), "moved across");
    unlink(dst.c_str());
}

TEST(FilesFolders, CreateRemoveAndDeleteKeepTheirLimits) {
    TempDir dir;
    const std::string sub = dir.file("sub");
    ASSERT_NE(CreateDirectory(sub), 0);
    struct stat st {};
    ASSERT_EQ(stat(sub.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
    EXPECT_EQ(CreateDirectory(sub), 0);
    EXPECT_EQ(CreateDirectory(dir.file("no/such/parent")), 0);

    WriteFile(sub + "/f", "x");
    EXPECT_EQ(RemoveDirectory(sub), 0);  // not empty
    EXPECT_EQ(DeleteFile(sub), 0);       // a folder is not a file
    EXPECT_NE(DeleteFile(sub + "/f"), 0);
    EXPECT_NE(RemoveDirectory(sub), 0);
}

TEST(FilesQueries, TellFilesFromFoldersAndOtherKinds) {
    TempDir dir;
    WriteFile(dir.file("f"), "x");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_TRUE(FileExists(dir.file("f")));
    EXPECT_TRUE(CanOpenForReading(dir.file("f")));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_TRUE(DirectoryExists(dir.path()));
    EXPECT_FALSE(CanOpenForReading(dir.path()));
    EXPECT_FALSE(CanOpenForReading(dir.file("none")));
    EXPECT_FALSE(FileExists(dir.file("fifo")));
    EXPECT_TRUE(CanOpenForReading(dir.file("fifo")));  // and does not hang

    std::uint64_t free = 0;
    EXPECT_NE(GetDiskFreeSpace(dir.path(), &free), 0);
    EXPECT_GT(free, 0u);
    EXPECT_EQ(GetDiskFreeSpace(dir.file("none"), &free), 0);
}

TEST(FilesNames, FileNameAndExtension) {
    EXPECT_EQ(FileNamePart("/a/b/KX12O.kx0"), "KX12O.kx0");
    EXPECT_EQ(FileNamePart("plain"), "plain");
    EXPECT_EQ(FileNamePart("/a/b/"), "");

    EXPECT_EQ(ExtensionOf("/home/u/Msg.KX1"), "KX1");  // case is kept; callers compare
    EXPECT_EQ(ExtensionOf("msg.kx0"), "kx0");
    EXPECT_EQ(ExtensionOf("voice.wave"), "wav");  // at most three characters
    EXPECT_EQ(ExtensionOf("a.b.tx"), "tx");
    EXPECT_EQ(ExtensionOf("/my.folder/noext"), "");  // a dot in a folder does not count
    EXPECT_EQ(ExtensionOf("/my.folder/"), "");
    EXPECT_EQ(ExtensionOf("trailing."), "");
    EXPECT_EQ(ExtensionOf(""), "");
}

// The one replace every writer goes through: what it does to the file it replaces, and that
// nothing but the old or the new file is ever left.
TEST(FilesReplace, KeepsTheOldFileUnlessTheNewOneIsComplete) {
    TempDir dir;
    const std::string path = dir.file("KX1O.kx0");
    struct Case {
        const char* what;
        bool exists;
        ReplaceOptions options;
        bool writes;
        bool ok;
        int error;
        unsigned mode;  // of the file afterwards
    } cases[] = {
        {"same mode, exactly", true, {}, true, true, 0, 0640},
        {"missing", false, {}, true, false, ENOENT, 0},
        {"new file", false, {ReplaceOptions::kSameMode, 0600, false}, true, true, 0, 0600},
        {"no replace", true, {ReplaceOptions::kSameMode, 0600, true}, true, false, EEXIST, 0640},
        {"write abandoned", true, {}, false, false, 0, 0640},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path.c_str());
        if (c.exists) {
            WriteFile(path, "old");
            ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        }
        errno = 0;
        const BOOL ok = ReplaceFileAtomically(
            path, [&](int fd) { return c.writes && WriteAll(fd, "new bytes", 9); }, c.options);
        EXPECT_EQ(ok != 0, c.ok);
        if (c.error) {
            EXPECT_EQ(errno, c.error);
        }
        EXPECT_EQ(Listing(dir.path()).size(), c.exists || c.ok ? 1u : 0u) << "leftover";
        if (c.ok) {
            EXPECT_EQ(ReadFile(path), "new bytes");
        } else if (c.exists) {
            EXPECT_EQ(ReadFile(path), "old");
        }
        struct stat st {};
        if (c.exists || c.ok) {
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, c.mode);
        }
    }
}

TEST(FilesReplace, UniqueNamesAreFreshAndInTheFolderGiven) {
    TempDir dir;
    std::string first, second;
    const int a = CreateUniqueFile(dir.path(), "~mail", "", 0600, &first);
    const int b = CreateUniqueFile(dir.path() + "/", "~mail", "", 0600, &second);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ::close(a);
    ::close(b);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(dir.path() + "/~mail", 0), 0u) << first;
    EXPECT_EQ(second.find("//"), std::string::npos) << second;
    std::string none;
    EXPECT_LT(CreateUniqueFile(dir.file("absent"), "x", "", 0600, &none), 0);
    EXPECT_EQ(errno, ENOENT);
}

// The ways the program opens files of its own: what each does with a name that is free, taken by
// a file, or taken by a link (whose target must stay as it was).
TEST(FilesOpen, NewAndOwnFilesNeverGoThroughALink) {
    TempDir dir;
    WriteFile(dir.file("target"), "keep");
    const struct {
        const char* what;
        int (*open)(const std::string&, unsigned);
        const char* name;
        bool opens;
        int error;
    } cases[] = {
        {"new file, free name", CreateNewFile, "free-new", true, 0},
        {"new file, existing file", CreateNewFile, "file", false, EEXIST},
        {"new file, link", CreateNewFile, "link", false, EEXIST},
        {"own file, free name", OpenOrCreateFile, "free-own", true, 0},
        {"own file, existing file", OpenOrCreateFile, "file", true, 0},
        {"own file, link", OpenOrCreateFile, "link", false, ELOOP},
    };
    for (const auto& c : cases) {
        WriteFile(dir.file("file"), "old");
        ::unlink(dir.file("link").c_str());
        ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
        errno = 0;
        const int fd = c.open(dir.file(c.name), 0600);
        EXPECT_EQ(fd >= 0, c.opens) << c.what;
        if (fd >= 0) {
            std::uint64_t size = 99;
            EXPECT_TRUE(GetOpenFileSize(fd, &size)) << c.what;
            EXPECT_EQ(size, std::string(c.name) == "file" ? 3u : 0u) << c.what;
            ::close(fd);
        } else {
            EXPECT_EQ(errno, c.error) << c.what;
        }
        EXPECT_EQ(ReadFile(dir.file("target")), "keep") << c.what;
    }
}

TEST(FilesOpen, AnUnnamedFileLeavesNoNameBehind) {
    TempDir dir;
    const int fd = CreateUnnamedFile(dir.path(), 0600);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "abc", 3));
    std::uint64_t size = 0;
    EXPECT_TRUE(GetOpenFileSize(fd, &size));
    EXPECT_EQ(size, 3u);
    ::close(fd);
    DIR* d = ::opendir(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    int names = 0;
    while (dirent* e = ::readdir(d))
        names += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    ::closedir(d);
    EXPECT_EQ(names, 0);
    EXPECT_LT(CreateUnnamedFile(dir.file("absent"), 0600), 0);
}
