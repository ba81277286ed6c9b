#pragma once

#include "model/ai_music_settings.h"
#include "ui/inspectors/inspector_view.h"

#include <filesystem>
#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace fotivela {

class ElidedLabel;
class LineLimitedLabel;

// One titled text box of the song's AI information.
class MusicInfoRow : public QWidget {
public:
    MusicInfoRow(QWidget* parent = nullptr);
    void setContent(const QString& title, const QString& value);
    LineLimitedLabel* valueLabel() const { return m_value; }

private:
    QLabel* m_title = nullptr;
    LineLimitedLabel* m_value = nullptr;
};

// The lyrics and style of a song generated in the cloud.
class CurrentSongAIInfo : public QWidget {
public:
    CurrentSongAIInfo(QWidget* parent = nullptr);
    void setSettings(const std::optional<AIMusicSettings>& settings, AppLanguage language);

    // Trimmed text of a generated song's field; none when not generated or blank.
    static std::optional<std::string> generatedText(const std::optional<AIMusicSettings>& settings,
                                                    const std::string AIMusicSettings::*field);

    MusicInfoRow* lyricsRow() const { return m_lyrics; }
    MusicInfoRow* styleRow() const { return m_style; }

private:
    MusicInfoRow* m_lyrics = nullptr;
    MusicInfoRow* m_style = nullptr;
};

// The project's song: which one it is, importing one, and the place of the AI music pane.
class MusicInspector : public InspectorView {
public:
    MusicInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    void refresh() override;

    // The song panel; none when cancelled.
    std::function<std::optional<std::filesystem::path>()> chooseSong;
    // Builds the AI music pane shown inline below the buttons; none leaves the AI button off.
    std::function<QWidget*(QWidget* parent)> aiMusicPaneFactory;
    // Runs each time the pane comes on screen (the cloud configuration refresh).
    std::function<void()> onAppear;

    // Opens the AI music pane on a fresh draft, keeping the project's settings aside, or
    // closes it, bringing them back when the draft is still empty.
    void toggleAIMusicPreparation();
    bool isShowingAIMusic() const { return m_isShowingAIMusic; }
    const std::optional<AIMusicSettings>& previousAIMusicSettings() const { return m_previousAIMusicSettings; }

    QLabel* noSongMessage() const { return m_noSong; }
    QFrame* songCard() const { return m_songCard; }
    ElidedLabel* songName() const { return m_songName; }
    QWidget* durationRow() const { return m_durationRow; }
    QLabel* durationValue() const { return m_durationValue; }
    CurrentSongAIInfo* aiInfo() const { return m_aiInfo; }
    QPushButton* importButton() const { return m_importButton; }
    QPushButton* aiButton() const { return m_aiButton; }
    QWidget* aiPaneHolder() const { return m_aiHolder; }

    ~MusicInspector() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Hides the pane and forgets what was kept aside, restoring nothing.
    void dropAIMusicPane();
    // The closing rule: an empty draft gives the kept settings back.
    void restoreKeptSettingsIfDraftIsEmpty();

    bool m_isShowingAIMusic = false;
    std::optional<AIMusicSettings> m_previousAIMusicSettings;
    // The project whose settings were kept: they must never land in another one.
    std::optional<Uuid> m_keptForProject;

    QLabel* m_noSong = nullptr;
    QFrame* m_songCard = nullptr;
    QLabel* m_songCaption = nullptr;
    ElidedLabel* m_songName = nullptr;
    QWidget* m_durationRow = nullptr;
    QLabel* m_durationCaption = nullptr;
    QLabel* m_durationValue = nullptr;
    CurrentSongAIInfo* m_aiInfo = nullptr;
    QPushButton* m_importButton = nullptr;
    QPushButton* m_aiButton = nullptr;
    QWidget* m_aiHolder = nullptr;
    QWidget* m_aiPane = nullptr;
};

} // namespace fotivela
