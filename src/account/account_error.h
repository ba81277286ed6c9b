#pragma once

#include "platform/error.h"

#include <string>

namespace fotivela {

// The one error of the account client. what() is the finished Spanish sentence the user reads.
class AccountError : public Error {
public:
    enum class Kind { message, invalidResponse, unauthorized };

    static AccountError message(const std::string& text) { return AccountError(Kind::message, text); }
    static AccountError invalidResponse()
    {
        return AccountError(Kind::invalidResponse, "No se ha podido leer la respuesta del servidor.");
    }
    static AccountError unauthorized() { return AccountError(Kind::unauthorized, "Necesitas iniciar sesión."); }

    Kind kind() const { return m_kind; }

    friend bool operator==(const AccountError& a, const AccountError& b)
    {
        return a.m_kind == b.m_kind && (a.m_kind != Kind::message || std::string(a.what()) == b.what());
    }

private:
    AccountError(Kind kind, const std::string& text) : Error(text), m_kind(kind) {}

    Kind m_kind;
};

} // namespace fotivela
