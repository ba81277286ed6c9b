#include "ui/shell/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace fotivela {

QtTranslations::QtTranslations(QObject* parent)
    : QObject(parent)
{
}

QtTranslations::~QtTranslations()
{
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
}

bool QtTranslations::apply(AppLanguage language)
{
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
    if (language == AppLanguage::english)
        return true; // Qt's texts are English already
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    m_translator = std::move(translator);
    return true;
}

} // namespace fotivela
