#include "ui/account/account_detail_panel.h"
#include "ui/account/account_panel_scaffolding.h"
#include "ui/account/account_settings_window.h"
#include "ui/account/user_account_button.h"
#include "ui_account_test_support.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLocale>
#include <QPushButton>

namespace fotivela {
namespace {

using testing::anaEmail;
using testing::anaPassword;
using testing::click;
using testing::typeInto;

TEST(AccountInitials, FirstLettersOfTheFirstTwoSpaceSeparatedWords)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("Ana María López"), QStringLiteral("AM")},
        {QStringLiteral("ana   maría"), QStringLiteral("AM")},
        {QStringLiteral("cher"), QStringLiteral("CH")},
        {QStringLiteral("x"), QStringLiteral("X")},
        {QStringLiteral("juan.perez"), QStringLiteral("JU")},
        {QStringLiteral("Usuario"), QStringLiteral("US")},
        {QStringLiteral("Ana\tMaría"), QStringLiteral("AN")},
        {QStringLiteral("ébano rojo"), QStringLiteral("ÉR")},
        {QStringLiteral("ßa"), QStringLiteral("SSA")},
        {QStringLiteral("  \n "), QStringLiteral("US")},
        // A letter with a combining accent is one character.
        {QStringLiteral("e\u0301mile"), QStringLiteral("E\u0301M")},
    };
    for (const auto& [name, initials] : cases)
        EXPECT_EQ(accountInitials(name), initials) << name.toStdString();
}

TEST(AccountPanelDestinations, RawValuesAreExact)
{
    EXPECT_EQ(accountPanelDestinationFromRawValue("purchases"), AccountPanelDestination::purchases);
    EXPECT_EQ(accountPanelDestinationFromRawValue("Credits"), std::nullopt);
    EXPECT_EQ(accountPanelDestinationFromRawValue("purchase"), std::nullopt);
    for (AccountPanelDestination destination : allAccountPanelDestinations)
        EXPECT_EQ(accountPanelDestinationFromRawValue(rawValue(destination)), destination);
}

TEST(AccountButton, ShowsTheBalanceAndInitialsAndOpensTheAskedPanel)
{
    testing::SessionFixture fixture;
    fixture.service.service.setBalance(anaEmail, 12500);
    fixture.signIn();
    std::vector<AccountPanelDestination> asked;
    UserAccountButton button(*fixture.session, AppLanguage::english,
                             [&](AccountPanelDestination destination) { asked.push_back(destination); });
    EXPECT_EQ(button.chipText(), QLocale::system().toString(12500) + QStringLiteral(" credits"));
    EXPECT_EQ(button.initials(), QStringLiteral("AM"));
    button.setLanguage(AppLanguage::spanish);
    EXPECT_TRUE(button.chipText().endsWith(QStringLiteral(" creditos")));
    click(button.chip());
    click(button.avatar());
    EXPECT_EQ(asked, (std::vector{AccountPanelDestination::credits, AccountPanelDestination::account}));

    fixture.session->updateProfile("cher");
    ASSERT_TRUE(fixture.idle());
    EXPECT_EQ(button.initials(), QStringLiteral("CH"));
}

TEST(AccountWindow, OpensAtTheAskedPanelAndClosesWithEscape)
{
    testing::SessionFixture fixture;
    fixture.signIn();
    QWidget host;
    auto* window = AccountSettingsWindow::present(&host, AccountPanelDestination::credits, *fixture.session,
                                                  AppLanguage::english);
    QPointer<AccountSettingsWindow> alive(window);
    EXPECT_EQ(window->selectedDestination(), AccountPanelDestination::credits);
    EXPECT_EQ(window->contentPanel()->objectName(), QStringLiteral("creditsDetailPanel"));
    auto* creditsRow = window->findChild<QPushButton*>(QStringLiteral("sidebar-credits"));
    EXPECT_TRUE(creditsRow->property("selected").toBool());
    EXPECT_EQ(creditsRow->text(), QStringLiteral("Credits"));
    EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("sidebar-purchases"))->text(), QStringLiteral("Purchase history"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("sidebarAvatar"))->text(), QStringLiteral("AN"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("sidebarEmail"))->text(), QString::fromUtf8(anaEmail));

    // Another panel and back: the account panel starts afresh.
    click(window->findChild<QPushButton*>(QStringLiteral("sidebar-account")));
    auto* panel = qobject_cast<AccountDetailPanel*>(window->contentPanel());
    ASSERT_NE(panel, nullptr);
    panel->newPasswordField()->setText(QStringLiteral("algo nuevo"));
    panel->fullNameField()->setText(QStringLiteral("Otra"));
    click(window->findChild<QPushButton*>(QStringLiteral("sidebar-storage")));
    click(window->findChild<QPushButton*>(QStringLiteral("sidebar-account")));
    panel = qobject_cast<AccountDetailPanel*>(window->contentPanel());
    EXPECT_TRUE(panel->newPasswordField()->text().isEmpty());
    EXPECT_EQ(panel->fullNameField()->text(), QStringLiteral("Ana María López"));

    QTest::keyClick(panel->fullNameField(), Qt::Key_Escape);
    QTest::qWait(20);
    EXPECT_TRUE(!alive || alive->isHidden());
}

