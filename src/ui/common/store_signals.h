#pragma once

#include "store/project_store.h"
#include "store/store_field.h"

#include <QObject>

namespace fotivela {

// The store's change channel as a Qt signal, so that widgets connect to it like to any
// other Qt object. One per store for the whole window; views re-read what they need.
class StoreSignals : public QObject {
    Q_OBJECT

public:
    explicit StoreSignals(ProjectStore& store, QObject* parent = nullptr);
    ~StoreSignals() override;

    ProjectStore& store() const { return m_store; }

signals:
    void changed(fotivela::StoreField field);

private:
    ProjectStore& m_store;
    ProjectStore::ObserverID m_observer = 0;
};

} // namespace fotivela
