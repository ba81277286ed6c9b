#pragma once

#include "account/account_session.h"
#include "model/app_language.h"

#include <QWidget>

class QPushButton;
class QVBoxLayout;

namespace fotivela {

namespace PurchaseRows {
bool isCreditPurchase(const PurchaseHistoryItem& item);
// First line: the detail, and " créditos" for a credit purchase.
QString purchaseTitle(const PurchaseHistoryItem& item, AppLanguage language);
// Second line: the kind, then the order number and the creation time as received, " · " apart.
QString purchaseSubtitle(const PurchaseHistoryItem& item, AppLanguage language);
QString amountText(const PurchaseHistoryItem& item);
} // namespace PurchaseRows

// The account window's purchase history: one row per purchase with its amount and invoice button.
// The list is fetched again each time the panel appears.
class PurchasesDetailPanel : public QWidget {
    Q_OBJECT

public:
    PurchasesDetailPanel(AccountSession& session, AppLanguage language, QWidget* parent = nullptr);

    QPushButton* refreshButton() const { return m_refresh; }
    QWidget* emptyState() const { return m_empty; }
    QWidget* rowList() const { return m_rowList; }

private:
    void rebuildRows();
    void refreshEnabled();

    AccountSession& m_session;
    AppLanguage m_language;
    QWidget* m_empty = nullptr;
    QWidget* m_rowList = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QPushButton* m_refresh = nullptr;
};

// The account window's storage notice: everything stays on the user's computer.
class StorageDetailPanel : public QWidget {
    Q_OBJECT

public:
    StorageDetailPanel(AccountSession& session, AppLanguage language, QWidget* parent = nullptr);
};

} // namespace fotivela
