#pragma once

#include <QString>

#include <utility>
#include <variant>

// An error as a value: a domain that says who raised it, a code within that domain and the text the
// user sees. Platform backends pass their library's message through, with the system's errno as the code
// where the cause is one; the recorder adds its own domain.
struct Error {
    QString domain;
    int code = 0;
    QString description;

    QString localizedDescription() const { return description; }
    friend bool operator==(const Error&, const Error&) = default;
};

inline Error platformError(QString description, int code = 0) {
    return Error{QStringLiteral("platform"), code, std::move(description)};
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
