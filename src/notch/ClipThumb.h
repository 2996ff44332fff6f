#pragma once

#include <QImage>
#include <QWidget>

// The last clip's thumbnail, 78 by 48, cropped to fill, with its length in a badge at the bottom right.
class ClipThumb final : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 78;
    static constexpr int height = 48;

    explicit ClipThumb(QWidget* parent = nullptr);

    const QImage& image() const { return m_image; }
    double duration() const { return m_duration; }
    // The badge's text.
    QString durationText() const;
    void set(const QImage& image, double durationSeconds);

    QSize sizeHint() const override { return QSize(width, height); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    double m_duration = 0;
};
