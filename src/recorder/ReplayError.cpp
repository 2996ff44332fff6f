#include "recorder/ReplayError.h"

QString ReplayError::errorDescription() const {
    switch (m_kind) {
    case Kind::ExportFailed:
        return QStringLiteral("Could not save the replay: ") + m_message;
    case Kind::NoDisplay:
        return QStringLiteral("No display found to record.");
    case Kind::NothingRecorded:
        return QStringLiteral("Nothing recorded yet. Give it a few seconds.");
    }
    return {};
}

Error ReplayError::toError() const {
    return Error{category, int(m_kind), errorDescription()};
}

bool ReplayError::is(const Error& error, Kind kind) {
    return error.category == category && error.code == int(kind);
}
