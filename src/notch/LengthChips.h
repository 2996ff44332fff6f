#pragma once

#include <QWidget>

#include <vector>

class QAbstractButton;

// A row of capsule chips, one per save length; the chip equal to the selection is highlighted and a click
// selects its length. Bound two-way: the owner sets `selection` and listens to `selectionChanged`.
class LengthChips final : public QWidget {
    Q_OBJECT
public:
    explicit LengthChips(QWidget* parent = nullptr);

    const std::vector<double>& options() const { return m_options; }
    // Options are told apart by value, so the list must not hold the same value twice.
    void setOptions(const std::vector<double>& options);
    double selection() const { return m_selection; }
    void setSelection(double seconds);

    // "10s" for 10, "45s" for 45.5: the whole seconds, any fraction dropped.
    static QString label(double seconds);
    // The chips, in display order.
    std::vector<QAbstractButton*> chips() const;

    QSize sizeHint() const override;

signals:
    // A chip was clicked; `selection` already holds the new value.
    void selectionChanged(double seconds);

private:
    void layoutChips();

    std::vector<double> m_options;
    double m_selection = 0;
};
