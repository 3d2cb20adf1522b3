#include "app/VIVadeDlgAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/GUIText.h"

CAboutDlg* g_pAboutDlg = nullptr;

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent), m_pVersion(new QLabel(this)), m_pNotice(new QLabel(this))
{
    g_pAboutDlg = this;
    setWindowTitle(QString::fromStdString(g_GUIText.m_strAboutTitle));
    m_pVersion->setText(QString::fromStdString(g_GUIText.m_strAboutVersion));
    m_pNotice->setText(QString::fromStdString(g_GUIText.m_strAboutNotice));
    auto* ok = new QPushButton(QString::fromStdString(g_GUIText.m_strAboutOk), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pVersion);
    layout->addWidget(m_pNotice);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

CAboutDlg::~CAboutDlg()
{
    if (g_pAboutDlg == this)
        g_pAboutDlg = nullptr;
}
