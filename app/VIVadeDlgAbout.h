#pragma once
// The About box of the main window: the version text, a second line and an
// Ok button, with texts from the GUI text table.
#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    QLabel* m_pVersion;
    QLabel* m_pNotice;
};

// The About box while it is open.
extern CAboutDlg* g_pAboutDlg;
