#pragma once

#include <QWidget>

// The hot key's key cap: small text in an outlined rounded rectangle.
class KeyCap final : public QWidget {
    Q_OBJECT
public:
    explicit KeyCap(const QString& text, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};
