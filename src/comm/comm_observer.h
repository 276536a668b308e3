#pragma once
// What the device communication tells the user interface, and what it asks of it. Queries run on
// the UI thread and on the poll thread, so every call below may arrive on either; an
// implementation that touches widgets hands the call over to the UI thread (queued), in order.
// Nothing in src/comm calls a widget.

#include "core/device_table.h"

#include <QString>

#include <optional>

namespace quodra::comm {

// Background of a device's state cell in the grid while and after an interactive query.
enum class GridMark {
    Running,  // light blue #A6CAF0
    Answered, // green #00FF00
    Failed,   // red #FF0000
};

class CommObserver {
public:
    virtual ~CommObserver() = default;

    // Colour the state cell of this device (wherever it is in the grid now).
    virtual void gridMark(core::DeviceId /*device*/, GridMark /*mark*/) {}
    // One line for the diagnostic memo (texts read from a device).
    virtual void memoLine(const QString& /*line*/) {}
    // The device's record changed in a way the panels and the summary should show.
    virtual void refreshRequested(core::DeviceId /*device*/) {}
    // An interactive operation failed; show the text to the operator in a message box.
    virtual void showError(const QString& /*text*/) {}
    // Hourglass cursor on (true) or off (false) around an interactive operation.
    virtual void setBusy(bool /*on*/) {}
    // A condition the operator is told about once per run (memo line and status bar).
    virtual void operatorNotice(const QString& /*text*/) {}
};

struct LoginEntry {
    QString user;
    QString password;
};

// The login dialog and the message boxes of output switching.
class OutputSwitchUi {
public:
    virtual ~OutputSwitchUi() = default;
    // Ask for user name and password; nullopt when the operator cancels.
    virtual std::optional<LoginEntry> askLogin() = 0;
    // Show the current-language text of a named constant ("herrc", "herrp").
    virtual void showConstantMessage(const QString& constantName) = 0;
    // Show an error text as it is (a connection failure).
    virtual void showErrorText(const QString& text) = 0;
};

// Names of the constants the switch sequence reports.
inline const QString kConstConnectionFailed = QStringLiteral("herrc");
inline const QString kConstWrongPassword = QStringLiteral("herrp");

} // namespace quodra::comm
