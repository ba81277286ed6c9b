#include "ui/account/ai_music_inspector.h"
#include "ui/common/transitions.h"

#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"
#include "ui/common/store_signals.h"
#include "ui/shell/fotivela_design_system.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace fotivela {

namespace {

const QString darkInputSheet = QStringLiteral("background:rgba(0,0,0,0.22);color:white;border:1px solid rgba(255,255,255,0.2);"
                                              "border-radius:12px;");

// The look every single-line input of the program shares.
QLineEdit* makeDarkInputField(QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setFont(systemFont(TextStyle::body));
    field->setStyleSheet(QStringLiteral("QLineEdit{%1padding:8px 10px;}").arg(darkInputSheet));
    return field;
}

QPlainTextEdit* makeEditor(int height, QWidget* parent)
{
    auto* editor = new QPlainTextEdit(parent);
    editor->setFont(systemFont(TextStyle::body));
    editor->setFixedHeight(height);
    editor->setStyleSheet(QStringLiteral("QPlainTextEdit{%1padding:8px;}").arg(darkInputSheet));
    editor->setTabChangesFocus(true);
    disableScrollElasticity(editor->viewport());
    return editor;
}

void setTextKeepingCursor(QLineEdit* field, const QString& text)
{
    if (field->text() != text)
        field->setText(text);
}

void setTextKeepingCursor(QPlainTextEdit* editor, const QString& text)
{
    if (editor->toPlainText() != text)
        editor->setPlainText(text);
}

} // namespace

AIMusicSectionTitle::AIMusicSectionTitle(const QString& title, QWidget* parent) : QLabel(title, parent)
{
    setFont(systemFont(13, QFont::Bold));
    setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.92); padding-top: 2px;"));
}

AIMusicStatusText::AIMusicStatusText(QWidget* parent) : QWidget(parent)
{
    auto* card = new RoundedPanel(blackAt(0.14), Qt::transparent, 10, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(card);
    auto* inner = new QVBoxLayout(card);
    inner->setContentsMargins(10, 7, 10, 7);
    m_label = new QLabel(card);
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setFont(systemFont(12, QFont::DemiBold));
    inner->addWidget(m_label);
    setStatus({}, false);
}

void AIMusicStatusText::setStatus(const QString& text, bool isError)
{
    m_isError = isError;
    m_label->setText(text);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, isError ? QColor::fromRgbF(1, 0.23f, 0.19f, 0.92f) : secondaryTextColor());
    m_label->setPalette(palette);
}

QString AIMusicStatusText::text() const
{
    return m_label->text();
}

