#include "ui/shell/app_settings_window.h"

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/shell/app_version.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/shell/update_controller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace fotivela {

namespace {

QLabel* sectionTitle(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFont(systemFont(TextStyle::headline, QFont::Bold));
    return label;
}

QLabel* note(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setFont(systemFont(TextStyle::caption));
    label->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
    return label;
}

} // namespace

AppSettingsContent::AppSettingsContent(ProjectStore& store, StoreSignals& storeSignals,
                                       std::optional<std::string> latestMacVersion, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_latestMacVersion(std::move(latestMacVersion))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    m_folderTitle = sectionTitle(this);
    m_folder = note(this);
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_changeFolder = new QPushButton(this);
    m_changeFolder->setIcon(symbolIcon("folder"));
    styleBorderedButton(m_changeFolder);
    connect(m_changeFolder, &QPushButton::clicked, this, [this] {
        m_store.chooseDefaultProjectDirectory(
            [this](const std::filesystem::path& start, const std::string& confirmLabel) -> std::optional<std::filesystem::path> {
                QFileDialog panel(window(), QString(), QString::fromStdString(start.string()));
                panel.setFileMode(QFileDialog::Directory);
                panel.setOption(QFileDialog::ShowDirsOnly);
                panel.setLabelText(QFileDialog::Accept, QString::fromStdString(AppText::translate(confirmLabel, m_store.appLanguage())));
                if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
                    return std::nullopt;
                return std::filesystem::path(panel.selectedFiles().front().toStdString());
            });
    });
    column->addWidget(m_folderTitle);
    column->addWidget(m_folder);
    column->addWidget(m_changeFolder, 0, Qt::AlignLeft);
    column->addSpacing(8);

    m_interfaceTitle = sectionTitle(this);
    m_interfaceNote = note(this);
    m_hideTooltips = new QCheckBox(this);
    fotivelaCheckbox(m_hideTooltips);
    connect(m_hideTooltips, &QCheckBox::toggled, this, [this](bool hide) { m_store.setShowInterfaceTooltips(!hide); });
    m_tooltipsNote = note(this);
    m_languageTitle = new QLabel(this);
    m_language = new QComboBox(this);
    m_language->addItem(QString(), QVariant::fromValue(static_cast<int>(AppLanguage::spanish)));
    m_language->addItem(QString(), QVariant::fromValue(static_cast<int>(AppLanguage::english)));
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        m_store.setAppLanguage(static_cast<AppLanguage>(m_language->itemData(index).toInt()));
    });
    m_languageNote = note(this);
    column->addWidget(m_interfaceTitle);
    column->addWidget(m_interfaceNote);
    column->addWidget(m_hideTooltips);
    column->addWidget(m_tooltipsNote);
    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(m_languageTitle);
    languageRow->addStretch(1);
    languageRow->addWidget(m_language);
    column->addLayout(languageRow);
    column->addWidget(m_languageNote);
    column->addSpacing(8);

    m_updatesTitle = sectionTitle(this);
    m_updatesNote = note(this);
    m_checkUpdates = new QPushButton(this);
    m_checkUpdates->setIcon(symbolIcon("arrow.down.circle.fill", Qt::black));
    styleProminentButton(m_checkUpdates);
    connect(m_checkUpdates, &QPushButton::clicked, this, [this] {
        UpdateController& updates = m_updates ? *m_updates : UpdateController::shared();
        updates.checkForUpdates(m_latestMacVersion, m_store.appLanguage());
    });
    column->addWidget(m_updatesTitle);
    column->addWidget(m_updatesNote);
    column->addWidget(m_checkUpdates, 0, Qt::AlignLeft);

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::appLanguage || field == StoreField::showInterfaceTooltips
            || field == StoreField::defaultProjectDirectory)
            refresh();
    });
    refresh();
}

void AppSettingsContent::refresh()
{
    const AppLanguage language = m_store.appLanguage();
    const auto text = [language](std::string_view spanish) {
        return QString::fromStdString(AppText::translate(spanish, language));
    };
    m_folderTitle->setText(text("Carpeta de proyectos"));
    const QString folder = QString::fromStdString(m_store.defaultProjectDirectory().string());
    m_folder->setToolTip(folder);
    m_folder->setText(m_folder->fontMetrics().elidedText(folder, Qt::ElideMiddle, 440));
    m_changeFolder->setText(text("Cambiar carpeta"));
    m_interfaceTitle->setText(text("Interfaz"));
    m_interfaceNote->setText(text("Preferencias locales de Fotivela."));
    m_hideTooltips->setText(text("Ocultar tooltips"));
    const QSignalBlocker quiet(m_hideTooltips);
    m_hideTooltips->setChecked(!m_store.showInterfaceTooltips());
    m_tooltipsNote->setText(text("Desactiva las ventanitas de ayuda al pasar por encima de los botones."));
    m_languageTitle->setText(text("Idioma de la interfaz"));
    m_language->setItemText(0, text("Español"));
    m_language->setItemText(1, text("Inglés"));
    m_language->setCurrentIndex(language == AppLanguage::english ? 1 : 0);
    m_languageNote->setText(text("Se detecta automáticamente en el primer arranque. Puedes cambiarlo cuando quieras."));
    m_updatesTitle->setText(text("Actualizaciones"));
    m_updatesNote->setText(text("Fotivela puede descargar e instalar nuevas versiones automaticamente cuando estén disponibles.")
                           + QStringLiteral("  v") + QString::fromStdString(AppVersion::current()));
    m_checkUpdates->setText(text("Buscar actualizaciones"));
}

AppSettingsWindow::AppSettingsWindow(ProjectStore& store, StoreSignals& storeSignals,
                                     std::optional<std::string> latestMacVersion, QWidget* parent)
    : ProjectDialogFrame(store, 520, parent)
{
    m_content = new AppSettingsContent(store, storeSignals, std::move(latestMacVersion), this);
    body()->addWidget(m_content);
    // The language can change from inside this window: its own texts follow at once.
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::appLanguage)
            retranslate();
    });
    retranslate();
}

void AppSettingsWindow::retranslate()
{
    setTexts(translated("Ajustes de la aplicación"), translated("Preferencias locales de Fotivela."));
    retranslateFrame();
    // Texts of another length: the window takes the height they need, once its layouts have
    // taken the new texts in.
    if (isVisible())
        QTimer::singleShot(0, this, [this] { fitHeightToTexts(); });
}

void AppSettingsWindow::showEvent(QShowEvent* event)
{
    // Qt's first size keeps a window within two thirds of the screen and then grows it to a
    // minimum that counts each wrapped note as one line: on a laptop's screen that cuts the
    // buttons. The height comes before the placement over the parent.
    fitHeightToTexts();
    ProjectDialogFrame::showEvent(event);
}

void AppSettingsWindow::fitHeightToTexts()
{
    const int needed = hasHeightForWidth() ? heightForWidth(width()) : sizeHint().height();
    if (needed > 0 && needed != height())
        resize(width(), needed);
}

void AppSettingsWindow::cancel()
{
    done(QDialog::Rejected);
}

SettingsInspector::SettingsInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : AppSettingsContent(store, storeSignals, std::nullopt, parent)
{
}

} // namespace fotivela
