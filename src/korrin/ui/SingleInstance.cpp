#include "korrin/ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "korrin/app/Requests.h"
#include "platform/files/Files.h"
#include "platform/files/PrivateTemp.h"
#include "platform/registry/Registry.h"

namespace korrin {

namespace {

constexpr qint64 kLineLimit = kInstanceLineLimit;

}  // namespace

std::string CSingleInstance::SocketPath() {
    const std::string folder = platform::PrivateTempFolder();
    if (folder.empty())
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(platform::RegistryPath()),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return folder + "/instance-" + hash.toStdString();
}

CSingleInstance::CSingleInstance() = default;

CSingleInstance::~CSingleInstance() {
    if (server_)
        server_->close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool CSingleInstance::Claim() {
    const std::string socket = SocketPath();
    if (socket.empty())
        return true;  // nowhere to meet: run alone
    lockFd_ = platform::OpenOrCreateFile(socket + ".lock", 0600);
    if (lockFd_ < 0)
        return true;
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd_);
        lockFd_ = -1;
        return false;
    }
    // Ours now: whatever socket is there was left by a run that died.
    QLocalServer::removeServer(QString::fromStdString(socket));
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (server_->listen(QString::fromStdString(socket)))
        connect(server_, &QLocalServer::newConnection, this, &CSingleInstance::onConnection);
    return true;
}

bool CSingleInstance::HandOver(const std::string& path) {
    const std::string socketPath = SocketPath();
    if (socketPath.empty())
        return false;
    QElapsedTimer clock;
    clock.start();
    QLocalSocket socket;
    // The running one may be starting up: try again until the limit.
    while (true) {
        socket.connectToServer(QString::fromStdString(socketPath));
        if (socket.waitForConnected(200))
            break;
        if (clock.elapsed() > kAnswerLimitMs)
            return false;
        QThread::msleep(50);
    }
    const QByteArray line =
        path.empty() ? QByteArray("RAISE\n") : "OPEN " + QByteArray::fromStdString(path) + "\n";
    socket.write(line);
    socket.flush();
    while (!socket.canReadLine()) {
        const int left = kAnswerLimitMs - static_cast<int>(clock.elapsed());
        if (left <= 0 || !socket.waitForReadyRead(left))
            return false;
    }
    return socket.readLine().trimmed() == "OK";
}

void CSingleInstance::SetHandlers(std::function<void(const std::string&)> open,
                                  std::function<void()> raise) {
    open_ = std::move(open);
    raise_ = std::move(raise);
}

void CSingleInstance::onConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kLineLimit)
                    socket->abort();
                return;
            }
            // A line longer than the limit arrives cut, without its newline: refused, never
            // taken for a shorter path.
            QByteArray line = socket->readLine(kLineLimit + 1);
            const bool whole = line.endsWith('\n');
            if (whole)
                line.chop(1);
            const InstanceRequest request =
                whole ? ParseInstanceRequest(std::string_view(line.constData(), line.size()))
                      : InstanceRequest();
            const bool ok = request.kind != InstanceRequest::kInvalid;
            if (request.kind == InstanceRequest::kRaise && raise_)
                raise_();
            else if (request.kind == InstanceRequest::kOpen && open_)
                open_(request.path);
            socket->write(ok ? "OK\n" : "NO\n");
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

}  // namespace korrin