AIMusicInspector::AIMusicInspector(ProjectStore& store, StoreSignals& storeSignals, AccountSession& accountSession,
                                   QWidget* parent)
    : QWidget(parent), m_store(store), m_session(accountSession)
{
    setObjectName(QStringLiteral("aiMusicInspector"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto* inputs = new QVBoxLayout;
    inputs->setSpacing(8);
    m_inputsTitle = new AIMusicSectionTitle({}, this);
    inputs->addWidget(m_inputsTitle);
    m_subject = makeDarkInputField(this);
    m_subject->setObjectName(QStringLiteral("subjectField"));
    inputs->addWidget(m_subject);
    m_requestedStyle = makeDarkInputField(this);
    m_requestedStyle->setObjectName(QStringLiteral("requestedStyleField"));
    inputs->addWidget(m_requestedStyle);
    m_notes = makeEditor(92, this);
    m_notes->setObjectName(QStringLiteral("notesEditor"));
    m_notesPlaceholder = new QLabel(m_notes);
    m_notesPlaceholder->setFont(systemFont(TextStyle::body));
    m_notesPlaceholder->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.45); background: transparent;"));
    m_notesPlaceholder->move(14, 12);
    m_notesPlaceholder->setAttribute(Qt::WA_TransparentForMouseEvents);
    inputs->addWidget(m_notes);
    column->addLayout(inputs);

    m_instrumental = new QPushButton(this);
    m_instrumental->setObjectName(QStringLiteral("instrumentalSwitch"));
    m_instrumental->setFont(systemFont(13, QFont::Bold));
    m_instrumental->setCursor(Qt::PointingHandCursor);
    m_instrumental->setStyleSheet(QStringLiteral("QPushButton{text-align:left;padding:10px;color:white;"
                                                 "background:rgba(0,0,0,0.16);border:1px solid rgba(255,255,255,0.2);"
                                                 "border-radius:12px;}"));
    column->addWidget(m_instrumental);

    auto* cloudBlock = new QVBoxLayout;
    cloudBlock->setSpacing(8);
    m_cloudText = new QPushButton(accountSymbolIcon(QStringLiteral("cloud"), Qt::white), {}, this);
    m_cloudText->setObjectName(QStringLiteral("cloudTextButton"));
    applyButtonLook(m_cloudText, ButtonLook::bordered);
    cloudBlock->addWidget(m_cloudText);
    m_cloudTextReason = new AIMusicStatusText(this);
    cloudBlock->addWidget(m_cloudTextReason);
    column->addLayout(cloudBlock);

    // Title and editor of the lyrics share one column of their own.
    m_lyricsTitle = new AIMusicSectionTitle({}, this);
    column->addWidget(m_lyricsTitle);
    m_lyrics = makeEditor(198, this);
    m_lyrics->setObjectName(QStringLiteral("lyricsEditor"));
    column->addWidget(m_lyrics);

    auto* styleBlock = new QVBoxLayout;
    styleBlock->setSpacing(6);
    m_styleTitle = new AIMusicSectionTitle({}, this);
    styleBlock->addWidget(m_styleTitle);
    m_stylePrompt = makeEditor(132, this);
    m_stylePrompt->setObjectName(QStringLiteral("styleEditor"));
    styleBlock->addWidget(m_stylePrompt);
    column->addLayout(styleBlock);

    auto* songBlock = new QVBoxLayout;
    songBlock->setSpacing(8);
    m_song = new QPushButton(accountSymbolIcon(QStringLiteral("music.note"), Qt::black), {}, this);
    m_song->setObjectName(QStringLiteral("songButton"));
    applyButtonLook(m_song, ButtonLook::prominent);
    songBlock->addWidget(m_song);
    m_songReason = new AIMusicStatusText(this);
    songBlock->addWidget(m_songReason);
    column->addLayout(songBlock);

    m_status = new AIMusicStatusText(this);
    m_status->setObjectName(QStringLiteral("paneStatus"));
    column->addWidget(m_status);
    column->addStretch(1);

    // No debounce: the store takes each keystroke.
    connect(m_subject, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!m_isRefreshing)
            m_store.setAIMusicSubjectName(text.toStdString());
    });
    connect(m_requestedStyle, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!m_isRefreshing)
            m_store.setAIMusicRequestedStyle(text.toStdString());
    });
    connect(m_notes, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_isRefreshing)
            m_store.setAIMusicGenerationNotes(m_notes->toPlainText().toStdString());
    });
    connect(m_lyrics, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_isRefreshing)
            m_store.setAILyricsText(m_lyrics->toPlainText().toStdString());
    });
    connect(m_stylePrompt, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_isRefreshing)
            m_store.setAIMusicStylePrompt(m_stylePrompt->toPlainText().toStdString());
    });
    connect(m_instrumental, &QPushButton::clicked, this, [this] { toggleInstrumental(); });
    connect(m_cloudText, &QPushButton::clicked, this, [this] { generateCloudLyrics(); });
    connect(m_song, &QPushButton::clicked, this, [this] { generateCloudSong(); });

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        switch (field) {
        case StoreField::project:
        case StoreField::appLanguage:
        case StoreField::isGeneratingLyrics:
        case StoreField::isGeneratingCloudMusic:
        case StoreField::aiLyricsStatusMessage:
            refresh();
            break;
        default:
            break;
        }
    });
    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::account || field == AccountSessionField::isWorking ||
            field == AccountSessionField::cloudAIConfig)
            refresh();
    });
    refresh();
}

void AIMusicInspector::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Costs and switches may have changed since the pane was last shown.
    m_session.refreshCloudAIConfigSilently();
}

AIMusicAvailabilityState AIMusicInspector::availabilityState() const
{
    AIMusicAvailabilityState state;
    state.slideCount = static_cast<std::int64_t>(m_store.project().slides.size());
    state.settings = m_store.project().aiMusic;
    state.stylePrompt = m_store.aiMusicStylePrompt();
    state.isGeneratingLyrics = m_store.isGeneratingLyrics();
    state.isGeneratingCloudMusic = m_store.isGeneratingCloudMusic();
    state.isWorking = m_session.isWorking();
    state.isAuthenticated = m_session.isAuthenticated();
    state.balance = m_session.account().balance;
    state.config = m_session.cloudAIConfig();
    return state;
}

bool AIMusicInspector::hasEnoughCloudLyricsCredits() const
{
    return AIMusicAvailability::hasEnoughCloudLyricsCredits(availabilityState());
}

bool AIMusicInspector::hasEnoughCloudMusicCredits() const
{
    return AIMusicAvailability::hasEnoughCloudMusicCredits(availabilityState());
}

