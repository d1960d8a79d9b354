#include "QtTranslations.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace QtTranslations
{

std::unique_ptr<QTranslator> load(const QLocale& locale, const QString& folder)
{
    const QString dir =
        folder.isEmpty() ? QLibraryInfo::location(QLibraryInfo::TranslationsPath) : folder;
    auto translator = std::make_unique<QTranslator>();
    // load(QLocale, ...) tries each of the locale's UI languages, then their shorter forms.
    if (locale.language() != QLocale::C && translator->load(locale, "qtbase", "_", dir))
        return translator;
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_", dir))
        return translator;
    return nullptr;
}

} // namespace QtTranslations