TEST(AccountDetails, PasswordRuleCountsCharactersAndComparesCanonically)
{
    using AccountDetailRules::canUpdatePassword;
    EXPECT_FALSE(canUpdatePassword(false, QStringLiteral("1234567"), QStringLiteral("1234567")));
    EXPECT_TRUE(canUpdatePassword(false, QStringLiteral("12345678"), QStringLiteral("12345678")));
    EXPECT_FALSE(canUpdatePassword(true, QStringLiteral("12345678"), QStringLiteral("12345678")));
    EXPECT_FALSE(canUpdatePassword(false, QStringLiteral("12345678"), QStringLiteral("12345678 ")));
    // Eight characters written with combining accents equal their precomposed repetition.
    const QString decomposed = QStringLiteral("e\u0301e\u0301e\u0301e\u0301abcd");
    EXPECT_EQ(decomposed.size(), 12);
    EXPECT_TRUE(canUpdatePassword(false, decomposed, QStringLiteral("\u00E9\u00E9\u00E9\u00E9abcd")));
    EXPECT_FALSE(canUpdatePassword(false, QStringLiteral("e\u0301e\u0301e\u0301abcd"), QStringLiteral("e\u0301e\u0301e\u0301abcd")));
}

TEST(AccountDetails, SavesTheNameChangesThePasswordAndSignsOut)
{
    testing::SessionFixture fixture;
    fixture.signIn();
    int dismissed = 0;
    AccountDetailPanel panel(*fixture.session, AppLanguage::spanish, [&] { ++dismissed; });
    EXPECT_EQ(panel.fullNameField()->text(), QStringLiteral("Ana María López"));
    EXPECT_EQ(panel.findChild<QLabel*>(QStringLiteral("signedInEmail"))->text(), QString::fromUtf8(anaEmail));

    typeInto(panel.fullNameField(), QStringLiteral("Ana"));
    click(panel.saveNameButton());
    EXPECT_FALSE(panel.saveNameButton()->isEnabled());
    EXPECT_FALSE(panel.updatePasswordButton()->isEnabled());
    ASSERT_TRUE(fixture.idle());
    EXPECT_EQ(fixture.session->displayName(), "Ana");
    EXPECT_EQ(panel.findChild<StatusMessage*>()->text(), QStringLiteral("Perfil guardado."));

    // A refused change empties the three fields all the same.
    typeInto(panel.currentPasswordField(), QStringLiteral("equivocada"));
    typeInto(panel.newPasswordField(), QStringLiteral("nueva-clave"));
    typeInto(panel.confirmNewPasswordField(), QStringLiteral("nueva-clave"));
    ASSERT_TRUE(panel.updatePasswordButton()->isEnabled());
    click(panel.updatePasswordButton());
    ASSERT_TRUE(fixture.idle());
    QTest::qWait(10);
    EXPECT_NE(fixture.session->message(), "Contraseña actualizada.");
    EXPECT_TRUE(panel.currentPasswordField()->text().isEmpty());
    EXPECT_TRUE(panel.newPasswordField()->text().isEmpty());
    EXPECT_TRUE(panel.confirmNewPasswordField()->text().isEmpty());

    click(panel.signOutButton());
    ASSERT_TRUE(fixture.idle());
    QTest::qWait(10);
    EXPECT_FALSE(fixture.session->isAuthenticated());
    EXPECT_EQ(dismissed, 1);
}

TEST(AccountDetails, ARefusedSignOutKeepsTheWindowOpenWithItsMessage)
{
    testing::SessionFixture fixture;
    fixture.signIn();
    int dismissed = 0;
    AccountDetailPanel panel(*fixture.session, AppLanguage::spanish, [&] { ++dismissed; });
    fixture.service.service.setFault("/api/auth/logout", {500, R"({"error":"server_error"})"});
    click(panel.signOutButton());
    ASSERT_TRUE(fixture.idle());
    QTest::qWait(10);
    EXPECT_TRUE(fixture.session->isAuthenticated());
    EXPECT_EQ(dismissed, 0);
    EXPECT_FALSE(panel.findChild<StatusMessage*>()->isHidden());
}

TEST(AccountScaffolding, StatusMessageDrawsNothingUntilThereIsAMessage)
{
    testing::SessionFixture fixture;
    StatusMessage status(*fixture.session);
    EXPECT_TRUE(status.isHidden());
    fixture.session->confirmPendingCheckout();
    EXPECT_FALSE(status.isHidden());
    EXPECT_EQ(status.text(), QStringLiteral("No hay una compra pendiente."));
}

} // namespace
} // namespace fotivela
