#pragma once
// The main window's status bar: device count (left), poll countdown (middle, a click pauses it)
// and the aggregate tags (right).

#include <QLabel>
#include <QStatusBar>

namespace quodra::ui {

class CountdownLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // The pointer shows the pause cursor while the countdown runs.
    void setCountdownRunning(bool running);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class MainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit MainStatusBar(QWidget* parent = nullptr);

    void setCountText(const QString& text);
    void setCountdownText(const QString& text, bool running);
    void setTagText(const QString& text);
    QString countText() const;
    QString countdownText() const;
    QString tagText() const;

Q_SIGNALS:
    void countdownClicked();

private:
    QLabel* m_count;
    CountdownLabel* m_countdown;
    QLabel* m_tags;
};

} // namespace quodra::ui
