#include "ui/account/credits_detail_panel.h"

#include "ui/account/account_panel_scaffolding.h"
#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace fotivela {

std::int64_t CreditsRules::normalizedCredits(std::int64_t credits)
{
    const std::int64_t clamped = std::min(std::max(credits, minCredits), maxCredits);
    const auto blocks = static_cast<std::int64_t>(std::round(static_cast<double>(clamped) / 1000.0));
    return std::max(blocks * 1000, minCredits);
}

std::int64_t CreditsRules::checkoutCredits(bool usesCustomAmount, std::int64_t selectedCredits,
                                           const QString& customCreditsText)
{
    if (!usesCustomAmount)
        return selectedCredits;
    std::u32string kept;
    for (char32_t codePoint : customCreditsText.toUcs4())
        if (QChar::isDigit(codePoint) || QChar::category(codePoint) == QChar::Number_Letter ||
            QChar::category(codePoint) == QChar::Number_Other)
            kept.push_back(codePoint);
    if (kept.empty())
        return normalizedCredits(selectedCredits);
    std::int64_t value = 0;
    for (char32_t digit : kept) {
        if (digit < U'0' || digit > U'9')
            return normalizedCredits(selectedCredits);
        const int d = int(digit - U'0');
        if (value > (std::numeric_limits<std::int64_t>::max() - d) / 10)
            return normalizedCredits(selectedCredits);
        value = value * 10 + d;
    }
    return normalizedCredits(value);
}

namespace {

void paintTile(QPushButton* tile, bool selected)
{
    tile->setProperty("selected", selected);
    tile->setStyleSheet(QStringLiteral("QPushButton{text-align:left;padding:0 14px;border-radius:12px;min-height:72px;"
                                       "color:white;background:%1;border:1px solid %2;}")
                            .arg(selected ? QStringLiteral("rgba(255,214,10,0.18)") : QStringLiteral("rgba(255,255,255,0.06)"),
                                 selected ? QStringLiteral("rgba(255,214,10,0.55)") : QStringLiteral("rgba(255,255,255,0.08)")));
}

QPushButton* makeTile(const QString& large, const QString& small, QWidget* parent)
{
    auto* tile = new QPushButton(parent);
    tile->setMinimumHeight(72);
    tile->setAutoDefault(false);
    tile->setCursor(Qt::PointingHandCursor);
    auto* column = new QVBoxLayout(tile);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(4);
    auto* largeLine = makeLabel(large, TextRole::title3, QFont::Black, Qt::white, false, tile);
    largeLine->setObjectName(QStringLiteral("largeLine"));
    column->addWidget(largeLine);
    column->addWidget(makeLabel(small, TextRole::caption, QFont::Normal, secondaryTextColor(), false, tile));
    for (QLabel* label : tile->findChildren<QLabel*>())
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return tile;
}

} // namespace

