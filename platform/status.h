// The outcome of an operation that can fail in an expected way: success, or a message meant for the user.
#pragma once

#include <QString>

namespace clavora {

class TStatus {
public:
    static TStatus Ok() { return TStatus(); }
    static TStatus Failure(QString message) { return TStatus(std::move(message)); }

    bool ok() const { return !FFailed; }
    explicit operator bool() const { return ok(); }
    const QString& message() const { return FMessage; }

private:
    TStatus() = default;
    explicit TStatus(QString message) : FFailed(true), FMessage(std::move(message)) {}

    bool FFailed = false;
    QString FMessage;
};

} // namespace clavora
