#include "aboutdlg.h"

#include "ui_aboutdlg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>

aboutdlg::aboutdlg(QWidget* parent) : QDialog(parent), ui(new Ui::aboutdlg)
{
    ui->setupUi(this);

    const QPixmap icon(QStringLiteral(":/icon/images/ICON_Online.png"));
    if (!icon.isNull())
        ui->toolButtonIcon->setIconSize(icon.size());

    // The picture is the background; the box takes its size.
    const QPixmap background(QStringLiteral(":/background/images/helpback.png"));
    if (!background.isNull()) {
        QPalette pal = palette();
        pal.setBrush(QPalette::Window, QBrush(background));
        setPalette(pal);
        setAutoFillBackground(true);
        resize(background.size());
    }

    connect(ui->pushButtonOK, &QPushButton::clicked, this, &QDialog::close);
    ui->toolButtonIcon->setAccessibleName(QStringLiteral("图标"));
    ui->toolButtonIcon->setFocusPolicy(Qt::NoFocus);
    ui->pushButtonOK->setDefault(true);

    Diagnostics = new QPushButton(QStringLiteral("复制诊断信息"), this);
    Diagnostics->setObjectName(QStringLiteral("pushButtonDiagnostics"));
    Diagnostics->setGeometry(275, 130, 110, 31);
    Diagnostics->setAutoDefault(false);
    Diagnostics->hide();
    connect(Diagnostics, &QPushButton::clicked, this, &aboutdlg::copyDiagnostics);
}

void aboutdlg::setDiagnostics(std::function<QString()> report)
{
    Report = std::move(report);
    Diagnostics->setVisible(Report != nullptr);
}

void aboutdlg::copyDiagnostics()
{
    if (!Report)
        return;
    Diagnostics->setEnabled(false);
    Diagnostics->setText(QStringLiteral("正在收集..."));
    const QString text = Report();
    QGuiApplication::clipboard()->setText(text);
    Diagnostics->setText(QStringLiteral("已复制"));
    Diagnostics->setEnabled(true);
}

aboutdlg::~aboutdlg() = default;
