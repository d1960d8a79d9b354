#pragma once

#include <QDialog>
#include <QScopedPointer>

#include <functional>

class QPushButton;

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

    // Shows "复制诊断信息": a click puts what report returns on the
    // clipboard (report keeps the window's events served while it works).
    void setDiagnostics(std::function<QString()> report);
    QPushButton* diagnosticsButton() const { return Diagnostics; }

private:
    void copyDiagnostics();

    QScopedPointer<Ui::aboutdlg> ui;
    QPushButton* Diagnostics = nullptr;
    std::function<QString()> Report;
};
