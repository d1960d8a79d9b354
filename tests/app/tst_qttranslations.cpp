// Qt's own texts in the user's language: the standard buttons of the client's message boxes read
// Chinese under a Chinese locale and under one Qt has no translation for.

#include "QtTranslations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

namespace
{

// A button's text without its keyboard mnemonic: "是(&Y)" -> "是", "&Yes" -> "Yes".
QString shown(const QMessageBox& box, QMessageBox::StandardButton which)
{
    QString text = box.button(which)->text();
    text.remove(QRegularExpression("\\(&.\\)$"));
    return text.remove('&');
}

} // namespace

class TestQtTranslations : public QObject
{
    Q_OBJECT

private slots:
    void standardButtons_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("texts"); // Yes, No, OK, Cancel
        const QStringList chinese{"是", "否", "确定", "取消"};
        QTest::newRow("Chinese") << "zh_CN" << chinese;
        QTest::newRow("C locale: Chinese") << "C" << chinese;
        QTest::newRow("no Qt translation (Interlingua): Chinese") << "ia" << chinese;
        QTest::newRow("German: the user's own")
            << "de_DE" << QStringList{"Ja", "Nein", "OK", "Abbrechen"};
    }

    void standardButtons()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, texts);
        std::unique_ptr<QTranslator> translator = QtTranslations::load(QLocale(locale));
        QVERIFY2(translator, "no Qt translation found; install qttranslations5-l10n");
        QVERIFY(QCoreApplication::installTranslator(translator.get()));

        QMessageBox question(QMessageBox::Question, "提示",
                             "已超过密码修改的时间周期,您要跳转到网站进行修改吗？",
                             QMessageBox::Yes | QMessageBox::No);
        QMessageBox failed(QMessageBox::Warning, "提示", "上传失败",
                           QMessageBox::Ok | QMessageBox::Cancel);
        const QStringList got{shown(question, QMessageBox::Yes), shown(question, QMessageBox::No),
                              shown(failed, QMessageBox::Ok), shown(failed, QMessageBox::Cancel)};
        QCoreApplication::removeTranslator(translator.get());
        QCOMPARE(got, texts);
    }

    void missingTranslations()
    {
        QTemporaryDir empty;
        QVERIFY(!QtTranslations::load(QLocale("zh_CN"), empty.path()));
    }
};

QTEST_MAIN(TestQtTranslations)
#include "tst_qttranslations.moc"
