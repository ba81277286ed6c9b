#pragma once

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"

#include <QAbstractButton>
#include <QFrame>
#include <QString>
#include <QWidget>

#include <string_view>

namespace fotivela {

// An inspector widget: reads the store on every relevant change and writes to it only
// through its operations. Subclasses fill their controls in refresh(); the controls'
// own signals are blocked there, so a value set from the store never writes back.
class InspectorView : public QWidget {
public:
    InspectorView(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent);

    ProjectStore& store() const { return m_store; }
    StoreSignals& storeSignals() const { return m_signals; }

    // Re-reads the store. Public so that a parent can refresh its children in order.
    virtual void refresh() = 0;

protected:
    QString text(std::string_view spanish) const;
    // Whether a change of this field can alter what an inspector shows: the playhead and
    // export progress move many times a second and no inspector draws them.
    static bool isRelevant(StoreField field);

private:
    ProjectStore& m_store;
    StoreSignals& m_signals;
};

// The interface text in the store's language.
QString translated(const ProjectStore& store, std::string_view spanish);
QString translated(AppLanguage language, std::string_view spanish);

// A rounded card of the inspectors: a translucent white fill and a faint inner stroke.
QFrame* makeInspectorCard(QWidget* parent, int cornerRadius, double fillOpacity, double strokeOpacity);

// Text and widget looks shared by the inspectors.
void applyCaptionFont(QWidget* widget, bool semibold = false);
void applySecondaryStyle(QWidget* widget);
void applyProminentStyle(QAbstractButton* button);
// The dark rounded box of a value field (colour well, font menu, hex entry) for a style sheet selector.
QString fieldBoxStyle(const QString& selector);

// A whole number for display from a double read from a project file: non-finite values
// show as 0 and huge ones are held at the limits of the integer type.
long long displayInteger(double value);

} // namespace fotivela
