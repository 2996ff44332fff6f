#include "notch/NotchCard.h"

#include "notch/ClipThumb.h"
#include "notch/IconButton.h"
#include "notch/IconTile.h"
#include "notch/KeyCap.h"
#include "notch/LengthChips.h"
#include "notch/NotchStyle.h"
#include "notch/NotchText.h"
#include "notch/PillButton.h"
#include "notch/ReplayModel.h"
#include "notch/Spinner.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int rowSpacing = 12;
constexpr int leadingSpacing = 12;
constexpr int textSpacing = 3;
constexpr int controlSpacing = 6;
// As tall as a title and a two-line subtitle, whose place a long title takes.
constexpr int wrappedTitleLines = 3;

// Runs a callback of the record; one the controller left empty does nothing.
std::function<void()> call(const std::function<void()>& callback) {
    return [callback] {
        if (callback) callback();
    };
}

QString saveTitle(double seconds) {
    const double whole = std::isfinite(seconds) ? std::trunc(seconds) : 0.0;
    return QStringLiteral("Save %1s").arg(static_cast<long long>(whole));
}

// The live subtitle counts whole seconds, rounded half away from zero.
QString liveSubtitle(double buffered) {
    const double n = std::isfinite(buffered) ? std::round(buffered) : 0.0;
    if (n >= 1)
        return QStringLiteral("Last %1s ready to save. Works from any app.").arg(static_cast<long long>(n));
    return QStringLiteral("Filling the buffer…");
}

} // namespace

NotchCard::NotchCard(ReplayModel& model, const NotchActions& actions, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_actions(actions) {
    setObjectName(QStringLiteral("card"));
    setAttribute(Qt::WA_TranslucentBackground);
    m_spinner = new Spinner(this);
    m_thumb = new ClipThumb(this);
    m_tile = new IconTile(this);
    for (QWidget* visual :
         {static_cast<QWidget*>(m_spinner), static_cast<QWidget*>(m_thumb), static_cast<QWidget*>(m_tile)})
        visual->hide();
    m_title = new NotchText(NotchStyle::font(14, QFont::DemiBold), Qt::white, 1, this);
    m_title->setObjectName(QStringLiteral("title"));
    m_subtitle = new NotchText(NotchStyle::font(11, QFont::Normal), NotchStyle::white(0.6), 2, this);
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    m_keyCap = new KeyCap(QStringLiteral("Ctrl+Alt+R"), this);
    m_keyCap->hide();

    m_controls = new QWidget(this);
    m_controls->setObjectName(QStringLiteral("controls"));
    m_controls->setAttribute(Qt::WA_TranslucentBackground);
    m_chips = new LengthChips(m_controls);
    connect(m_chips, &LengthChips::selectionChanged, this,
            [this](double seconds) { m_model.setSaveLength(seconds); });
    const NotchActions& a = m_actions;
    m_pause = new IconButton(QStringLiteral("pause.fill"), QStringLiteral("Pause and clear the buffer"),
                             call(a.togglePause), m_controls);
    m_settings = new IconButton(QStringLiteral("gearshape"), QStringLiteral("Settings"), call(a.openSettings),
                                m_controls);
    m_save = new PillButton(saveTitle(30), QStringLiteral("record.circle"), true, call(a.save), m_controls);
    m_copy =
        new PillButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), true, call(a.copy), m_controls);
    m_claude = new PillButton(QStringLiteral("Claude"), QStringLiteral("sparkles"), false, call(a.handoff),
                              m_controls);
    m_play =
        new IconButton(QStringLiteral("play.fill"), QStringLiteral("Play"), call(a.openClip), m_controls);
    m_reveal = new IconButton(QStringLiteral("folder"), QStringLiteral("Show in Folder"), call(a.reveal),
                              m_controls);
    m_resume = new PillButton(QStringLiteral("Resume"), QStringLiteral("play.fill"), true,
                              call(a.togglePause), m_controls);
    m_retry = new PillButton(QStringLiteral("Retry"), QStringLiteral("arrow.clockwise"), false, call(a.retry),
                             m_controls);
    m_privacy = new PillButton(QStringLiteral("Open Privacy Settings"), QStringLiteral("lock.shield"), true,
                               call(a.openPrivacySettings), m_controls);
    const std::pair<QWidget*, const char*> names[] = {
        {m_pause, "pauseButton"},    {m_settings, "settingsButton"}, {m_save, "saveButton"},
        {m_copy, "copyButton"},      {m_claude, "claudeButton"},     {m_play, "playButton"},
        {m_reveal, "revealButton"},  {m_resume, "resumeButton"},     {m_retry, "retryButton"},
        {m_privacy, "privacyButton"}};
    for (auto [widget, name] : names) {
        widget->setObjectName(QString::fromLatin1(name));
        widget->hide();
    }
    m_chips->hide();
    refresh();
}

