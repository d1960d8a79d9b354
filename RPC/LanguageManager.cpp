#include "LanguageManager.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace
{

struct BuiltIn {
    int id;
    const char* text;
};

const BuiltIn kBuiltIns[] = {
    {7000, "已发送到服务器!"},   {7002, "等待审批!"},       {7003, "正在发往物理打印机!"},
    {7004, "正在打印机上打印!"}, {7511, "打印失败!"},       {7512, "打印成功!"},
    {7513, "作业被用户取消!"},   {7514, "作业被超时取消!"}, {7515, "审批被拒绝！!"},
    {8100, "等待审批!"},         {8101, "审批通过!"},       {8102, "审批被拒绝!"},
};

} // namespace

LanguageManager::LanguageManager() : LanguageManager(QString::fromLatin1(kIniFileName)) {}

// Resolved now, against the working directory of the moment, as the
// settings object itself would have done.
LanguageManager::LanguageManager(const QString& iniPath)
    : m_iniPath(QFileInfo(iniPath).absoluteFilePath())
{
}

LanguageManager::~LanguageManager() = default;

const char* LanguageManager::BuiltInText(int id)
{
    for (const BuiltIn& b : kBuiltIns) {
        if (b.id == id)
            return b.text;
    }
    return nullptr;
}

QString LanguageManager::GetString(int id) const
{
    if (const char* builtIn = BuiltInText(id))
        return QString::fromUtf8(builtIn);
    if (!m_settings)
        m_settings = std::make_unique<QSettings>(m_iniPath, QSettings::IniFormat);
    // The file is read as Latin-1 (no INI codec is set), so each byte of a
    // value arrives as one character; the bytes are the UTF-8 text.
    const QString key = QStringLiteral("Log Online/") + QString::number(id);
    const QVariant value = m_settings->value(key);
    // An unquoted value with commas comes back as a list; put it together.
    const QString raw = value.type() == QVariant::StringList
                            ? value.toStringList().join(QStringLiteral(", "))
                            : value.toString();
    return QString::fromUtf8(raw.toLatin1());
}
