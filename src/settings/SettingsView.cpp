#include "settings/SettingsView.h"

#include "base/Logging.h"
#include "platform/LoginItem.h"
#include "platform/PreferencesStore.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct Choice {
    QString label;
    QVariant value; // written as is, so the store keeps the type the getters expect
};

struct Picker {
    QString key;
    QString title;
    QList<Choice> choices;
};

const QList<Picker>& pickers() {
    static const QList<Picker> table = {
        {Settings::Keys::buffer,
         QStringLiteral("Keep the last"),
         {{QStringLiteral("15 seconds"), 15.0},
          {QStringLiteral("30 seconds"), 30.0},
          {QStringLiteral("60 seconds"), 60.0},
          {QStringLiteral("2 minutes"), 120.0}}},
        {Settings::Keys::fps,
         QStringLiteral("Smoothness"),
         {{QStringLiteral("15 fps · lighter on battery"), 15}, {QStringLiteral("30 fps · smooth"), 30}}},
        {Settings::Keys::maxWidth,
         QStringLiteral("Resolution"),
         {{QStringLiteral("1280 px · smallest files"), 1280.0},
          {QStringLiteral("1920 px · recommended"), 1920.0},
          {QStringLiteral("2560 px · sharpest"), 2560.0}}},
    };
    return table;
}

const QString loginErrorText =
    QStringLiteral("Couldn't change this. Check that ~/.config/autostart can be written, then try again.");

constexpr int sectionRadius = 8;
constexpr int rowInset = 12;

// What the store holds for `key`, or the registered default when it holds nothing (also without a store).
QVariant storedValue(const QString& key) {
    const QVariant value = Settings::store() ? Settings::store()->value(key) : QVariant();
    if (value.isValid()) return value;
    for (const Settings::Option& option : Settings::options())
        if (option.key == key) return option.defaultValue;
    return {};
}

QColor mix(const QColor& a, const QColor& b, double amountOfB) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * amountOfB),
                            float(a.greenF() + (b.greenF() - a.greenF()) * amountOfB),
                            float(a.blueF() + (b.blueF() - a.blueF()) * amountOfB));
}

// The caption and footnote size: a step below the body text, whatever font the desktop chose.
QFont smaller(QFont font) {
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

// One section of the grouped form: a rounded card of rows with hairlines between them. Every colour comes
// from the palette, so the card follows a light or dark desktop.
class FormSection final : public QWidget {
public:
    explicit FormSection(QWidget* parent)
        : QWidget(parent)
        , m_rows(new QVBoxLayout(this)) {
        m_rows->setContentsMargins(rowInset, 0, rowInset, 0);
        m_rows->setSpacing(0);
    }

    // A row for the caller to fill; its layout holds the row's padding.
    template <typename Layout> Layout* addRow() {
        auto* row = new QWidget(this);
        auto* layout = new Layout(row);
        layout->setContentsMargins(0, 7, 0, 7);
        row->setMinimumHeight(38);
        m_rows->addWidget(row);
        return layout;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor window = palette().color(QPalette::Window), base = palette().color(QPalette::Base);
        // The card stands out lighter than the window: the view colour in light themes; in dark ones,
        // where the view colour sinks below the window (and check boxes are filled with it), a lifted window.
        const QColor card = base.lightness() >= window.lightness() ? base : window.lighter(125);
        painter.setPen(QPen(mix(window, palette().color(QPalette::WindowText), 0.15), 1));
        painter.setBrush(card);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), sectionRadius, sectionRadius);
        for (int i = 0; i + 1 < m_rows->count(); ++i) {
            const QRect row = m_rows->itemAt(i)->geometry();
            const double y = row.bottom() + 0.5;
            painter.drawLine(QPointF(row.left(), y), QPointF(row.right() + 1, y));
        }
    }

private:
    QVBoxLayout* m_rows;
};

FormSection* addSection(QVBoxLayout* form, const QString& header) {
    if (!header.isEmpty()) {
        auto* label = new QLabel(header, form->parentWidget());
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        label->setContentsMargins(4, 6, 0, 0);
        form->addWidget(label);
    }
    auto* section = new FormSection(form->parentWidget());
    form->addWidget(section);
    return section;
}

// Secondary text: the palette's dimmed foreground, so it dims in light and dark alike.
QLabel* dimmedLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

