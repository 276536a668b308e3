#pragma once
// SIGTERM and SIGINT as an orderly exit: the handler writes one byte into a socket pair, and a
// socket notifier on the UI thread turns it into the exitRequested signal.

#include <QObject>

class QSocketNotifier;

namespace quodra::app {

class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;
    bool ok() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void exitRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace quodra::app
