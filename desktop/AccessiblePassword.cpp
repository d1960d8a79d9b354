#include "AccessiblePassword.h"

#include <QAccessibleWidget>
#include <QLineEdit>

namespace
{

class PasswordField : public QAccessibleWidget
{
public:
    explicit PasswordField(QLineEdit* edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.passwordEdit = true;
        s.editable = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        // The name and description come from the label and tooltip; the value never.
        return t == QAccessible::Value ? QString() : QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QLineEdit"))
        return nullptr;
    auto* edit = qobject_cast<QLineEdit*>(object);
    if (!edit || edit->echoMode() == QLineEdit::Normal)
        return nullptr;
    return new PasswordField(edit);
}

} // namespace

namespace AccessiblePassword
{

void install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(factory);
}

} // namespace AccessiblePassword
