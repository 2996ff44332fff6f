#pragma once

#include <QString>

#include <optional>

// The token the ScreenCast portal hands out so that the next session shares the same screen without
// asking again. Kept in a private file (0600) beside the settings; a file that does not hold a plausible
// token is ignored.
class RestoreTokenFile {
public:
    explicit RestoreTokenFile(QString path)
        : m_path(std::move(path)) {}
    // In the settings folder: $XDG_CONFIG_HOME/Ferrovane/screencast-restore-token.
    static RestoreTokenFile standard();

    std::optional<QString> read() const;
    // Best effort: a token that cannot be stored only means the dialog asks again next time.
    void write(const QString& token) const;
    void forget() const;

    const QString& path() const { return m_path; }

private:
    QString m_path;
};
