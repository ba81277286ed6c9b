#include "ui/shell/project_dialogs.h"

#include "model/app_text.h"
#include "model/recent_project_persistence.h"
#include "store/project_store.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/shell/fotivela_logo.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace fotivela {

namespace {

QString trimmedOfBlanks(const QString& text)
{
    return text.trimmed(); // white space and line breaks at both ends
}

QPushButton* wideButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setMinimumHeight(34);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setAutoDefault(false);
    return button;
}

// A folder path in at most two lines, its middle elided when longer.
QString twoLineMiddleElided(const QString& text, const QFont& font, int width)
{
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= width * 2 - 8)
        return text;
    return metrics.elidedText(text, Qt::ElideMiddle, width * 2 - 8);
}

} // namespace

ProjectDialogFrame::ProjectDialogFrame(ProjectStore& store, int width, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Fotivela"));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 18, 18, 18);
    auto* glass = new FotivelaGlassPanel(22, this);
    glass->setFixedWidth(width);
    outer->addWidget(glass);

    auto* stack = new QVBoxLayout(glass);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(18);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    header->addWidget(new FotivelaLogo(QSize(170, 52), glass));
    header->addStretch(1);
    m_close = new QPushButton(glass);
    m_close->setFixedSize(28, 28);
    m_close->setIcon(symbolIcon("xmark"));
    m_close->setIconSize(QSize(13, 13));
    retranslateFrame();
    m_close->setAutoDefault(false);
    m_close->setCursor(Qt::PointingHandCursor);
    m_close->setStyleSheet(QStringLiteral("QPushButton { background: rgba(255,255,255,20); border: none; border-radius: 14px; }"
                                          "QPushButton:hover { background: rgba(255,255,255,36); }"));
    connect(m_close, &QPushButton::clicked, this, [this] { cancel(); });
    header->addWidget(m_close);
    stack->addLayout(header);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(8);
    m_title = new QLabel(glass);
    m_title->setFont(systemFont(28, QFont::DemiBold));
    m_title->setWordWrap(true);
    m_explanation = new QLabel(glass);
    m_explanation->setWordWrap(true);
    m_explanation->setStyleSheet(QStringLiteral("color: rgba(255,255,255,160);"));
    titles->addWidget(m_title);
    titles->addWidget(m_explanation);
    stack->addLayout(titles);

    m_body = stack;
}

QString ProjectDialogFrame::translated(std::string_view text) const
{
    return QString::fromStdString(AppText::translate(text, m_store.appLanguage()));
}

void ProjectDialogFrame::retranslateFrame()
{
    m_close->setToolTip(translated("Cerrar"));
}

void ProjectDialogFrame::setTexts(const QString& title, const QString& explanation)
{
    m_title->setText(title);
    m_explanation->setText(explanation);
}

void ProjectDialogFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintWindowBackdrop(painter, rect());
}

void ProjectDialogFrame::reject()
{
    cancel();
}

// MARK: new project

NewProjectDialog::NewProjectDialog(ProjectStore& store, QWidget* parent)
    : ProjectDialogFrame(store, 520, parent)
{
    setTexts(translated("Nuevo proyecto"),
             translated("Ponle nombre al slideshow. Fotivela creara su carpeta de proyecto automaticamente en la ruta configurada."));

    auto* content = new QVBoxLayout;
    content->setSpacing(8);
    auto* label = new QLabel(translated("Nombre del proyecto"));
    label->setFont(systemFont(TextStyle::caption, QFont::DemiBold));
    label->setStyleSheet(QStringLiteral("color: rgba(255,255,255,160);"));
    m_name = new QLineEdit;
    m_name->setPlaceholderText(translated("Mi slideshow"));
    m_name->setFont(systemFont(TextStyle::title3, QFont::Medium));
    m_name->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(0,0,0,61); border: 1px solid rgba(255,255,255,36);"
                                         " border-radius: 12px; padding: 12px 14px; }"
                                         "QLineEdit:focus { border: 1px solid %1; }")
                              .arg(withOpacity(AppTheme::accent(), 0.85).name(QColor::HexArgb)));
    connect(m_name, &QLineEdit::returnPressed, this, &NewProjectDialog::createProject);
    content->addWidget(label);
    content->addWidget(m_name);
    body()->addLayout(content);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    m_cancel = wideButton(translated("Cancelar"), this);
    styleBorderedButton(m_cancel);
    m_create = wideButton(translated("Crear proyecto"), this);
    m_create->setIcon(symbolIcon("plus", Qt::black));
    styleProminentButton(m_create);
    connect(m_cancel, &QPushButton::clicked, this, [this] { cancel(); });
    connect(m_create, &QPushButton::clicked, this, &NewProjectDialog::createProject);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_create);
    body()->addLayout(buttons);
}

void NewProjectDialog::showEvent(QShowEvent* event)
{
    ProjectDialogFrame::showEvent(event);
    m_name->setFocus(Qt::OtherFocusReason);
}

void NewProjectDialog::createProject()
{
    // createProject clears the dialog's flag itself; an empty name becomes the default name.
    m_store.createProject(trimmedOfBlanks(m_name->text()).toStdString());
    m_store.setIsNewProjectDialogPresented(false);
    done(QDialog::Accepted);
}

