#pragma once

#include "model/app_language.h"

#include <QObject>
#include <QTranslator>

#include <memory>

namespace fotivela {

// Qt's own texts (file panels, message-box buttons, context menus of fields) in the
// interface language, from the translations Qt installs.
class QtTranslations : public QObject {
public:
    explicit QtTranslations(QObject* parent = nullptr);
    ~QtTranslations() override;

    // Installs the language's translation, or none for English; true when Qt's texts now
    // follow `language`.
    bool apply(AppLanguage language);

private:
    std::unique_ptr<QTranslator> m_translator;
};

} // namespace fotivela
