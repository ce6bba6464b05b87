// The real SMTP server of the mail tests (aiosmtpd, tests/integration/mail/smtp_server.py) on
// a free port of 127.0.0.1, started for one test and stopped by its process id at the end.
// Every accepted mail lands in the output folder as mailN.eml with mailN.json (envelope).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "helpers/TestSupport.h"

extern char** environ;

namespace korrin::test {

inline constexpr const char* kSystemPython = "/usr/bin/python3";  // the one with aiosmtpd

inline std::string MailScript(const std::string& name) {
    return SourceDir() + "/tests/integration/mail/" + name;
}

class SmtpServer {
  public:
    explicit SmtpServer(const std::string& outdir)
        : SmtpServer(std::vector<std::string>{MailScript("smtp_server.py"), outdir}) {}
    // Any server script with its arguments; it prints its port on its first line.
    explicit SmtpServer(std::vector<std::string> args) {
        args.insert(args.begin(), kSystemPython);
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kSystemPython, &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        std::string line;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(fds[0]);
        port_ = line.empty() ? 0 : std::atoi(line.c_str());
    }
    ~SmtpServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;
    int port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// A TCP socket on a free port of 127.0.0.1, listening unless told otherwise (then the port is
// one nobody answers once the socket is gone). Closed with the object.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(bool listening = true) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            (listening && listen(fd_, 8) != 0))
            return;
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackSocket() {
        if (fd_ >= 0)
            close(fd_);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    int fd() const { return fd_; }
    int port() const { return port_; }  // 0 when the socket could not be set up

  private:
    int fd_ = -1;
    int port_ = 0;
};

// What check_mail.py finds in one received mail (one JSON line), compared with originals.
inline RunResult CheckMail(const std::string& eml, const std::string& original = "") {
    std::vector<std::string> argv = {kSystemPython, MailScript("check_mail.py"), eml};
    if (!original.empty())
        argv.push_back(original);
    return Run(argv);
}

}  // namespace korrin::test