void NotchCard::setVisual(Visual visual) {
    QWidget* next = visual == Visual::Spinner ? static_cast<QWidget*>(m_spinner)
                    : visual == Visual::Thumb ? static_cast<QWidget*>(m_thumb)
                                              : static_cast<QWidget*>(m_tile);
    if (next == m_visual) return;
    if (m_visual) m_visual->hide();
    m_visual = next;
    m_visual->show();
}

void NotchCard::setControls(std::vector<QWidget*> items) {
    for (QWidget* widget : m_items)
        if (widget && std::find(items.begin(), items.end(), widget) == items.end()) widget->hide();
    m_items = std::move(items);
    for (QWidget* widget : m_items)
        if (widget) widget->show();
}

void NotchCard::refresh() {
    const Phase& phase = m_model.phase();
    const QColor gray = NotchStyle::gray();
    const std::vector<QColor> grayTile{NotchStyle::withOpacity(gray, 0.6),
                                       NotchStyle::withOpacity(gray, 0.35)};
    std::vector<QWidget*> recording;
    if (m_model.saveOptions().size() >= 2) recording.push_back(m_chips);
    recording.insert(recording.end(), {nullptr, m_pause, m_settings, m_save});
    const std::vector<QWidget*> clip{m_copy, m_claude, nullptr, m_play, m_reveal};

    switch (phase.kind()) {
    case Phase::Kind::Working:
        setVisual(Visual::Spinner);
        m_title->setText(phase.text());
        m_subtitle->setText(QStringLiteral("One moment."));
        setControls({});
        break;
    case Phase::Kind::Starting:
        setVisual(Visual::Spinner);
        m_title->setText(QStringLiteral("Starting replay buffer…"));
        m_subtitle->setText(QStringLiteral("Your desktop may ask which screen to share."));
        setControls({});
        break;
    case Phase::Kind::Saved:
        setVisual(Visual::Thumb);
        m_title->setText(QStringLiteral("Replay saved"));
        m_subtitle->setText(formatDuration(m_model.lastDuration()) + QStringLiteral(" saved to ") +
                            Settings::folderAsPlace());
        setControls(clip);
        break;
    case Phase::Kind::Copied:
        setVisual(Visual::Thumb);
        m_title->setText(QStringLiteral("Clip copied"));
        m_subtitle->setText(QStringLiteral("Paste it into Slack, Messages, email or a bug report."));
        setControls(clip);
        break;
    case Phase::Kind::HandedOff:
        setVisual(Visual::Thumb);
        m_title->setText(QStringLiteral("Ready for Claude"));
        m_subtitle->setText(
            QStringLiteral("A prompt with %1 frames is on your clipboard. Paste it into Claude Code.")
                .arg(Settings::handoffFrames));
        setControls(clip);
        break;
    case Phase::Kind::Notice:
        setVisual(Visual::Tile);
        m_tile->set(QStringLiteral("info"),
                    {NotchStyle::orange(), NotchStyle::withOpacity(NotchStyle::orange(), 0.6)});
        m_title->setText(phase.text());
        m_subtitle->setText(m_model.writeError().isEmpty()
                                ? QStringLiteral("Still recording in the background.")
                                : m_model.writeError());
        setControls(recording);
        break;
    case Phase::Kind::Failed:
        setVisual(Visual::Tile);
        m_tile->set(QStringLiteral("exclamationmark.triangle.fill"), grayTile);
        m_title->setText(QStringLiteral("Replay can't record"));
        m_subtitle->setText(phase.text());
        setControls({nullptr, m_retry, m_privacy});
        break;
    case Phase::Kind::Live:
        setVisual(Visual::Tile);
        if (!m_model.writeError().isEmpty()) {
            // Capture runs but nothing reaches the buffer: say so rather than offer seconds it lacks.
            m_tile->set(QStringLiteral("exclamationmark.triangle.fill"),
                        {NotchStyle::orange(), NotchStyle::withOpacity(NotchStyle::orange(), 0.6)});
            m_title->setText(QStringLiteral("Not recording"));
            m_subtitle->setText(m_model.writeError());
        } else {
            m_tile->set(QStringLiteral("arrow.counterclockwise"),
                        {QColor::fromRgbF(1.0f, 0.3f, 0.25f), QColor::fromRgbF(0.95f, 0.55f, 0.2f)});
            m_title->setText(QStringLiteral("Instant Replay"));
            m_subtitle->setText(liveSubtitle(m_model.buffered()));
        }
        setControls(recording);
        break;
    case Phase::Kind::Paused:
        setVisual(Visual::Tile);
        m_tile->set(QStringLiteral("pause.fill"), grayTile);
        m_title->setText(QStringLiteral("Replay is paused"));
        m_subtitle->setText(QStringLiteral("Nothing is being recorded. The buffer was cleared."));
        setControls({nullptr, m_settings, m_resume});
        break;
    }
    m_thumb->set(m_model.lastThumbnail(), m_model.lastDuration());
    // A key that does nothing on this desktop is not offered.
    m_showsKeyCap = phase == Phase::live() && m_model.hotKeyBound();
    m_keyCap->setVisible(m_showsKeyCap);
    m_chips->setOptions(m_model.saveOptions());
    m_chips->setSelection(m_model.saveLength());
    m_save->setTitle(saveTitle(m_model.saveLength()));
    layoutContent();
}

