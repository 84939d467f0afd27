#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <variant>

// Why something could not be done: the kind a caller must tell apart, and
// the reason, in English, for the log.
struct Failure
{
    enum class Kind {
        Absent, // there is none: a 404, or no such file in a folder
        Failed, // it could not be had, read, written, made or started
        NotOpened, // a file to write could not be created
        Refused, // it came, but is not what it must be
        NotVerified, // well formed, but no trusted key signed it
        Cancelled, // the owner stopped it
    };

    Kind kind;
    QString reason;
};

// What a function that can fail returns: its value, or the failure why there
// is none. Result<> (void) only says whether it worked.
template<typename T = void> class Result
{
public:
    // A default value: Qt's signals and QVariant need one.
    Result() = default;
    Result(const T &value)
        : m_value(std::in_place_index<0>, value)
    { }
    Result(T &&value)
        : m_value(std::in_place_index<0>, std::move(value))
    { }
    Result(Failure failure)
        : m_value(std::in_place_index<1>, std::move(failure))
    { }

    bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &operator*() { return std::get<0>(m_value); }
    const T &operator*() const { return std::get<0>(m_value); }
    T *operator->() { return &std::get<0>(m_value); }
    const T *operator->() const { return &std::get<0>(m_value); }

    T value_or(T fallback) const { return ok() ? **this : std::move(fallback); }

    const Failure &failure() const { return std::get<1>(m_value); }
    bool failed(Failure::Kind kind) const { return !ok() && failure().kind == kind; }

private:
    std::variant<T, Failure> m_value;
};

template<> class Result<void>
{
public:
    Result() = default; // it worked
    Result(Failure failure)
        : m_failure(std::move(failure))
    { }

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }

    const Failure &failure() const { return *m_failure; }
    bool failed(Failure::Kind kind) const { return !ok() && failure().kind == kind; }

private:
    std::optional<Failure> m_failure;
};
