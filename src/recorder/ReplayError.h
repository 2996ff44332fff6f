#pragma once

#include "base/Error.h"

#include <QString>

// The recorder's own failures, with the texts the user sees.
class ReplayError {
public:
    enum class Kind { ExportFailed = 1, NoDisplay, NothingRecorded };

    static inline const QString category = QStringLiteral("ReplayError");

    static ReplayError exportFailed(QString message) {
        return ReplayError(Kind::ExportFailed, std::move(message));
    }
    // With the cause's own text as the message.
    static ReplayError exportFailed(const Error& cause) { return exportFailed(cause.message); }
    static ReplayError noDisplay() { return ReplayError(Kind::NoDisplay); }
    static ReplayError nothingRecorded() { return ReplayError(Kind::NothingRecorded); }

    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }
    QString errorDescription() const;
    Error toError() const;
    operator Error() const { return toError(); }

    static bool is(const Error& error, Kind kind);

private:
    explicit ReplayError(Kind kind, QString message = {})
        : m_kind(kind)
        , m_message(std::move(message)) {}

    Kind m_kind;
    QString m_message;
};