void NotchCard::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutContent();
}

void NotchCard::layoutContent() {
    const int width = this->width();
    const QSize visual = m_visual ? m_visual->size() : QSize();
    const QSize key = m_showsKeyCap ? m_keyCap->size() : QSize();
    // Spacing falls between every pair of neighbours, the flexible space included.
    const double textRoom = std::max(0, width - visual.width() - 2 * leadingSpacing -
                                            (m_showsKeyCap ? leadingSpacing + key.width() : 0));
    // A title too long for its line (a save's failure with its reason) wraps into the subtitle's place: the
    // reason is read whole, and "Still recording" can wait.
    const bool titleWraps = m_title->idealWidth() > textRoom;
    m_title->setMaxLines(titleWraps ? wrappedTitleLines : 1);
    m_subtitle->setVisible(!titleWraps);
    const double titleWidth = std::min(m_title->idealWidth(), textRoom);
    const double titleHeight = m_title->heightForWidth(textRoom);
    const double subtitleWidth = titleWraps ? 0 : std::min(m_subtitle->idealWidth(), textRoom);
    const double subtitleHeight = titleWraps ? 0 : m_subtitle->heightForWidth(textRoom);
    const double columnHeight = titleHeight + (titleWraps ? 0 : textSpacing + subtitleHeight);
    const double rowHeight = std::max({double(visual.height()), columnHeight, double(key.height())});

    if (m_visual) m_visual->move(0, int(std::lround((rowHeight - visual.height()) / 2)));
    const int textLeft = visual.width() + leadingSpacing;
    const double columnTop = (rowHeight - columnHeight) / 2;
    m_title->setGeometry(textLeft, int(std::lround(columnTop)), int(std::ceil(titleWidth)), int(titleHeight));
    m_subtitle->setGeometry(textLeft, int(std::lround(columnTop + titleHeight + textSpacing)),
                            int(std::ceil(subtitleWidth)), int(subtitleHeight));
    if (m_showsKeyCap) m_keyCap->move(width - key.width(), int(std::lround((rowHeight - key.height()) / 2)));

    const int controlsTop = int(std::ceil(rowHeight)) + rowSpacing;
    const int controlsHeight = layoutControls(width);
    m_controls->setGeometry(0, controlsTop, width, controlsHeight);
}

int NotchCard::layoutControls(int width) {
    int fixed = 0;
    int spaces = 0;
    int height = 0;
    for (QWidget* item : m_items) {
        if (item) {
            fixed += item->width();
            height = std::max(height, item->height());
        } else {
            ++spaces;
        }
    }
    if (!m_items.empty()) fixed += controlSpacing * int(m_items.size() - 1);
    const int space = spaces > 0 ? std::max(0, width - fixed) / spaces : 0;
    int x = 0;
    for (QWidget* item : m_items) {
        if (item) {
            item->move(x, (height - item->height()) / 2);
            x += item->width() + controlSpacing;
        } else {
            x += space + controlSpacing;
        }
    }
    return height;
}
