#pragma once

#include <QTimer>
#include <QWidget>

// The working visual: a faint 44-point rounded tile with a small white indeterminate progress spinner.
// It turns only while shown.
class Spinner final : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 44;

    explicit Spinner(QWidget* parent = nullptr);

    QSize sizeHint() const override { return QSize(side, side); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_step;
    int m_leadingSpoke = 0;
};
