#include "notch/LengthChips.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double fontSize = 11;
constexpr double paddingX = 9;
constexpr double paddingY = 5;
constexpr int spacing = 4;

QFont chipFont() {
    return NotchStyle::font(fontSize, QFont::DemiBold, NotchStyle::Design::Rounded);
}

// One chip: the capsule is the whole visual and the whole hit area.
class Chip final : public QAbstractButton {
public:
    Chip(double value, QWidget* parent)
        : QAbstractButton(parent)
        , m_value(value) {
        setText(LengthChips::label(value));
        setCheckable(false);
        setAttribute(Qt::WA_TranslucentBackground);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(sizeHint());
    }
    double value() const { return m_value; }
    bool selected = false;

    QSize sizeHint() const override {
        const QFontMetricsF metrics(chipFont());
        return QSize(int(std::ceil(metrics.horizontalAdvance(text()) + 2 * paddingX)),
                     int(std::ceil(metrics.height() + 2 * paddingY)));
    }

protected:
    bool hitButton(const QPoint& pos) const override {
        return ContinuousCorners::capsule(QRectF(rect())).contains(QPointF(pos));
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame(rect());
        painter.fillPath(ContinuousCorners::capsule(frame),
                         selected ? NotchStyle::white(0.9) : NotchStyle::white(0.1));
        painter.setFont(chipFont());
        painter.setPen(selected ? QColor(Qt::black) : NotchStyle::white(0.8));
        painter.drawText(frame, Qt::AlignCenter, text());
    }

private:
    double m_value;
};

} // namespace

LengthChips::LengthChips(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("lengthChips"));
    setAttribute(Qt::WA_TranslucentBackground);
}

QString LengthChips::label(double seconds) {
    // Save options are always finite; anything else has no whole-second value to show.
    const double whole = std::isfinite(seconds) ? std::trunc(seconds) : 0.0;
    return QString::number(static_cast<long long>(whole)) + QLatin1Char('s');
}

std::vector<QAbstractButton*> LengthChips::chips() const {
    std::vector<QAbstractButton*> list;
    for (QObject* child : children())
        if (auto* chip = dynamic_cast<Chip*>(child)) list.push_back(chip);
    return list;
}

void LengthChips::setOptions(const std::vector<double>& options) {
    if (options == m_options) return;
    m_options = options;
    // A chip may be the sender of the click that led here; it goes after the event.
    for (QAbstractButton* chip : chips()) {
        chip->hide();
        chip->setParent(nullptr);
        chip->deleteLater();
    }
    for (double value : m_options) {
        auto* chip = new Chip(value, this);
        chip->selected = value == m_selection;
        connect(chip, &QAbstractButton::clicked, this, [this, value] {
            setSelection(value);
            emit selectionChanged(value);
        });
        chip->show();
    }
    layoutChips();
    setFixedSize(sizeHint());
}

void LengthChips::setSelection(double seconds) {
    m_selection = seconds;
    for (QAbstractButton* button : chips()) {
        auto* chip = static_cast<Chip*>(button);
        const bool selected = chip->value() == seconds;
        if (chip->selected != selected) {
            chip->selected = selected;
            chip->update();
        }
    }
}

QSize LengthChips::sizeHint() const {
    int width = 0;
    int height = 0;
    for (QAbstractButton* chip : chips()) {
        width += chip->width() + (width > 0 ? spacing : 0);
        height = std::max(height, chip->height());
    }
    return QSize(width, height);
}

void LengthChips::layoutChips() {
    const int height = sizeHint().height();
    int x = 0;
    for (QAbstractButton* chip : chips()) {
        chip->move(x, (height - chip->height()) / 2);
        x += chip->width() + spacing;
    }
}
