#pragma once

#include "account/account_session.h"
#include "store/project_store.h"
#include "ui/account/ai_music_availability.h"

#include <QLabel>
#include <QWidget>

#include <optional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace fotivela {

class RoundedPanel;
class StoreSignals;

// A section heading of the AI music pane.
class AIMusicSectionTitle : public QLabel {
    Q_OBJECT

public:
    explicit AIMusicSectionTitle(const QString& title, QWidget* parent = nullptr);
};

// A one-paragraph status line of the AI music pane, red when it reports an error.
class AIMusicStatusText : public QWidget {
    Q_OBJECT

public:
    explicit AIMusicStatusText(QWidget* parent = nullptr);
    void setStatus(const QString& text, bool isError);
    QString text() const;
    bool isError() const { return m_isError; }

private:
    QLabel* m_label = nullptr;
    bool m_isError = false;
};

// Prepares a cloud AI song from the music inspector. Stateless: everything it shows comes from
// the store and the account session, and every edit goes back through the store.
class AIMusicInspector : public QWidget {
    Q_OBJECT

public:
    AIMusicInspector(ProjectStore& store, StoreSignals& storeSignals, AccountSession& accountSession,
                     QWidget* parent = nullptr);

    bool hasEnoughCloudLyricsCredits() const;
    bool hasEnoughCloudMusicCredits() const;
    std::optional<QString> cloudTextGenerationDisabledReason() const;
    std::optional<QString> cloudSongDisabledReason() const;
    // Start a generation and return at once; the store's flag marks the run.
    void generateCloudLyrics();
    void generateCloudSong();

    QLineEdit* subjectField() const { return m_subject; }
    QLineEdit* styleField() const { return m_requestedStyle; }
    QPlainTextEdit* notesEditor() const { return m_notes; }
    QPlainTextEdit* lyricsEditor() const { return m_lyrics; }
    QPlainTextEdit* styleEditor() const { return m_stylePrompt; }
    QPushButton* instrumentalSwitch() const { return m_instrumental; }
    QPushButton* cloudTextButton() const { return m_cloudText; }
    QPushButton* songButton() const { return m_song; }
    AIMusicStatusText* cloudTextReason() const { return m_cloudTextReason; }
    AIMusicStatusText* songReason() const { return m_songReason; }
    AIMusicStatusText* paneStatus() const { return m_status; }
    QLabel* inputsTitle() const { return m_inputsTitle; }
    QLabel* lyricsTitle() const { return m_lyricsTitle; }
    QLabel* notesPlaceholder() const { return m_notesPlaceholder; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    AIMusicAvailabilityState availabilityState() const;
    void refresh();
    void toggleInstrumental();

    ProjectStore& m_store;
    AccountSession& m_session;
    bool m_isRefreshing = false;

    QLabel* m_inputsTitle = nullptr;
    QLineEdit* m_subject = nullptr;
    QLineEdit* m_requestedStyle = nullptr;
    QPlainTextEdit* m_notes = nullptr;
    QLabel* m_notesPlaceholder = nullptr;
    QPushButton* m_instrumental = nullptr;
    QPushButton* m_cloudText = nullptr;
    AIMusicStatusText* m_cloudTextReason = nullptr;
    AIMusicSectionTitle* m_lyricsTitle = nullptr;
    QPlainTextEdit* m_lyrics = nullptr;
    AIMusicSectionTitle* m_styleTitle = nullptr;
    QPlainTextEdit* m_stylePrompt = nullptr;
    QPushButton* m_song = nullptr;
    AIMusicStatusText* m_songReason = nullptr;
    AIMusicStatusText* m_status = nullptr;
};

} // namespace fotivela
