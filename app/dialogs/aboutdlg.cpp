#include "app/dialogs/aboutdlg.h"

#include "app/dialogs/appresources.h"
#include "app/dialogs/appversion.h"
#include "resources/ids_app.h"
#include "controls/linklabel.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QString::number(appid::IDD_ABOUTBOX));
    setWindowTitle(QStringLiteral("关于 Velmora"));
    setWindowIcon(LoadAppIcon());

    auto *icon = new QLabel(this);
    icon->setPixmap(LoadAppIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto *version = new QLabel(appversion::ProductAndVersion(), this);
    version->setObjectName(QString::number(appid::IDC_VERSION));
    QFont bigger = version->font();
    bigger.setBold(true);
    version->setFont(bigger);

    auto *homeCaption = new QLabel(QStringLiteral("主页: "), this);
    m_homePage = new CLinkLabel(this);
    m_homePage->setObjectName(QString::number(appid::IDC_HOMEPAGE));
    m_homePage->SetLinkTarget(HomePageTarget());

    auto *homeRow = new QHBoxLayout;
    homeRow->setSpacing(0);
    homeRow->addWidget(homeCaption);
    homeRow->addWidget(m_homePage);
    homeRow->addStretch(1);

    auto *text = new QVBoxLayout;
    text->setSpacing(10);
    text->addWidget(version);
    text->addLayout(homeRow);
    text->addStretch(1);

    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(icon);
    body->addLayout(text, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 14);
    layout->setSpacing(16);
    layout->addLayout(body);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ok->setFocus();
}

QString CAboutDlg::HomePageTarget()
{
    const QString installed = QStringLiteral(VELMORA_DOC_DIR "/README.md");
    if (QFileInfo(installed).isFile())
        return installed;
    return QStringLiteral(VELMORA_SOURCE_README);
}