SettingsView::SettingsView(LoginItem& loginItem, std::function<void()> openFolder, QWidget* parent)
    : QWidget(parent)
    , m_loginItem(loginItem)
    , m_openFolder(std::move(openFolder)) {
    setFixedWidth(formWidth);
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(20, 14, 20, 20);
    form->setSpacing(6);

    FormSection* buffer = addSection(form, QStringLiteral("Replay buffer"));
    for (const Picker& picker : pickers()) {
        auto* row = buffer->addRow<QHBoxLayout>();
        auto* title = new QLabel(picker.title);
        auto* box = new QComboBox;
        box->setObjectName(picker.key);
        for (const Choice& choice : picker.choices)
            box->addItem(choice.label, choice.value);
        title->setBuddy(box);
        row->addWidget(title);
        row->addStretch();
        row->addWidget(box);
        // activated: the user's choice only, so showing a stored value never writes it back.
        connect(box, &QComboBox::activated, this,
                [box, key = picker.key] { Settings::setValue(key, box->currentData()); });
        m_pickers << box;
    }

    form->addSpacing(8);
    FormSection* behaviour = addSection(form, QStringLiteral("Behaviour"));
    const std::pair<QString, QString> toggles[] = {
        {Settings::Keys::autoPause, QStringLiteral("Pause and clear the buffer when the screen locks")},
        {Settings::Keys::sound, QStringLiteral("Play a sound when a replay is saved")},
    };
    for (const auto& [key, text] : toggles) {
        auto* toggle = new QCheckBox(text);
        toggle->setObjectName(key);
        behaviour->addRow<QHBoxLayout>()->addWidget(toggle);
        connect(toggle, &QCheckBox::clicked, this, [key](bool on) { Settings::setValue(key, on); });
        m_toggles << toggle;
    }
    auto* loginRow = behaviour->addRow<QVBoxLayout>();
    m_launchAtLogin = new QCheckBox(QStringLiteral("Open Ferrovane at login"));
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    m_launchAtLogin->setChecked(m_loginItem.enabled());
    m_loginError = new QLabel(loginErrorText);
    m_loginError->setObjectName(QStringLiteral("loginError"));
    m_loginError->setWordWrap(true);
    m_loginError->setFont(smaller(m_loginError->font()));
    m_loginError->hide();
    colourLoginError();
    loginRow->addWidget(m_launchAtLogin);
    loginRow->addWidget(m_loginError);
    connect(m_launchAtLogin, &QCheckBox::clicked, this, &SettingsView::setLaunchAtLogin);

    form->addSpacing(8);
    FormSection* clips = addSection(form, QStringLiteral("Clips"));
    const std::pair<QString, QString> values[] = {
        {QStringLiteral("Saved to"), Settings::folderAsPath()},
        {QStringLiteral("Shortcut"), QStringLiteral("Ctrl+Alt+R saves from anywhere")},
    };
    for (const auto& [title, text] : values) {
        auto* row = clips->addRow<QHBoxLayout>();
        auto* value = dimmedLabel(text);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(new QLabel(title));
        row->addStretch();
        row->addWidget(value);
        if (title == QLatin1String("Shortcut")) m_shortcut = value;
    }
    m_shortcut->setObjectName(QStringLiteral("shortcut"));
    auto* open = new QPushButton(QStringLiteral("Open Replays Folder"));
    auto* buttonRow = clips->addRow<QHBoxLayout>();
    buttonRow->addWidget(open);
    buttonRow->addStretch();
    connect(open, &QPushButton::clicked, this, [this] {
        if (m_openFolder) m_openFolder();
    });

    form->addSpacing(8);
    auto* footnote =
        dimmedLabel(QStringLiteral("Everything stays on this computer. Ferrovane never uploads your "
                                   "screen, and the rolling buffer is deleted when you pause or "
                                   "quit."));
    footnote->setWordWrap(true);
    footnote->setFont(smaller(footnote->font()));
    addSection(form, QString())->addRow<QHBoxLayout>()->addWidget(footnote);

    showStoredValues();
    // The store also changes from outside (a text editor, another instance): the form shows it at once.
    if (PreferencesStore* store = Settings::store())
        connect(store, &PreferencesStore::changed, this, &SettingsView::showStoredValues);
}

void SettingsView::showStoredValues() {
    for (QComboBox* box : std::as_const(m_pickers)) {
        bool isNumber = false;
        const double stored = storedValue(box->objectName()).toDouble(&isNumber);
        int index = -1;
        for (int i = 0; isNumber && i < box->count(); ++i)
            if (box->itemData(i).toDouble() == stored) index = i;
        box->setCurrentIndex(index);
    }
    for (QCheckBox* toggle : std::as_const(m_toggles))
        toggle->setChecked(toggle->objectName() == Settings::Keys::sound ? Settings::playSound()
                                                                         : Settings::autoPauseOnLock());
}

void SettingsView::setLaunchAtLogin(bool on) {
    const Status status = on ? m_loginItem.registerItem() : m_loginItem.unregisterItem();
    // On failure the toggle shows the truth again, read back from the entry itself.
    m_launchAtLogin->setChecked(status.ok() ? on : m_loginItem.enabled());
    m_loginError->setVisible(!status.ok());
    // The message says what the user can do; the reason stays at hand for whoever looks closer.
    m_loginError->setToolTip(status.ok() ? QString() : status.error().message);
    if (!status.ok()) qCInfo(lcSettings) << "login item:" << status.error().message;
}

void SettingsView::setShortcutBound(bool bound) {
    m_shortcut->setWordWrap(!bound);
    m_shortcut->setText(bound ? QStringLiteral("Ctrl+Alt+R saves from anywhere")
                              : QStringLiteral("Not bound on this desktop. Bind ferrovane --save to a key in "
                                               "your desktop's keyboard settings."));
}

void SettingsView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) colourLoginError();
    QWidget::changeEvent(event);
}

// The one colour not taken from the palette: the system's red, lighter on a dark background to keep its
// contrast.
void SettingsView::colourLoginError() {
    QPalette palette = m_loginError->palette();
    const bool dark = this->palette().color(QPalette::Base).lightness() < 128;
    palette.setColor(QPalette::WindowText, dark ? QColor(0xff, 0x6b, 0x61) : QColor(0xc0, 0x1c, 0x28));
    m_loginError->setPalette(palette);
}