std::optional<QString> AIMusicInspector::cloudTextGenerationDisabledReason() const
{
    return AIMusicAvailability::cloudTextGenerationDisabledReason(availabilityState(), m_store.appLanguage());
}

std::optional<QString> AIMusicInspector::cloudSongDisabledReason() const
{
    return AIMusicAvailability::cloudSongDisabledReason(availabilityState(), m_store.appLanguage());
}

void AIMusicInspector::toggleInstrumental()
{
    const auto& settings = m_store.project().aiMusic;
    m_store.setAIMusicWithVocals(settings ? !settings->withVocals : false);
}

void AIMusicInspector::refresh()
{
    m_isRefreshing = true;
    const AppLanguage language = m_store.appLanguage();
    const auto& settings = m_store.project().aiMusic;
    const bool withVocals = AIMusicAvailability::isWithVocals(settings);
    const auto text = [](const std::string& value) { return QString::fromStdString(value); };

    m_inputsTitle->setText(translated(withVocals ? "Datos para la letra" : "Datos para la cancion", language));
    m_subject->setPlaceholderText(translated("Nombre del sujeto o lugar", language));
    setTextKeepingCursor(m_subject, settings ? text(settings->subjectName) : QString());
    m_requestedStyle->setPlaceholderText(translated("Estilo de música", language));
    setTextKeepingCursor(m_requestedStyle, text(m_store.aiMusicRequestedStyle()));
    const QString notes = settings ? text(settings->generationNotes) : QString();
    setTextKeepingCursor(m_notes, notes);
    m_notesPlaceholder->setText(translated("Datos adicionales", language));
    m_notesPlaceholder->adjustSize();
    m_notesPlaceholder->setVisible(notes.isEmpty());

    const QString symbol = withVocals ? QStringLiteral("circle") : QStringLiteral("checkmark.circle.fill");
    m_instrumental->setProperty("symbol", symbol);
    m_instrumental->setIcon(accountSymbolIcon(symbol, withVocals ? secondaryTextColor() : accentColor()));
    m_instrumental->setText(translated("Instrumental", language));

    const AIMusicAvailabilityState state = availabilityState();
    const auto creditsSuffix = [&](std::int64_t cost) {
        return QStringLiteral(" (%1 %2)").arg(QString::number(cost), translated("créditos", language));
    };
    if (m_store.isGeneratingLyrics())
        m_cloudText->setText(translated(withVocals ? "Generando letra..." : "Generando estilo...", language));
    else
        m_cloudText->setText(translated(withVocals ? "Generar Letra" : "Generar estilo nube", language) +
                             creditsSuffix(AIMusicAvailability::lyricsCost(state.config)));
    const auto textReason = AIMusicAvailability::cloudTextGenerationDisabledReason(state, language);
    m_cloudText->setEnabled(!textReason);
    m_cloudTextReason->setVisible(textReason.has_value());
    if (textReason)
        m_cloudTextReason->setStatus(*textReason, AIMusicAvailability::isErrorReason(*textReason));

    m_lyricsTitle->setVisible(withVocals);
    // The editor, not its title, fades and slides in and out.
    const bool lyricsWereShown = m_lyrics->isVisible();
    if (!withVocals && lyricsWereShown)
        Transitions::leave(m_lyrics);
    m_lyrics->setVisible(withVocals);
    if (withVocals && !lyricsWereShown && isVisible())
        Transitions::enter(m_lyrics);
    m_lyricsTitle->setText(translated("Letra", language));
    setTextKeepingCursor(m_lyrics, settings ? text(settings->lyrics) : QString());
    m_styleTitle->setText(translated("Estilo musical generado", language));
    setTextKeepingCursor(m_stylePrompt, text(m_store.aiMusicStylePrompt()));

    if (m_store.isGeneratingCloudMusic())
        m_song->setText(translated("Generando canción...", language));
    else
        m_song->setText(translated("Generar canción", language) + creditsSuffix(AIMusicAvailability::musicCost(state.config)));
    const auto songReason = AIMusicAvailability::cloudSongDisabledReason(state, language);
    m_song->setEnabled(!songReason);
    m_songReason->setVisible(songReason.has_value());
    if (songReason)
        m_songReason->setStatus(*songReason, AIMusicAvailability::isErrorReason(*songReason));

    const QString status = text(m_store.aiLyricsStatusMessage());
    m_status->setVisible(!status.trimmed().isEmpty());
    m_status->setStatus(status, !m_store.isGeneratingLyrics() && !m_store.isGeneratingCloudMusic());
    m_isRefreshing = false;
}

} // namespace fotivela
