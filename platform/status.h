// The outcome of an operation that can fail in an expected way: success, or a message meant for the user.
#pragma once

#include <QString>

namespace clavora {

class Status {
public:
    static Status success() { return Status(); }
    static Status failure(QString message) { return Status(std::move(message)); }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const QString& message() const { return m_message; }

private:
    Status() = default;
    explicit Status(QString message) : m_failed(true), m_message(std::move(message)) {}

    bool m_failed = false;
    QString m_message;
};

} // namespace clavora
