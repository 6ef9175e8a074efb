#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace nx7 {

// The run-time and database error numbers the handlers select on.
namespace ErrorNumber {
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
constexpr int InvalidUseOfNull = 94;
constexpr int NoCurrentRecord = 3021;
constexpr int DatabaseFileNotFound = 3024;
constexpr int NoPermission = 3033; // the database refused the statement for lack of rights
constexpr int TableNotFound = 3078;
constexpr int NotValidPath = 3044;
constexpr int CannotOpenDatabase = 3051;
constexpr int ItemNotFound = 3265;
constexpr int UnrecognizedDatabaseFormat = 3343;
constexpr int DatabaseOperationFailed = 3146;
} // namespace ErrorNumber

// An error as a value: the platform number a handler selects on and an Italian description.
struct Error
{
    int number = 0;
    QString description;

    static Error make(int number, const QString &detail = QString());
    // The standard description of a number, as the run-time error report shows it.
    static QString standardDescription(int number);
};

// The result of an operation that yields a value or fails with an Error.
template <typename T>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }
    const T &operator*() const & { return *m_value; }
    T &operator*() & { return *m_value; }
    const T *operator->() const { return &*m_value; }
    T *operator->() { return &*m_value; }
    const Error &error() const { return m_error; }
    int errorNumber() const { return ok() ? 0 : m_error.number; }

private:
    std::optional<T> m_value;
    Error m_error;
};

// The result of an operation that yields nothing: success or an Error.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error)) {}
    static Status success() { return {}; }

    bool ok() const { return m_error.number == 0; }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return m_error; }
    int errorNumber() const { return m_error.number; }

private:
    Error m_error;
};

} // namespace nx7