CreditsDetailPanel::CreditsDetailPanel(AccountSession& session, AppLanguage language, QWidget* parent)
    : QWidget(parent), m_session(session), m_language(language)
{
    setObjectName(QStringLiteral("creditsDetailPanel"));
    auto* frame = new SettingsContent(translated("Créditos", language),
                                      translated("Compra créditos para generar letras y música.", language), this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    auto* balanceCard = new RoundedPanel(whiteAt(0.07), Qt::transparent, 12);
    auto* balanceRow = new QHBoxLayout(balanceCard);
    balanceRow->setContentsMargins(16, 16, 16, 16);
    balanceRow->addWidget(makeSymbol(QStringLiteral("wallet.pass"), 16, Qt::white, balanceCard));
    balanceRow->addWidget(makeLabel(translated("Saldo actual", language), TextRole::headline, QFont::Bold, Qt::white));
    balanceRow->addStretch(1);
    m_balance = makeLabel({}, TextRole::body, QFont::Bold, Qt::white);
    m_balance->setObjectName(QStringLiteral("balance"));
    QFont balanceFont = m_balance->font();
    balanceFont.setPixelSize(34);
    m_balance->setFont(balanceFont);
    balanceRow->addWidget(m_balance);
    frame->addItem(balanceCard);

    auto* grid = new QWidget;
    auto* gridLayout = new QGridLayout(grid);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setHorizontalSpacing(10);
    gridLayout->setVerticalSpacing(10);
    for (std::size_t index = 0; index < CreditsRules::packages.size(); ++index) {
        const std::int64_t credits = CreditsRules::packages[index];
        m_tiles[index] = makeTile(groupedInteger(credits), translated("créditos", language), grid);
        m_tiles[index]->setObjectName(QStringLiteral("package-%1").arg(credits));
        connect(m_tiles[index], &QPushButton::clicked, this, [this, credits] { choosePackage(credits); });
        gridLayout->addWidget(m_tiles[index], int(index / 2), int(index % 2));
    }
    m_tiles[4] = makeTile(translated("Otra cantidad", language), translated("mín. 1.000", language), grid);
    m_tiles[4]->setObjectName(QStringLiteral("customTile"));
    connect(m_tiles[4], &QPushButton::clicked, this, [this] { chooseCustomAmount(); });
    gridLayout->addWidget(m_tiles[4], 2, 0);
    gridLayout->setColumnStretch(0, 1);
    gridLayout->setColumnStretch(1, 1);
    frame->addItem(grid);

    m_customBlock = new QWidget;
    auto* customColumn = new QVBoxLayout(m_customBlock);
    customColumn->setContentsMargins(0, 0, 0, 0);
    customColumn->setSpacing(8);
    customColumn->addWidget(makeLabel(translated("Cantidad personalizada", language), TextRole::callout, QFont::DemiBold, Qt::white));
    m_customField = new QLineEdit(QStringLiteral("10000"), m_customBlock);
    m_customField->setObjectName(QStringLiteral("customAmountField"));
    m_customField->setPlaceholderText(translated("Créditos", language));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(13);
    m_customField->setFont(mono);
    m_customField->setStyleSheet(QStringLiteral("QLineEdit{padding:10px;color:white;background:rgba(0,0,0,0.22);"
                                                "border:1px solid rgba(255,255,255,0.12);border-radius:10px;}"));
    customColumn->addWidget(m_customField);
    customColumn->addWidget(makeLabel(translated("Entre 1.000 y 1.000.000 créditos. Se ajusta a bloques de 1.000.", language),
                                      TextRole::caption, QFont::Normal, secondaryTextColor(), true));
    frame->addItem(m_customBlock);
    connect(m_customField, &QLineEdit::textChanged, this, [this] { refresh(); });

    auto* priceRow = new QWidget;
    auto* priceLayout = new QHBoxLayout(priceRow);
    priceLayout->setContentsMargins(0, 0, 0, 0);
    priceLayout->addWidget(makeLabel(translated("1000 créditos = 1 EUR", language), TextRole::body, QFont::Normal, secondaryTextColor()));
    priceLayout->addStretch(1);
    m_price = makeLabel({}, TextRole::headline, QFont::Bold, Qt::white);
    m_price->setObjectName(QStringLiteral("price"));
    priceLayout->addWidget(m_price);
    frame->addItem(priceRow);
    frame->addItem(makeLabel(translated("Precio base. Stripe añadirá los impuestos aplicables según el país antes del pago.", language),
                             TextRole::caption, QFont::Normal, secondaryTextColor(), true));

    m_buy = new QPushButton(accountSymbolIcon(QStringLiteral("creditcard"), Qt::black), translated("Comprar con Stripe", language));
    m_buy->setObjectName(QStringLiteral("buyButton"));
    applyButtonLook(m_buy, ButtonLook::prominent, true);
    m_buy->setAutoDefault(false);
    connect(m_buy, &QPushButton::clicked, this, [this] { buy(); });
    frame->addItem(m_buy);

    m_confirm = new QPushButton(accountSymbolIcon(QStringLiteral("checkmark.seal"), Qt::white), translated("Confirmar compra", language));
    m_confirm->setObjectName(QStringLiteral("confirmButton"));
    applyButtonLook(m_confirm, ButtonLook::bordered, true);
    m_confirm->setAutoDefault(false);
    connect(m_confirm, &QPushButton::clicked, this, [this] { m_session.confirmPendingCheckout(); });
    frame->addItem(m_confirm);
    frame->addItem(new StatusMessage(session));

    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::account || field == AccountSessionField::isWorking ||
            field == AccountSessionField::pendingCheckoutSessionId)
            refresh();
    });
    refresh();
}

std::int64_t CreditsDetailPanel::checkoutCredits() const
{
    return CreditsRules::checkoutCredits(m_usesCustomAmount, m_selectedCredits, m_customField->text());
}

QString CreditsDetailPanel::priceText() const
{
    return m_price->text();
}

QString CreditsDetailPanel::balanceText() const
{
    return m_balance->text();
}

void CreditsDetailPanel::choosePackage(std::int64_t credits)
{
    m_selectedCredits = credits;
    m_usesCustomAmount = false;
    m_customField->setText(QString::number(credits));
    refresh();
}

void CreditsDetailPanel::chooseCustomAmount()
{
    m_usesCustomAmount = true;
    m_customField->setText(QString::number(checkoutCredits()));
    refresh();
}

void CreditsDetailPanel::buy()
{
    const std::int64_t credits = checkoutCredits();
    m_selectedCredits = credits;
    m_customField->setText(QString::number(credits));
    refresh();
    m_session.buyCredits(credits);
}

void CreditsDetailPanel::refresh()
{
    m_balance->setText(groupedInteger(m_session.account().balance));
    for (std::size_t index = 0; index < CreditsRules::packages.size(); ++index)
        paintTile(m_tiles[index], !m_usesCustomAmount && m_selectedCredits == CreditsRules::packages[index]);
    paintTile(m_tiles[4], m_usesCustomAmount);
    m_customBlock->setVisible(m_usesCustomAmount);
    m_price->setText(euroAmount(static_cast<double>(checkoutCredits()) / 1000.0));
    m_buy->setEnabled(!m_session.isWorking());
    m_confirm->setVisible(m_session.pendingCheckoutSessionId().has_value());
}

} // namespace fotivela
