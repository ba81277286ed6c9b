#include "ui/common/store_signals.h"

namespace fotivela {

StoreSignals::StoreSignals(ProjectStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    m_observer = m_store.addObserver([this](StoreField field) { emit changed(field); });
}

StoreSignals::~StoreSignals()
{
    m_store.removeObserver(m_observer);
}

} // namespace fotivela
