#pragma once

#include <QLocale>
#include <QString>

#include <memory>

class QTranslator;

// Qt's own texts (standard buttons, file dialogs) in the user's language: Debian's
// qttranslations5-l10n holds them as qtbase_<language>.qm. The client's own texts are Chinese,
// so where Qt has no translation for the locale the Chinese one is taken.
namespace QtTranslations
{

// The translation for locale (or, lacking one, Chinese) from folder (default: Qt's translations
// folder); nullptr when neither is there. install it with QCoreApplication::installTranslator.
std::unique_ptr<QTranslator> load(const QLocale& locale = QLocale(),
                                  const QString& folder = QString());

} // namespace QtTranslations
