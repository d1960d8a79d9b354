#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui
{
class aboutdlg;
}

// The About box: product name, version and a confirm button that closes it.
// The main window creates it without a parent, runs it and deletes it.
class aboutdlg : public QDialog
{
    Q_OBJECT

public:
    explicit aboutdlg(QWidget* parent = nullptr);
    ~aboutdlg() override;

private:
    QScopedPointer<Ui::aboutdlg> ui;
};
