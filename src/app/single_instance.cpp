#include "app/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace quodra::app {

namespace {
const QString kName = QStringLiteral("NaseAplikace");
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent)
{
    m_dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (m_dir.isEmpty())
        m_dir = QDir::tempPath();
    QDir().mkpath(m_dir);
    m_lock = std::make_unique<QLockFile>(QDir(m_dir).filePath(kName + QStringLiteral(".lock")));
    m_lock->setStaleLockTime(0); // a lock whose owner died is taken over
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().startsWith("show"))
                    Q_EMIT showRequested();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    if (m_lock)
        m_lock->unlock();
}

bool SingleInstance::acquire()
{
    if (!m_lock->tryLock(0))
        return false;
    const QString serverPath = QDir(m_dir).filePath(kName + QStringLiteral(".sock"));
    QLocalServer::removeServer(serverPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(serverPath); // without it the console still runs; only "show" is lost
    return true;
}

bool SingleInstance::notifyRunning()
{
    QLocalSocket socket;
    socket.connectToServer(QDir(m_dir).filePath(kName + QStringLiteral(".sock")));
    if (!socket.waitForConnected(500))
        return false;
    socket.write("show\n");
    return socket.waitForBytesWritten(500);
}

} // namespace quodra::app
