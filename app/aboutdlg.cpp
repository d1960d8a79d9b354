#include "aboutdlg.h"

#include "ui_aboutdlg.h"

#include <QPalette>
#include <QPixmap>

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
}

aboutdlg::~aboutdlg() = default;
