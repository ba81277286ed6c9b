#pragma once

#include "model/app_language.h"
#include "model/recent_project.h"
#include "platform/background_task.h"
#include "ui/shell/recent_project_preview.h"

#include <QFrame>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QGridLayout;
class QLabel;
class QPushButton;

namespace fotivela {

class ProjectStore;
class StoreSignals;
class ElidedLabel;
class FotivelaGlassPanel;

// The title of a card's first slide, drawn over its miniature.
namespace RecentProjectTitleOverlay {
// 14 per cent of the shorter side when that exceeds 12, else 12; never above 28.
double fontSize(QSizeF area);
// Where the title's centre goes: the slide's position kept inside 8-92 % across, 12-88 % down.
QPointF centre(const Slide& slide, QSizeF area);
// Draws the title of `slide` into `area`; nothing for a blank title.
void paint(QPainter& painter, const Slide& slide, const QRectF& area);
} // namespace RecentProjectTitleOverlay

// The miniature of a card: the format's frame letterboxed in the strip, the background colour,
// the picture and the title, or a placeholder.
class RecentProjectPreviewView : public QWidget {
    Q_OBJECT

public:
    explicit RecentProjectPreviewView(QWidget* parent = nullptr);

    void setPreview(std::optional<RecentProjectPreview> preview, AppLanguage language);
    const std::optional<RecentProjectPreview>& preview() const { return m_preview; }
    // The drawing area: the format's aspect ratio fitted into the widget, centred.
    QRectF drawingArea() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<RecentProjectPreview> m_preview;
    AppLanguage m_language = AppLanguage::spanish;
};

// One recent project: its miniature, name and day of the last save; a click opens it and the
// small cross asks to take it off the list.
class RecentProjectCard : public QWidget {
    Q_OBJECT

public:
    RecentProjectCard(ProjectStore& store, RecentProject recent, std::shared_ptr<RecentProjectPictures> pictures = {},
                      QWidget* parent = nullptr);
    ~RecentProjectCard() override;

    const RecentProject& recent() const { return m_recent; }
    RecentProjectPreviewView* previewView() const { return m_previewView; }
    QPushButton* removeButton() const { return m_remove; }
    QLabel* nameLabel() const;
    QLabel* dateLabel() const { return m_date; }
    void setLanguage(AppLanguage language);

signals:
    void previewLoaded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ProjectStore& m_store;
    RecentProject m_recent;
    FotivelaGlassPanel* m_panel = nullptr;
    RecentProjectPreviewView* m_previewView = nullptr;
    ElidedLabel* m_name = nullptr;
    QLabel* m_date = nullptr;
    QPushButton* m_remove = nullptr;
    TaskHandle m_load;
};

// The home screen: the two ways into a project and the recent-project cards.
class HomeView : public QWidget {
    Q_OBJECT

public:
    HomeView(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    // Columns of at least 260 points with 14 between them; at least one.
    static int columnCount(int width);

    QPushButton* newProjectButton() const { return m_newProject; }
    QPushButton* openProjectButton() const { return m_openProject; }
    QWidget* emptyState() const { return m_empty; }
    const std::vector<RecentProjectCard*>& cards() const { return m_cards; }
    int currentColumnCount() const { return m_columns; }

    void refresh();

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuildCards();
    void layoutCards();

    ProjectStore& m_store;
    QPushButton* m_newProject = nullptr;
    QPushButton* m_openProject = nullptr;
    QLabel* m_heading = nullptr;
    QWidget* m_empty = nullptr;
    QLabel* m_emptyText = nullptr;
    QWidget* m_grid = nullptr;
    QGridLayout* m_gridLayout = nullptr;
    std::vector<RecentProjectCard*> m_cards;
    std::vector<RecentProject> m_shown;
    // Shared with the cards' loads, which may end after the view.
    std::shared_ptr<RecentProjectPictures> m_pictures = std::make_shared<RecentProjectPictures>();
    int m_columns = 0;
};

} // namespace fotivela
