#pragma once

#include "account/account_session.h"
#include "model/app_language.h"

#include <QWidget>

#include <array>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace fotivela {

namespace CreditsRules {
inline constexpr std::int64_t minCredits = 1000;
inline constexpr std::int64_t maxCredits = 1000000;
inline constexpr std::array<std::int64_t, 4> packages = {10000, 20000, 50000, 100000};
// Clamped to the purchasable range and rounded to whole blocks of 1000 (halves away from zero).
std::int64_t normalizedCredits(std::int64_t credits);
// What a purchase started now buys: the package as it is, or the custom text's number (its numerals
// kept, everything else dropped) normalised; a text without a plain number falls back to the package.
std::int64_t checkoutCredits(bool usesCustomAmount, std::int64_t selectedCredits, const QString& customCreditsText);
} // namespace CreditsRules

// The account window's credits panel: the balance, a package or a custom amount with its price in
// euros, the card checkout and the confirmation of a checkout still pending.
class CreditsDetailPanel : public QWidget {
    Q_OBJECT

public:
    CreditsDetailPanel(AccountSession& session, AppLanguage language, QWidget* parent = nullptr);

    std::int64_t selectedCredits() const { return m_selectedCredits; }
    bool usesCustomAmount() const { return m_usesCustomAmount; }
    std::int64_t checkoutCredits() const;
    QLineEdit* customAmountField() const { return m_customField; }
    QPushButton* packageTile(std::size_t index) const { return m_tiles[index]; }
    QPushButton* customTile() const { return m_tiles[4]; }
    QPushButton* buyButton() const { return m_buy; }
    QPushButton* confirmButton() const { return m_confirm; }
    QString priceText() const;
    QString balanceText() const;
    QWidget* customBlock() const { return m_customBlock; }

private:
    void choosePackage(std::int64_t credits);
    void chooseCustomAmount();
    void buy();
    void refresh();

    AccountSession& m_session;
    AppLanguage m_language;
    std::int64_t m_selectedCredits = 10000;
    bool m_usesCustomAmount = false;

    QLabel* m_balance = nullptr;
    std::array<QPushButton*, 5> m_tiles{};
    QWidget* m_customBlock = nullptr;
    QLineEdit* m_customField = nullptr;
    QLabel* m_price = nullptr;
    QPushButton* m_buy = nullptr;
    QPushButton* m_confirm = nullptr;
};

} // namespace fotivela
