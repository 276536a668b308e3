#pragma once
// One console per user: a lock file "NaseAplikace" in the user's runtime directory, and a local
// server beside it through which a second start asks the running console to show its window.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>

namespace quodra::app {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first: it then holds the lock and listens.
    bool acquire();
    // Asks the running console to show its window; false when it could not be reached.
    bool notifyRunning();

Q_SIGNALS:
    void showRequested();

private:
    QString m_dir;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};

} // namespace quodra::app
