#pragma once

#include <QString>

#include <utility>
#include <variant>

// An error as a value: a category that says who raised it, a code within that category and the message
// the user reads. Platform backends pass their library's message through, with the system's errno as the
// code where the cause is one; the recorder has a category of its own.
struct Error {
    QString category;
    int code = 0;
    QString message;

    friend bool operator==(const Error&, const Error&) = default;
};

inline Error platformError(QString message, int code = 0) {
    return Error{QStringLiteral("platform"), code, std::move(message)};
}

// Either a value or an error. Small on purpose: std::expected is C++23.
template <typename T> class Result {
public:
    Result(T value)
        : m_state(std::move(value)) {}
    Result(Error error)
        : m_state(std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_state); }
    const T& value() const { return std::get<0>(m_state); }
    T&& take() { return std::get<0>(std::move(m_state)); }
    const Error& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

struct Ok {};
using Status = Result<Ok>;
