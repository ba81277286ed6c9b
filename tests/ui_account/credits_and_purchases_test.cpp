#include "ui/account/credits_detail_panel.h"
#include "ui/account/purchases_detail_panel.h"
#include "ui_account_test_support.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLocale>
#include <QPushButton>

namespace fotivela {
namespace {

using testing::anaEmail;
using testing::click;
using testing::typeInto;

TEST(CreditsRules, NormalisedToWholeBlocksInsideTheRange)
{
    using CreditsRules::normalizedCredits;
    for (auto [in, out] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {999, 1000}, {1499, 1000}, {1500, 2000}, {2499, 2000}, {2500, 3000}, {5000000, 1000000}, {0, 1000},
             {-7, 1000}, {std::numeric_limits<std::int64_t>::min(), 1000}, {std::numeric_limits<std::int64_t>::max(), 1000000}})
        EXPECT_EQ(normalizedCredits(in), out) << in;
}

TEST(CreditsRules, CustomTextKeepsItsDigitsAndFallsBackToThePackage)
{
    const auto custom = [](const QString& text) { return CreditsRules::checkoutCredits(true, 20000, text); };
    EXPECT_EQ(custom(QStringLiteral("1.500")), 2000);
    EXPECT_EQ(custom(QStringLiteral("-3000")), 3000);
    EXPECT_EQ(custom(QStringLiteral("12a34")), 1000);
    EXPECT_EQ(custom(QStringLiteral("2 499")), 2000);
    for (const QString& unusable : {QString(), QStringLiteral("mil"), QStringLiteral("12345678901234567890"),
                                    QStringLiteral("1\u00BD"), QStringLiteral("\uFF15000"), QStringLiteral("\u2167"),
                                    QStringLiteral("5\u00B2")})
        EXPECT_EQ(custom(unusable), 20000) << unusable.toStdString();
    // A package is taken as it is, outside custom mode.
    EXPECT_EQ(CreditsRules::checkoutCredits(false, 12345, QStringLiteral("5000")), 12345);
}

TEST(CreditsPanel, PackagesCustomAmountAndACheckoutConfirmedAfterPayment)
{
    testing::SessionFixture fixture;
    fixture.signIn();
    CreditsDetailPanel panel(*fixture.session, AppLanguage::spanish);
    EXPECT_EQ(panel.balanceText(), QLocale::system().toString(1000));
    EXPECT_TRUE(panel.packageTile(0)->property("selected").toBool());
    EXPECT_TRUE(panel.customBlock()->isHidden());
    EXPECT_EQ(panel.priceText(), QLocale::system().toCurrencyString(10.0, QStringLiteral("€")));
    EXPECT_TRUE(panel.confirmButton()->isHidden());

    click(panel.packageTile(2));
    click(panel.customTile());
    EXPECT_TRUE(panel.usesCustomAmount());
    EXPECT_FALSE(panel.customBlock()->isHidden());
    EXPECT_EQ(panel.customAmountField()->text(), QStringLiteral("50000"));
    typeInto(panel.customAmountField(), QStringLiteral("1500"));
    EXPECT_EQ(panel.priceText(), QLocale::system().toCurrencyString(2.0, QStringLiteral("€")));

    click(panel.buyButton());
    EXPECT_EQ(panel.customAmountField()->text(), QStringLiteral("2000"));
    EXPECT_EQ(panel.selectedCredits(), 2000);
    EXPECT_TRUE(panel.usesCustomAmount());
    EXPECT_FALSE(panel.buyButton()->isEnabled());
    EXPECT_TRUE(panel.confirmButton()->isEnabled());
    ASSERT_TRUE(fixture.idle());
    ASSERT_EQ(fixture.opened.size(), 1u);
    EXPECT_NE(fixture.service.service.lastBody("/api/stripe/checkout").find("2000"), std::string::npos);
    ASSERT_FALSE(panel.confirmButton()->isHidden());

    const std::string sessionId = *fixture.session->pendingCheckoutSessionId();
    fixture.service.service.markCheckoutPaid(sessionId);
    click(panel.confirmButton());
    ASSERT_TRUE(fixture.idle());
    EXPECT_EQ(fixture.session->message(), "Compra confirmada.");
    EXPECT_TRUE(panel.confirmButton()->isHidden());
    EXPECT_EQ(panel.balanceText(), QLocale::system().toString(3000));

    // The purchase now shows in the history, fetched when the panel appears.
    PurchasesDetailPanel purchases(*fixture.session, AppLanguage::spanish);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !purchases.rowList()->isHidden(); }, 10000));
    EXPECT_TRUE(purchases.emptyState()->isHidden());
    const auto titles = purchases.rowList()->findChildren<QLabel*>(QStringLiteral("purchaseTitle"));
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles[0]->text(), QStringLiteral("2000 créditos"));
    EXPECT_EQ(purchases.rowList()->findChildren<QLabel*>(QStringLiteral("purchaseAmount"))[0]->text(),
              QLocale::system().toCurrencyString(2.0, QStringLiteral("€")));
    auto* invoice = purchases.rowList()->findChild<QPushButton*>(QStringLiteral("invoiceButton"));
    click(invoice);
    ASSERT_TRUE(fixture.idle());
    EXPECT_EQ(fixture.session->message(), "Factura abierta.");
    EXPECT_EQ(fixture.opened.size(), 2u);
}

TEST(PurchasesPanel, AnEmptyHistoryShowsTheNotice)
{
    testing::SessionFixture fixture;
    fixture.signIn();
    PurchasesDetailPanel purchases(*fixture.session, AppLanguage::english);
    QTest::qWait(300);
    EXPECT_FALSE(purchases.emptyState()->isHidden());
    EXPECT_TRUE(purchases.rowList()->isHidden());
    EXPECT_EQ(purchases.refreshButton()->text(), QStringLiteral("Refresh history"));
    EXPECT_GE(fixture.service.service.requestCount("/api/account/purchases"), 1);
}

TEST(PurchaseRows, TitleAndSubtitleByKind)
{
    PurchaseHistoryItem credits;
    credits.id = "p1";
    credits.kind = "credits";
    credits.detail = "5000";
    credits.amountCents = 500;
    credits.orderNumber = "A-17";
    credits.createdAt = "2025-03-01T10:00:00Z";
    EXPECT_EQ(PurchaseRows::purchaseTitle(credits, AppLanguage::spanish), QStringLiteral("5000 créditos"));
    EXPECT_EQ(PurchaseRows::purchaseTitle(credits, AppLanguage::english), QStringLiteral("5000 credits"));
    EXPECT_EQ(PurchaseRows::purchaseSubtitle(credits, AppLanguage::spanish),
              QStringLiteral("Créditos \u00B7 A-17 \u00B7 2025-03-01T10:00:00Z"));
    EXPECT_EQ(PurchaseRows::amountText(credits), QLocale::system().toCurrencyString(5.0, QStringLiteral("€")));

    PurchaseHistoryItem storage = credits;
    storage.kind = "Credits";
    storage.orderNumber = "";
    storage.createdAt = "";
    EXPECT_EQ(PurchaseRows::purchaseTitle(storage, AppLanguage::spanish), QStringLiteral("5000"));
    EXPECT_EQ(PurchaseRows::purchaseSubtitle(storage, AppLanguage::spanish), QStringLiteral("Almacenamiento \u00B7 "));
    storage.orderNumber.reset();
    storage.createdAt.reset();
    EXPECT_EQ(PurchaseRows::purchaseSubtitle(storage, AppLanguage::english), QStringLiteral("Storage"));
}

} // namespace
} // namespace fotivela
