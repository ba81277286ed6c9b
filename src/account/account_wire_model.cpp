#include "account/account_wire_model.h"

#include "platform/json_encoder.h"

#include <QUrl>

#include <algorithm>

namespace fotivela {

namespace {

const auto readString = [](const nlohmann::json& j, const JsonPath& path) { return readJsonString(j, path); };
const auto readInt = [](const nlohmann::json& j, const JsonPath& path) { return readJsonInt64(j, path); };
const auto readBool = [](const nlohmann::json& j, const JsonPath& path) { return readJsonBool(j, path); };
const auto readNumber = [](const nlohmann::json& j, const JsonPath& path) { return readJsonDouble(j, path); };

template <class T>
void putIfPresent(nlohmann::json& out, const char* key, const std::optional<T>& value)
{
    if (value)
        out[key] = *value;
}

std::string_view trimmedBlanks(std::string_view text)
{
    const auto isBlank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace

bool isParsableAddress(std::string_view text)
{
    if (text.empty())
        return false;
    // Blanks and control characters are never part of an address.
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }))
        return false;
    const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

std::string readJsonAddress(const nlohmann::json& j, const JsonPath& path)
{
    const std::string& text = readJsonString(j, path);
    if (!isParsableAddress(text))
        throwJsonDataCorrupted(path, "no es una dirección válida");
    return text;
}

std::optional<std::string> decodeURL(const JsonObjectReader& object, std::string_view key)
{
    const auto* value = object.find(key);
    if (!value || !value->is_string())
        return std::nullopt;
    const std::string_view trimmed = trimmedBlanks(value->get_ref<const std::string&>());
    if (trimmed.empty() || !isParsableAddress(trimmed))
        return std::nullopt;
    return std::string(trimmed);
}

AccountProfile AccountProfile::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    AccountProfile p;
    p.email = o.optional("email", readString);
    p.fullName = o.optional("fullName", readString);
    p.id = o.required("id", readString);
    p.isAdmin = o.optional("isAdmin", readBool);
    p.locale = o.optional("locale", readString);
    return p;
}

nlohmann::json AccountProfile::encode() const
{
    nlohmann::json out = nlohmann::json::object();
    putIfPresent(out, "email", email);
    putIfPresent(out, "fullName", fullName);
    out["id"] = id;
    putIfPresent(out, "isAdmin", isAdmin);
    putIfPresent(out, "locale", locale);
    return out;
}

StorageSummary StorageSummary::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.required("limitMb", readInt), o.required("percent", readInt), o.required("usedMb", readNumber)};
}

nlohmann::json StorageSummary::encode() const
{
    return {{"limitMb", limitMb}, {"percent", percent}, {"usedMb", usedMb}};
}

AccountSummary AccountSummary::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    AccountSummary s;
    s.balance = o.required("balance", readInt);
    s.profile = o.optional("profile", [](const nlohmann::json& v, const JsonPath& p) { return AccountProfile::decode(v, p); });
    s.storage = o.optional("storage", [](const nlohmann::json& v, const JsonPath& p) { return StorageSummary::decode(v, p); });
    return s;
}

nlohmann::json AccountSummary::encode() const
{
    nlohmann::json out = {{"balance", balance}};
    if (profile)
        out["profile"] = profile->encode();
    if (storage)
        out["storage"] = storage->encode();
    return out;
}

CheckoutStart CheckoutStart::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.optional("url", readJsonAddress), o.optional("sessionId", readString)};
}

nlohmann::json CheckoutStart::encode() const
{
    nlohmann::json out = nlohmann::json::object();
    putIfPresent(out, "url", url);
    putIfPresent(out, "sessionId", sessionId);
    return out;
}

PurchaseHistoryItem PurchaseHistoryItem::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    PurchaseHistoryItem item;
    item.id = o.required("id", readString);
    item.kind = o.optionalOr("kind", readString, "credits");
    item.orderIndex = o.optional("orderIndex", readInt);
    item.orderNumber = o.optional("orderNumber", readString);
    item.createdAt = o.optional("createdAt", readString);
    item.amountCents = o.optionalOr("amountCents", readInt, 0);
    item.detail = o.optionalOr("detail", readString, "");
    item.periodEndsAt = o.optional("periodEndsAt", readString);
    item.invoiceURL = decodeURL(o, "invoiceURL");
    item.receiptURL = decodeURL(o, "receiptURL");
    return item;
}

nlohmann::json PurchaseHistoryItem::encode() const
{
    nlohmann::json out = {{"id", id}, {"kind", kind}, {"amountCents", amountCents}, {"detail", detail}};
    putIfPresent(out, "orderIndex", orderIndex);
    putIfPresent(out, "orderNumber", orderNumber);
    putIfPresent(out, "createdAt", createdAt);
    putIfPresent(out, "periodEndsAt", periodEndsAt);
    putIfPresent(out, "invoiceURL", invoiceURL);
    putIfPresent(out, "receiptURL", receiptURL);
    return out;
}

PurchaseHistoryResponse PurchaseHistoryResponse::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.required("purchases", [](const nlohmann::json& v, const JsonPath& p) {
        return readJsonList(v, p, [](const nlohmann::json& e, const JsonPath& ep) { return PurchaseHistoryItem::decode(e, ep); });
    })};
}

nlohmann::json PurchaseHistoryResponse::encode() const
{
    nlohmann::json list = nlohmann::json::array();
    for (const auto& item : purchases)
        list.push_back(item.encode());
    return {{"purchases", std::move(list)}};
}

PurchaseDocumentLinkResponse PurchaseDocumentLinkResponse::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.required("url", readJsonAddress)};
}

nlohmann::json PurchaseDocumentLinkResponse::encode() const
{
    return {{"url", url}};
}

APIErrorPayload APIErrorPayload::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.optional("error", readString), o.optional("reason", readString)};
}

CheckoutRequest CheckoutRequest::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.required("credits", readInt), o.required("client", readString)};
}

nlohmann::json CheckoutRequest::encode() const
{
    return {{"credits", credits}, {"client", client}};
}

CheckoutConfirmResponse CheckoutConfirmResponse::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.required("ok", readBool), o.required("balance", readInt)};
}

BasicOK BasicOK::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    return {o.optional("ok", readBool)};
}

nlohmann::json DesktopAuthExchangeRequest::encode() const
{
    return {{"token", token}};
}

nlohmann::json encodeStringMap(const StringMapBody& body)
{
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [key, value] : body)
        out[key] = value;
    return out;
}

} // namespace fotivela
