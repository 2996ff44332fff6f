#pragma once

#include <QString>
#include <QUrl>

#include <variant>

// What the system is doing; drives the titles, icons, colours and buttons of the notch card.
class Phase {
public:
    enum class Kind { Working, Saved, Copied, HandedOff, Notice, Failed, Starting, Live, Paused };

    Phase()
        : m_kind(Kind::Starting) {}

    // The card title of a long action, for example "Saving replay…".
    static Phase working(const QString& text) { return Phase(Kind::Working, text); }
    static Phase saved(const QUrl& clip) { return Phase(Kind::Saved, clip); }
    static Phase copied(const QUrl& clip) { return Phase(Kind::Copied, clip); }
    static Phase handedOff(const QUrl& clip) { return Phase(Kind::HandedOff, clip); }
    // A message while recording goes on; the text is the card title.
    static Phase notice(const QString& text) { return Phase(Kind::Notice, text); }
    // Recording cannot run; the text is the reason, shown as the card subtitle.
    static Phase failed(const QString& text) { return Phase(Kind::Failed, text); }
    static Phase starting() { return Phase(Kind::Starting, std::monostate()); }
    static Phase live() { return Phase(Kind::Live, std::monostate()); }
    static Phase paused() { return Phase(Kind::Paused, std::monostate()); }

    Kind kind() const { return m_kind; }
    // The associated text of working, notice and failed; empty for the others.
    QString text() const;
    // The clip of saved, copied and handedOff; empty for the others.
    QUrl url() const;

    // Same case and equal associated values; texts compare as canonically equivalent Unicode.
    friend bool operator==(const Phase& a, const Phase& b);

private:
    using Value = std::variant<std::monostate, QString, QUrl>;
    Phase(Kind kind, Value value)
        : m_kind(kind)
        , m_value(std::move(value)) {}

    Kind m_kind;
    Value m_value;
};
