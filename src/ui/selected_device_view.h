#pragma once
// The main area of the window until the detail panels arrive: a plain read-out of the selected
// device (address, type, description, communication state, alarms and value texts).

#include "core/device_table.h"

#include <QWidget>

class QLabel;

namespace quodra::ui {

class SelectedDeviceView : public QWidget {
    Q_OBJECT
public:
    explicit SelectedDeviceView(QWidget* parent = nullptr);
    void showDevice(const core::DeviceSnapshot& device, const QString& decimalsNote = {});

Q_SIGNALS:
    // The pointer moved over the main area (an edited period is applied then).
    void pointerMoved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_body;
};

} // namespace quodra::ui
