#pragma once

#include "platform/json_decoding.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// The bodies the account service and the client exchange. Keys are exact; unknown keys are ignored;
// a required key that is missing, null or of another type fails the whole body; an optional key may
// be missing or null; absent optional fields are left out when encoding. Each type decodes with
// decode(json, path) and encodes with encode().

struct AccountProfile {
    std::optional<std::string> email;
    std::optional<std::string> fullName;
    std::string id;
    std::optional<bool> isAdmin;
    std::optional<std::string> locale;

    static AccountProfile decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const AccountProfile&, const AccountProfile&) = default;
};

struct StorageSummary {
    std::int64_t limitMb = 0;
    std::int64_t percent = 0;
    double usedMb = 0.0;

    static StorageSummary decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const StorageSummary&, const StorageSummary&) = default;
};

// A summary without profile means signed out.
struct AccountSummary {
    std::int64_t balance = 0;
    std::optional<AccountProfile> profile;
    std::optional<StorageSummary> storage;

    static AccountSummary decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const AccountSummary&, const AccountSummary&) = default;
};

struct CheckoutStart {
    std::optional<std::string> url;
    std::optional<std::string> sessionId;

    static CheckoutStart decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const CheckoutStart&, const CheckoutStart&) = default;
};

// One purchase; kind, amountCents and detail are never absent once decoded.
struct PurchaseHistoryItem {
    std::string id;
    std::string kind = "credits";
    std::optional<std::int64_t> orderIndex;
    std::optional<std::string> orderNumber;
    std::optional<std::string> createdAt;
    std::int64_t amountCents = 0;
    std::string detail;
    std::optional<std::string> periodEndsAt;
    std::optional<std::string> invoiceURL;
    std::optional<std::string> receiptURL;

    static PurchaseHistoryItem decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const PurchaseHistoryItem&, const PurchaseHistoryItem&) = default;
};

struct PurchaseHistoryResponse {
    std::vector<PurchaseHistoryItem> purchases;

    static PurchaseHistoryResponse decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const PurchaseHistoryResponse&, const PurchaseHistoryResponse&) = default;
};

struct PurchaseDocumentLinkResponse {
    std::string url;

    static PurchaseDocumentLinkResponse decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const PurchaseDocumentLinkResponse&, const PurchaseDocumentLinkResponse&) = default;
};

struct APIErrorPayload {
    std::optional<std::string> error;
    std::optional<std::string> reason;

    static APIErrorPayload decode(const nlohmann::json& j, const JsonPath& path = {});
    friend bool operator==(const APIErrorPayload&, const APIErrorPayload&) = default;
};

struct CheckoutRequest {
    std::int64_t credits = 0;
    std::string client;

    static CheckoutRequest decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const CheckoutRequest&, const CheckoutRequest&) = default;
};

struct CheckoutConfirmResponse {
    bool ok = false;
    std::int64_t balance = 0;

    static CheckoutConfirmResponse decode(const nlohmann::json& j, const JsonPath& path = {});
    friend bool operator==(const CheckoutConfirmResponse&, const CheckoutConfirmResponse&) = default;
};

struct BasicOK {
    std::optional<bool> ok;

    static BasicOK decode(const nlohmann::json& j, const JsonPath& path = {});
    friend bool operator==(const BasicOK&, const BasicOK&) = default;
};

struct DesktopAuthExchangeRequest {
    std::string token;

    nlohmann::json encode() const;
};

struct EmptyRequest {
    nlohmann::json encode() const { return nlohmann::json::object(); }
};

// The plain request bodies: a flat object of string values.
using StringMapBody = std::map<std::string, std::string>;
nlohmann::json encodeStringMap(const StringMapBody& body);

// Address fields. Strict: the text must parse as an address or the body fails. Lenient: a missing,
// null, non-text, blank or unparsable value is simply absent.
bool isParsableAddress(std::string_view text);
std::string readJsonAddress(const nlohmann::json& j, const JsonPath& path);
std::optional<std::string> decodeURL(const JsonObjectReader& object, std::string_view key);

} // namespace fotivela
