#pragma once
// The communication observer of the console: every call, from whichever thread it comes, becomes
// a signal delivered to the UI thread by a queued connection, in call order. Nothing here touches
// a widget.

#include "comm/comm_observer.h"

#include <QObject>

namespace quodra::ui {

class QueuedCommObserver : public QObject, public comm::CommObserver {
    Q_OBJECT
public:
    using QObject::QObject;

    void gridMark(core::DeviceId device, comm::GridMark mark) override
    {
        Q_EMIT markArrived(device, int(mark));
    }
    void memoLine(const QString& line) override { Q_EMIT memoLineArrived(line); }
    void refreshRequested(core::DeviceId device) override { Q_EMIT refreshArrived(device); }
    void showError(const QString& text) override { Q_EMIT errorArrived(text); }
    void setBusy(bool on) override { Q_EMIT busyArrived(on); }
    void operatorNotice(const QString& text) override { Q_EMIT noticeArrived(text); }

Q_SIGNALS:
    void markArrived(quint64 device, int mark);
    void memoLineArrived(const QString& line);
    void refreshArrived(quint64 device);
    void errorArrived(const QString& text);
    void busyArrived(bool on);
    void noticeArrived(const QString& text);
};

} // namespace quodra::ui
