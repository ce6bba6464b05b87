// One running program per user and settings database. The first start holds a lock and
// listens on a local socket in the private folder; a later start hands its file (as an
// absolute path) or a plain "show yourself" to it and ends. A socket left by a killed run is
// taken over (its lock died with it); of two starts at once one becomes the running program;
// when the running one does not answer within the limit, the later start runs by itself.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QLocalServer;

namespace korrin {

class CSingleInstance : public QObject {
    Q_OBJECT

  public:
    static constexpr int kAnswerLimitMs = 2000;

    CSingleInstance();
    ~CSingleInstance() override;

    // True when this start is the running program (it then listens); false when another
    // holds the lock.
    bool Claim();
    // Hands path ("" for none) to the running program. True when it answered.
    bool HandOver(const std::string& path);

    // Where requests go once the window runs. User-interface thread.
    void SetHandlers(std::function<void(const std::string&)> open, std::function<void()> raise);

    // The socket's path (for tests).
    static std::string SocketPath();

  private:
    void onConnection();

    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
    std::function<void(const std::string&)> open_;
    std::function<void()> raise_;
};

}  // namespace korrin
