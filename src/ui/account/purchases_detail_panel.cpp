#include "ui/account/purchases_detail_panel.h"

#include "ui/account/account_panel_scaffolding.h"
#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace fotivela {

bool PurchaseRows::isCreditPurchase(const PurchaseHistoryItem& item)
{
    return item.kind == "credits";
}

QString PurchaseRows::purchaseTitle(const PurchaseHistoryItem& item, AppLanguage language)
{
    const QString detail = QString::fromStdString(item.detail);
    return isCreditPurchase(item) ? detail + QLatin1Char(' ') + translated("créditos", language) : detail;
}

QString PurchaseRows::purchaseSubtitle(const PurchaseHistoryItem& item, AppLanguage language)
{
    const QString separator = QStringLiteral(" \u00B7 ");
    QString text = translated(isCreditPurchase(item) ? "Créditos" : "Almacenamiento", language);
    if (item.orderNumber && !item.orderNumber->empty())
        text += separator + QString::fromStdString(*item.orderNumber);
    if (item.createdAt)
        text += separator + QString::fromStdString(*item.createdAt);
    return text;
}

QString PurchaseRows::amountText(const PurchaseHistoryItem& item)
{
    return euroAmount(static_cast<double>(item.amountCents) / 100.0);
}

PurchasesDetailPanel::PurchasesDetailPanel(AccountSession& session, AppLanguage language, QWidget* parent)
    : QWidget(parent), m_session(session), m_language(language)
{
    setObjectName(QStringLiteral("purchasesDetailPanel"));
    auto* frame = new SettingsContent(translated("Historial de compras", language),
                                      translated("Compras de créditos y almacenamiento realizadas en nuestras apps.", language),
                                      this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    m_empty = new EmptySettingsState(QStringLiteral("doc.text.magnifyingglass"), translated("Sin compras recientes", language),
                                     translated("Cuando compres créditos en cualquiera de nuestras apps, aparecerán aquí.", language));
    frame->addItem(m_empty);
    m_rowList = new QWidget;
    m_rowList->setObjectName(QStringLiteral("purchaseRows"));
    m_rows = new QVBoxLayout(m_rowList);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(8);
    frame->addItem(m_rowList);

    m_refresh = new QPushButton(accountSymbolIcon(QStringLiteral("arrow.clockwise"), Qt::white),
                                translated("Actualizar historial", language));
    m_refresh->setObjectName(QStringLiteral("refreshHistoryButton"));
    applyButtonLook(m_refresh, ButtonLook::bordered);
    m_refresh->setAutoDefault(false);
    connect(m_refresh, &QPushButton::clicked, this, [this] { m_session.refreshPurchaseHistory(); });
    frame->addItem(m_refresh);
    frame->column()->setAlignment(m_refresh, Qt::AlignLeft);
    frame->addItem(new StatusMessage(session));

    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::purchaseHistory)
            rebuildRows();
        else if (field == AccountSessionField::isWorking)
            refreshEnabled();
    });
    rebuildRows();
    // Each appearance asks for the list again.
    m_session.refreshPurchaseHistory();
}

void PurchasesDetailPanel::rebuildRows()
{
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto& purchases = m_session.purchaseHistory();
    m_empty->setVisible(purchases.empty());
    m_rowList->setVisible(!purchases.empty());
    for (const PurchaseHistoryItem& item : purchases) {
        auto* row = new RoundedPanel(whiteAt(0.07), Qt::transparent, 12, m_rowList);
        row->setObjectName(QStringLiteral("purchase-") + QString::fromStdString(item.id));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(12, 12, 12, 12);
        line->setSpacing(12);
        const bool credits = PurchaseRows::isCreditPurchase(item);
        line->addWidget(makeSymbol(credits ? QStringLiteral("wallet.pass.fill") : QStringLiteral("externaldrive.fill"), 18,
                                   credits ? QColor(48, 209, 88) : QColor(10, 132, 255), row));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* title = makeLabel(PurchaseRows::purchaseTitle(item, m_language), TextRole::callout, QFont::DemiBold, Qt::white);
        title->setObjectName(QStringLiteral("purchaseTitle"));
        auto* subtitle = makeLabel(PurchaseRows::purchaseSubtitle(item, m_language), TextRole::caption, QFont::Normal,
                                   secondaryTextColor());
        subtitle->setObjectName(QStringLiteral("purchaseSubtitle"));
        texts->addWidget(title);
        texts->addWidget(subtitle);
        line->addLayout(texts);
        line->addStretch(1);
        auto* end = new QVBoxLayout;
        end->setSpacing(5);
        auto* amount = makeLabel(PurchaseRows::amountText(item), TextRole::headline, QFont::Bold, Qt::white);
        amount->setObjectName(QStringLiteral("purchaseAmount"));
        amount->setAlignment(Qt::AlignRight);
        end->addWidget(amount, 0, Qt::AlignRight);
        auto* invoice = new QPushButton(accountSymbolIcon(QStringLiteral("arrow.up.right.square"), accentColor(), 12),
                                        translated("Ver factura", m_language), row);
        invoice->setObjectName(QStringLiteral("invoiceButton"));
        applyButtonLook(invoice, ButtonLook::plain);
        invoice->setStyleSheet(invoice->styleSheet() +
                               QStringLiteral("QPushButton{color:%1;font-weight:bold;font-size:10px;padding:0;}"
                                              "QPushButton:disabled{color:rgba(255,255,255,0.3);}")
                                   .arg(accentColor().name()));
        invoice->setAutoDefault(false);
        connect(invoice, &QPushButton::clicked, this, [this, id = item.id] { m_session.openPurchaseDocument(id); });
        end->addWidget(invoice, 0, Qt::AlignRight);
        line->addLayout(end);
        m_rows->addWidget(row);
    }
    refreshEnabled();
}

void PurchasesDetailPanel::refreshEnabled()
{
    const bool enabled = !m_session.isWorking();
    m_refresh->setEnabled(enabled);
    for (QPushButton* invoice : m_rowList->findChildren<QPushButton*>(QStringLiteral("invoiceButton")))
        invoice->setEnabled(enabled);
}

StorageDetailPanel::StorageDetailPanel(AccountSession& session, AppLanguage language, QWidget* parent) : QWidget(parent)
{
    Q_UNUSED(session);
    setObjectName(QStringLiteral("storageDetailPanel"));
    auto* frame = new SettingsContent(translated("Almacenamiento", language),
                                      translated("Resumen de uso asociado a tu cuenta.", language), this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    frame->addItem(new EmptySettingsState(
        QStringLiteral("externaldrive"), translated("Sin almacenamiento en la nube", language),
        translated("Fotivela guarda proyectos, fotos, previos, audio y exportaciones en tu equipo. No utiliza "
                   "almacenamiento cloud para tus proyectos.",
                   language)));
}

} // namespace fotivela
