// The notice pop-up: where it appears, when it closes by itself and what a
// click on a request for approval opens.

#include "OrixUser.h"
#include "ServerMsgDlg.h"
#include "TestRoot.h"
#include "TextUtil.h"
#include "UrlRecorder.h"

#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QtTest>

namespace
{

const char kApproval[] = "<report.pdf>等待审批!";
const char kApproved[] = "<report.pdf>审批通过!";

ServerMsgDlg* popUp(OrixUser* user, const char* text)
{
    ServerMsgDlg* dialog = new ServerMsgDlg;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetUser(user);
    dialog->SetMsg(text);
    dialog->show();
    return dialog;
}

} // namespace

class TestServerMsgDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void approvalRequests_data();
    void approvalRequests();
    void bottomRightCorner();
    void headlineIsPlainText();
    void closesAfterThreeSecondsUnlessApproval();
    void clickOnApprovalOpensPortal();
    void clickOnOtherNoticeOnlyCloses();

private:
    TestRoot* m_root = nullptr;
    OrixUser* m_user = nullptr;
};

void TestServerMsgDlg::init()
{
    m_root = new TestRoot;
    m_user = new OrixUser;
    CopyText(m_user->UserName, sizeof m_user->UserName, "alice");
    CopyText(m_user->Password, sizeof m_user->Password, "ABC");
    CopyText(m_user->WebsiteAddress, sizeof m_user->WebsiteAddress, "10.1.2.3");
}

void TestServerMsgDlg::cleanup()
{
    delete m_user;
    delete m_root;
}

void TestServerMsgDlg::approvalRequests_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("approval");
    QTest::newRow("waiting") << QByteArray(kApproval) << true;
    QTest::newRow("approved") << QByteArray(kApproved) << false;
    QTest::newRow("printed") << QByteArray("<a.pdf>打印成功!") << false;
    QTest::newRow("empty name") << QByteArray("<>等待审批!") << true;
}

void TestServerMsgDlg::approvalRequests()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, approval);
    ServerMsgDlg dialog;
    dialog.SetUser(m_user);
    dialog.SetMsg(text.constData());
    QCOMPARE(dialog.IsDocNeedToAuditMsg(), approval);
    QCOMPARE(dialog.IsRemainShowMsg(), approval);
    QCOMPARE(dialog.CloseTimerId() == 0, approval);
    QCOMPARE(dialog.windowTitle(), QString("消息提示"));
}

void TestServerMsgDlg::bottomRightCorner()
{
    ServerMsgDlg dialog;
    dialog.SetMsg(kApproval);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(dialog.size(), QSize(318, 227));
    QCOMPARE(dialog.pos(), QPoint(area.x() + area.width() - 318, area.y() + area.height() - 227));
}

void TestServerMsgDlg::headlineIsPlainText()
{
    ServerMsgDlg dialog;
    const char text[] = "<a href=\"file:///etc/passwd\">等待审批!";
    dialog.SetMsg(text);
    QLabel* label = dialog.findChild<QLabel*>("labelMsg");
    QVERIFY(label);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(label->text(), QString::fromUtf8(text));
}

void TestServerMsgDlg::closesAfterThreeSecondsUnlessApproval()
{
    QPointer<ServerMsgDlg> other = popUp(m_user, kApproved);
    QPointer<ServerMsgDlg> approval = popUp(m_user, kApproval);
    QVERIFY(other->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(other.isNull(), 3000 + 5000);
    QVERIFY(!approval.isNull());
    QVERIFY(approval->isVisible());
    delete approval;
}

void TestServerMsgDlg::clickOnApprovalOpensPortal()
{
    UrlRecorder urls;
    QPointer<ServerMsgDlg> dialog = popUp(m_user, kApproval);
    QTest::mouseClick(dialog->findChild<QLabel*>("labelMsg"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(urls.encoded(),
             QList<QByteArray>{"http://10.1.2.3/RazodAroZid/Home/Index1/LoginFrm.aspx?"
                               "key=alice&value=ABC&Redirect=AuditorPrintProcTask"});
}

void TestServerMsgDlg::clickOnOtherNoticeOnlyCloses()
{
    UrlRecorder urls;
    QPointer<ServerMsgDlg> dialog = popUp(m_user, kApproved);
    QTest::mouseClick(dialog->findChild<QLabel*>("labelMsg"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(urls.urls.isEmpty());
}

QTEST_MAIN(TestServerMsgDlg)
#include "tst_servermsgdlg.moc"