void NewProjectDialog::cancel()
{
    m_store.setIsNewProjectDialogPresented(false);
    done(QDialog::Rejected);
}

// MARK: recent project

DeleteRecentProjectDialog::DeleteRecentProjectDialog(ProjectStore& store, RecentProject recent, QWidget* parent)
    : ProjectDialogFrame(store, 540, parent)
    , m_recent(std::move(recent))
{
    setTexts(translated("Eliminar proyecto reciente"),
             translated("Se quitara de la lista de proyectos recientes. No se borrara el proyecto del disco ni se "
                        "eliminaran las fotos de su carpeta original."));

    auto* box = new QFrame;
    box->setObjectName(QStringLiteral("recentBox"));
    box->setStyleSheet(QStringLiteral("#recentBox { background: rgba(0,0,0,56); border: 1px solid rgba(255,255,255,33);"
                                      " border-radius: 14px; }"));
    auto* lines = new QVBoxLayout(box);
    lines->setContentsMargins(14, 14, 14, 14);
    lines->setSpacing(8);
    auto* nameRow = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(symbolIcon("folder").pixmap(16, 16));
    auto* name = new QLabel(QString::fromStdString(m_recent.name));
    name->setFont(systemFont(TextStyle::headline, QFont::Bold));
    name->setWordWrap(true);
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    nameRow->addWidget(icon, 0, Qt::AlignTop);
    nameRow->addWidget(name, 1);
    lines->addLayout(nameRow);
    m_folder = new QLabel;
    m_folder->setFont(systemFont(TextStyle::caption));
    m_folder->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
    m_folder->setWordWrap(true);
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QString folder = QString::fromStdString(m_recent.url.parent_path().string());
    m_folder->setToolTip(folder);
    m_folder->setText(twoLineMiddleElided(folder, m_folder->font(), 540 - 48 - 28));
    lines->addWidget(m_folder);
    body()->addWidget(box);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(10);
    m_remove = wideButton(translated("Quitar de recientes"), this);
    m_remove->setIcon(symbolIcon("eye.slash", Qt::black));
    styleProminentButton(m_remove);
    m_cancel = wideButton(translated("Cancelar"), this);
    stylePlainButton(m_cancel);
    m_cancel->setStyleSheet(m_cancel->styleSheet() + QStringLiteral("QAbstractButton { color: rgba(255,255,255,160); }"));
    connect(m_remove, &QPushButton::clicked, this, &DeleteRecentProjectDialog::remove);
    connect(m_cancel, &QPushButton::clicked, this, [this] { cancel(); });
    buttons->addWidget(m_remove);
    buttons->addWidget(m_cancel);
    body()->addLayout(buttons);
}

void DeleteRecentProjectDialog::remove()
{
    m_store.setRecentProjects(RecentProjectPersistence::removing(m_recent, m_store.recentProjects()));
    m_store.setRecentProjectPendingDeletion(std::nullopt);
    RecentProjectPersistence::save(m_store.recentProjects());
    done(QDialog::Accepted);
}

void DeleteRecentProjectDialog::cancel()
{
    m_store.setRecentProjectPendingDeletion(std::nullopt);
    done(QDialog::Rejected);
}

// MARK: manual markers

std::string DeleteManualBeatMarkersDialog::message(std::int64_t count)
{
    if (count == 1)
        return "Se eliminara la marca manual que has creado.";
    return "Se eliminaran las " + std::to_string(count) + " marcas manuales que has creado.";
}

DeleteManualBeatMarkersDialog::DeleteManualBeatMarkersDialog(ProjectStore& store, QWidget* parent)
    : ProjectDialogFrame(store, 520, parent)
{
    const std::int64_t count = store.manualBeatMarkerDeletionCount().value_or(store.manualBeatMarkerCount());
    // The one-marker sentence has an English rendering; the counted one is translated when the
    // table holds it and shown in Spanish otherwise.
    setTexts(translated("Borrar marcas manuales"), translated(message(count)));

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    m_cancel = wideButton(translated("Cancelar"), this);
    styleBorderedButton(m_cancel);
    m_delete = wideButton(translated("Borrar"), this);
    m_delete->setIcon(symbolIcon("trash", Qt::white));
    styleProminentButton(m_delete, QColor(0xE5, 0x48, 0x4D));
    connect(m_cancel, &QPushButton::clicked, this, [this] { cancel(); });
    connect(m_delete, &QPushButton::clicked, this, &DeleteManualBeatMarkersDialog::confirm);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_delete);
    body()->addLayout(buttons);
}

void DeleteManualBeatMarkersDialog::confirm()
{
    m_store.confirmDeleteManualBeatMarkers();
    m_store.setManualBeatMarkerDeletionCount(std::nullopt);
    done(QDialog::Accepted);
}

void DeleteManualBeatMarkersDialog::cancel()
{
    m_store.setManualBeatMarkerDeletionCount(std::nullopt);
    done(QDialog::Rejected);
}

} // namespace fotivela
