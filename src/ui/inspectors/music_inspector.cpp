#include "ui/inspectors/music_inspector.h"

#include "ui/common/transitions.h"
#include "ui/common/view_helpers.h"
#include "ui/common/start_folders.h"
#include "ui/inspectors/elided_label.h"
#include "ui/shell/fotivela_design_system.h"

#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace fotivela {

namespace {

std::string trimmed(const std::string& text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

} // namespace

MusicInfoRow::MusicInfoRow(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    m_title = new QLabel(this);
    layout->addWidget(m_title);
    m_value = new LineLimitedLabel(3, this);
    m_value->setObjectName("musicInfoValue");
    m_value->setStyleSheet("QLabel#musicInfoValue { color: rgba(255,255,255,0.55); background: rgba(0,0,0,0.16); "
                           "border: 1px solid rgba(255,255,255,0.12); border-radius: 9px; padding: 8px; }");
    layout->addWidget(m_value);
}

void MusicInfoRow::setContent(const QString& title, const QString& value)
{
    m_title->setText(title);
    m_value->setFullText(value);
}

CurrentSongAIInfo::CurrentSongAIInfo(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_lyrics = new MusicInfoRow(this);
    m_style = new MusicInfoRow(this);
    layout->addWidget(m_lyrics);
    layout->addWidget(m_style);
}

std::optional<std::string> CurrentSongAIInfo::generatedText(const std::optional<AIMusicSettings>& settings,
                                                            const std::string AIMusicSettings::*field)
{
    if (!settings || !settings->lastGeneratedAt)
        return std::nullopt;
    std::string text = trimmed((*settings).*field);
    if (text.empty())
        return std::nullopt;
    return text;
}

void CurrentSongAIInfo::setSettings(const std::optional<AIMusicSettings>& settings, AppLanguage language)
{
    const auto lyrics = generatedText(settings, &AIMusicSettings::lyrics);
    const auto style = generatedText(settings, &AIMusicSettings::stylePrompt);
    m_lyrics->setVisible(lyrics.has_value());
    m_style->setVisible(style.has_value());
    if (lyrics)
        m_lyrics->setContent(QString::fromStdString(AppText::translate("Letra", language)),
                             QString::fromStdString(*lyrics));
    if (style)
        m_style->setContent(QString::fromStdString(AppText::translate("Estilo", language)),
                            QString::fromStdString(*style));
}

MusicInspector::MusicInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : InspectorView(store, storeSignals, parent)
{
    chooseSong = [this]() -> std::optional<std::filesystem::path> {
        const QString file = QFileDialog::getOpenFileName(this, text("Importar musica manual"), StartFolders::music(),
                                                          "Audio (*.mp3 *.wav *.m4a *.aac *.flac *.aif *.aiff)");
        if (file.isEmpty())
            return std::nullopt;
        return std::filesystem::path(file.toStdString());
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    m_noSong = new QLabel(this);
    m_noSong->setObjectName("noSong");
    m_noSong->setStyleSheet("QLabel#noSong { color: rgba(255,255,255,0.55); background: rgba(255,255,255,0.035); "
                            "border: 1px solid rgba(255,255,255,0.1); border-radius: 12px; padding: 10px; }");
    layout->addWidget(m_noSong);

    m_songCard = makeInspectorCard(this, 12, 0.045, 0.12);
    auto* card = new QVBoxLayout(m_songCard);
    card->setContentsMargins(10, 10, 10, 10);
    card->setSpacing(8);
    auto* nameRow = new QHBoxLayout;
    m_songCaption = new QLabel(m_songCard);
    m_songName = new ElidedLabel(Qt::ElideMiddle, m_songCard);
    applySecondaryStyle(m_songName);
    nameRow->addWidget(m_songCaption);
    nameRow->addWidget(m_songName, 1);
    card->addLayout(nameRow);
    m_durationRow = new QWidget(m_songCard);
    auto* durationLayout = new QHBoxLayout(m_durationRow);
    durationLayout->setContentsMargins(0, 0, 0, 0);
    m_durationCaption = new QLabel(m_durationRow);
    m_durationValue = new QLabel(m_durationRow);
    applySecondaryStyle(m_durationValue);
    durationLayout->addWidget(m_durationCaption);
    durationLayout->addStretch();
    durationLayout->addWidget(m_durationValue);
    card->addWidget(m_durationRow);
    m_aiInfo = new CurrentSongAIInfo(m_songCard);
    card->addWidget(m_aiInfo);
    layout->addWidget(m_songCard);

    m_importButton = new QPushButton(this);
    m_importButton->setIcon(symbolIcon("music.note", Qt::black));
    applyProminentStyle(m_importButton);
    layout->addWidget(m_importButton);
    connect(m_importButton, &QPushButton::clicked, this, [this] {
        const auto url = chooseSong();
        if (!url)
            return;
        // A new song ends the AI draft; the earlier settings are not brought back.
        if (this->store().importAudio(url))
            dropAIMusicPane();
    });

    m_aiButton = new QPushButton(this);
    m_aiButton->setIcon(symbolIcon("sparkles", Qt::black));
    applyProminentStyle(m_aiButton);
    layout->addWidget(m_aiButton);
    connect(m_aiButton, &QPushButton::clicked, this, [this] { toggleAIMusicPreparation(); });

    m_aiHolder = new QWidget(this);
    auto* holderLayout = new QVBoxLayout(m_aiHolder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    holderLayout->setSpacing(14);
    auto* divider = new QFrame(m_aiHolder);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    holderLayout->addWidget(divider);
    layout->addWidget(m_aiHolder);
    layout->addStretch();
    refresh();
}

MusicInspector::~MusicInspector()
{
    // Leaving the tab with the pane open closes it as the button would: an untouched
    // draft must not replace the song's lyrics and style in the saved project.
    if (m_isShowingAIMusic)
        restoreKeptSettingsIfDraftIsEmpty();
}

void MusicInspector::toggleAIMusicPreparation()
{
    ProjectStore& s = store();
    if (!m_isShowingAIMusic) {
        m_previousAIMusicSettings = s.project().aiMusic;
        m_keptForProject = s.project().id;
        m_isShowingAIMusic = true;
        s.beginNewAIMusicDraft();
        if (aiMusicPaneFactory) {
            m_aiPane = aiMusicPaneFactory(m_aiHolder);
            if (m_aiPane)
                m_aiHolder->layout()->addWidget(m_aiPane);
        }
        refresh();
        Transitions::enter(m_aiHolder);
        return;
    }
    restoreKeptSettingsIfDraftIsEmpty();
    Transitions::leave(m_aiHolder);
    dropAIMusicPane();
}

void MusicInspector::restoreKeptSettingsIfDraftIsEmpty()
{
    ProjectStore& s = store();
    if (m_keptForProject == s.project().id && s.isAIMusicGenerationDraftEmpty())
        s.restoreAIMusicSettings(m_previousAIMusicSettings);
}

void MusicInspector::dropAIMusicPane()
{
    m_isShowingAIMusic = false;
    m_previousAIMusicSettings.reset();
    m_keptForProject.reset();
    if (m_aiPane) {
        m_aiPane->deleteLater();
        m_aiPane = nullptr;
    }
    refresh();
}

void MusicInspector::showEvent(QShowEvent* event)
{
    InspectorView::showEvent(event);
    if (onAppear)
        onAppear();
}

void MusicInspector::refresh()
{
    const ProjectStore& s = store();
    // Another project was opened under the pane: its draft is not ours to undo.
    if (m_isShowingAIMusic && m_keptForProject != s.project().id) {
        dropAIMusicPane();
        return;
    }
    const auto& audio = s.project().audio;
    m_noSong->setText(text("Sin musica importada."));
    m_noSong->setVisible(!audio);
    m_songCard->setVisible(audio.has_value());
    if (audio) {
        m_songCaption->setText(text("Cancion actual"));
        m_songName->setFullText(QString::fromStdString(audio->name));
        const double duration = s.audioDuration();
        m_durationRow->setVisible(duration > 0);
        m_durationCaption->setText(text("Duracion"));
        m_durationValue->setText(formatDuration(duration));
        m_aiInfo->setVisible(!m_isShowingAIMusic);
        m_aiInfo->setSettings(s.project().aiMusic, s.appLanguage());
    }
    m_importButton->setText(text("Importar musica manual"));
    m_aiButton->setText(text("Generar letra y musica por IA"));
    m_aiHolder->setVisible(m_isShowingAIMusic);
}

} // namespace fotivela
