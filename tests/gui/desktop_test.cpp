// What the main window asks of the desktop: the notification about a finished session, shown
// by a stand-in service on a private session bus (and nothing without one).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "helpers/SmtpServer.h"
#include "helpers/TestSupport.h"
#include "korrin/ui/Desktop.h"

using namespace korrin;
using namespace korrin::test;

namespace {

// A session bus of the test's own: dbus-daemon with the session configuration, stopped by its
// process id at the end.
class PrivateBus {
  public:
    PrivateBus() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1",
                              nullptr};
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            address_ += c;
        close(fds[0]);
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    const std::string& address() const { return address_; }

  private:
    pid_t pid_ = -1;
    std::string address_;
};

TEST(DesktopNotification, ShownByTheServiceOnlyWhenOneRuns) {
    ASSERT_EQ(access("/usr/bin/dbus-daemon", X_OK), 0)
        << "dbus is needed (scripts/install-deps.sh)";
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address());
    EXPECT_FALSE(NotifyDesktop(2, 1)) << "no notification service runs yet";

    TempDir dir;
    const std::string calls = dir.file("calls");
    SmtpServer service(
        std::vector<std::string>{SourceDir() + "/tests/gui/fake_notifications.py", calls});
    const struct { int sent, failed; } cases[] = {{2, 0}, {0, 1}, {3, 2}};
    std::size_t n = 0;
    for (const auto& c : cases) {
        ASSERT_TRUE(NotifyDesktop(c.sent, c.failed)) << c.sent << "/" << c.failed;
        const auto lines = ReadLines(calls);
        ASSERT_EQ(lines.size(), ++n);
        const std::string body = JsonField(lines.back(), "body");
        EXPECT_EQ(JsonField(lines.back(), "app"), "Korrin");
        EXPECT_FALSE(JsonField(lines.back(), "summary").empty());
        for (int count : {c.sent, c.failed}) {
            if (count > 0) {
                EXPECT_NE(body.find(std::to_string(count)), std::string::npos) << body;
            }
        }
        EXPECT_EQ(c.failed > 0, body.find("Outbox") != std::string::npos) << body;
    }
}

}  // namespace
