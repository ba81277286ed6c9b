#include "account/account_api.h"
#include "account/account_error.h"
#include "account/account_wire_model.h"
#include "account/cloud_ai_wire_model.h"
#include "platform/json_encoder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fotivela {
namespace {

using nlohmann::json;

TEST(AccountWireModel, AccountSummaryIsStrictAboutRequiredFields)
{
    const auto onlyBalance = AccountSummary::decode(json::parse(R"({"balance": 40, "extra": [1]})"));
    EXPECT_EQ(onlyBalance, (AccountSummary{40, std::nullopt, std::nullopt}));

    EXPECT_ANY_THROW(AccountSummary::decode(json::parse(R"({"profile": {"id": "u"}})")));
    EXPECT_ANY_THROW(AccountSummary::decode(json::parse(R"({"balance": 12.5})")));
    EXPECT_ANY_THROW(AccountSummary::decode(json::parse(R"({"balance": null})")));
    EXPECT_EQ(AccountSummary::decode(json::parse(R"({"balance": 3e2})")).balance, 300);
    // A profile without id fails the whole account although its other fields are optional.
    EXPECT_ANY_THROW(AccountSummary::decode(json::parse(R"({"balance": 1, "profile": {"email": "a@b"}})")));
    EXPECT_ANY_THROW(AccountSummary::decode(json::parse(R"({"balance": 1, "storage": {"limitMb": 10, "percent": 1.5, "usedMb": 1}})")));

    const auto full = AccountSummary::decode(json::parse(
        R"({"balance": 5, "profile": {"id": "u1", "email": "a@b.c", "fullName": null, "isAdmin": false},
            "storage": {"limitMb": 1024, "percent": 3, "usedMb": 30.5}})"));
    ASSERT_TRUE(full.profile);
    EXPECT_EQ(full.profile->id, "u1");
    EXPECT_FALSE(full.profile->fullName);
    EXPECT_EQ(full.storage, (StorageSummary{1024, 3, 30.5}));
    EXPECT_EQ(AccountSummary::decode(full.encode()), full);
}

TEST(AccountWireModel, PurchaseItemDefaultsAndLenientAddresses)
{
    const auto bare = PurchaseHistoryItem::decode(json::parse(R"({"id": "p1"})"));
    EXPECT_EQ(bare.kind, "credits");
    EXPECT_EQ(bare.amountCents, 0);
    EXPECT_EQ(bare.detail, "");
    EXPECT_FALSE(bare.orderNumber);
    EXPECT_FALSE(bare.invoiceURL);

    const auto nulls = PurchaseHistoryItem::decode(json::parse(R"({"id": "p", "kind": null, "amountCents": null, "detail": null})"));
    EXPECT_EQ(nulls.kind, "credits");
    EXPECT_EQ(nulls.amountCents, 0);
    EXPECT_EQ(PurchaseHistoryItem::decode(json::parse(R"({"id": "p", "kind": ""})")).kind, "");

    for (const char* invoice : {R"("   ")", "42", R"("not an address")", "null"}) {
        const auto item = PurchaseHistoryItem::decode(json::parse(std::string(R"({"id": "p", "invoiceURL": )") + invoice + "}"));
        EXPECT_FALSE(item.invoiceURL) << invoice;
    }
    const auto trimmed = PurchaseHistoryItem::decode(json::parse(R"({"id": "p", "receiptURL": "  https://x.test/r/1 \n"})"));
    EXPECT_EQ(trimmed.receiptURL, "https://x.test/r/1");

    EXPECT_ANY_THROW(PurchaseHistoryResponse::decode(json::parse(R"({"purchases": [{"id": "a"}, {"id": 7}]})")));
    EXPECT_ANY_THROW(PurchaseHistoryItem::decode(json::parse(R"({"id": "p", "amountCents": "5"})")));

    const auto encoded = bare.encode();
    EXPECT_FALSE(encoded.contains("orderNumber"));
    EXPECT_EQ(encoded.dump(), R"({"amountCents":0,"detail":"","id":"p1","kind":"credits"})");
}

TEST(AccountWireModel, SmallBodies)
{
    EXPECT_EQ(CheckoutStart::decode(json::object()), (CheckoutStart{}));
    EXPECT_ANY_THROW(CheckoutStart::decode(json::parse(R"({"url": 5})")));
    EXPECT_ANY_THROW(CheckoutStart::decode(json::parse(R"({"url": ""})")));
    EXPECT_ANY_THROW(PurchaseDocumentLinkResponse::decode(json::parse(R"({"url": "x y"})")));
    EXPECT_ANY_THROW(CheckoutConfirmResponse::decode(json::parse(R"({"balance": 9})")));
    EXPECT_EQ(EmptyRequest{}.encode().dump(), "{}");
    EXPECT_EQ(CheckoutRequest({2000, "macos-native"}).encode().dump(), R"({"client":"macos-native","credits":2000})");
    EXPECT_EQ(BasicOK::decode(json::object()).ok, std::nullopt);
}

TEST(CloudAIWireModel, ConfigurationDecodesWithoutDefaults)
{
    const auto empty = CloudAIConfig::decode(json::object());
    EXPECT_EQ(empty, CloudAIConfig{});
    EXPECT_EQ(CloudAIConfig::fallback().lyricsCost, 20);
    EXPECT_EQ(CloudAIConfig::fallback().musicCost, 180);
    EXPECT_EQ(CloudAIConfig::fallback().isMusicEnabled, true);

    const auto config = CloudAIConfig::decode(json::parse(R"({"isLyricsEnabled": false, "macDownloadURL": "  ",
        "windowsDownloadURL": 3, "latestMacVersion": "1.2.0"})"));
    EXPECT_EQ(config.isLyricsEnabled, false);
    EXPECT_FALSE(config.macDownloadURL);
    EXPECT_FALSE(config.windowsDownloadURL);
    EXPECT_EQ(config.latestMacVersion, "1.2.0");
    EXPECT_ANY_THROW(CloudAIConfig::decode(json::parse(R"({"lyricsCost": "20"})")));
    EXPECT_ANY_THROW(CloudAIConfig::decode(json::parse(R"({"isMusicEnabled": 1})")));
}

TEST(CloudAIWireModel, RequestsWriteEveryKeyWithItsJsonType)
{
    CloudLyricsRequest request;
    request.operationId = "ID";
    request.duration = 12.5;
    request.styleOnly = true;
    request.withVocals = false;
    const json encoded = request.encode();
    EXPECT_EQ(encoded.size(), 13u);
    EXPECT_TRUE(encoded["duration"].is_number_float());
    EXPECT_TRUE(encoded["styleOnly"].is_boolean());
    EXPECT_TRUE(encoded["slideCount"].is_number_integer());
    EXPECT_EQ(CloudLyricsRequest::decode(encoded), request);
    EXPECT_EQ(CloudMusicRequest{}.encode().size(), 10u);

    request.duration = std::nan("");
    EXPECT_THROW(request.encode(), JsonEncodingError);
    CloudMusicRequest music;
    music.duration = INFINITY;
    EXPECT_THROW(music.encode(), JsonEncodingError);
}

TEST(CloudAIWireModel, Answers)
{
    EXPECT_ANY_THROW(CloudLyricsResponse::decode(json::parse(R"({"style": "Pop"})")));
    const auto lyrics = CloudLyricsResponse::decode(json::parse(R"({"lyrics": ""})"));
    EXPECT_EQ(lyrics, CloudLyricsResponse{});

    // A song answer whose address is not text fails whole, inline audio or not.
    EXPECT_ANY_THROW(CloudMusicResponse::decode(json::parse(R"({"audioURL": 1, "audioBase64": "AAAA"})")));
    const auto song = CloudMusicResponse::decode(json::parse(R"({"audioBase64": "UklGRg==", "audioURL": "https://cdn.test/a.wav"})"));
    EXPECT_EQ(song.inlineAudio(), "RIFF");
    const auto broken = CloudMusicResponse::decode(json::parse(R"({"audioBase64": "UklG\nRg=="})"));
    EXPECT_FALSE(broken.inlineAudio());
    EXPECT_FALSE(CloudMusicResponse{}.inlineAudio());
}

TEST(Base64, StrictReadingAndRoundTrip)
{
    for (const std::string& bytes : std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xff\x10", 3)})
        EXPECT_EQ(decodeStrictBase64(encodeBase64(bytes)), bytes);
    for (const char* bad : {"QQ", "QQ=", "Q===", "QQ==QQ==", "Q Q=", "QQ*="})
        EXPECT_FALSE(decodeStrictBase64(bad)) << bad;
}

TEST(AccountError, TextsAndEquality)
{
    EXPECT_EQ(AccountAPI::userMessage("server_error"),
              "El servidor ha tenido un error interno. Revisa la configuracion de Orvelant.");
    EXPECT_EQ(AccountAPI::userMessage("invalid_credentials"), "Email o contraseña incorrectos.");
    EXPECT_EQ(AccountAPI::userMessage("Invalid_Credentials"), "No se ha podido completar la operación.");
    EXPECT_EQ(AccountAPI::userMessage(""), "No se ha podido completar la operación.");
    EXPECT_STREQ(AccountError::invalidResponse().what(), "No se ha podido leer la respuesta del servidor.");
    EXPECT_STREQ(AccountError::unauthorized().what(), "Necesitas iniciar sesión.");

    EXPECT_EQ(AccountError::message("a"), AccountError::message("a"));
    EXPECT_FALSE(AccountError::message("a") == AccountError::message("b"));
    EXPECT_FALSE(AccountError::message("Necesitas iniciar sesión.") == AccountError::unauthorized());
    EXPECT_FALSE(AccountError::invalidResponse() == AccountError::unauthorized());
}

} // namespace
} // namespace fotivela
