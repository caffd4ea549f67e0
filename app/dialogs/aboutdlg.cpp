#include "app/dialogs/aboutdlg.h"

#include "app/dialogs/appresources.h"
#include "app/dialogs/appversion.h"
#include "app/dialogs/nautilusscripts.h"
#include "controls/linklabel.h"
#include "resources/ids_app.h"
#include "settings/settingsstore.h"
#include "translations/languages.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QString::number(appid::IDD_ABOUTBOX));
    setWindowTitle(tr("关于 Velmora"));
    setWindowIcon(LoadAppIcon());

    auto *icon = new QLabel(this);
    icon->setPixmap(LoadAppIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto *version = new QLabel(appversion::ProductAndVersion(), this);
    version->setObjectName(QString::number(appid::IDC_VERSION));
    QFont bigger = version->font();
    bigger.setBold(true);
    version->setFont(bigger);

    auto *homeCaption = new QLabel(tr("主页: "), this);
    m_homePage = new CLinkLabel(this);
    m_homePage->setObjectName(QString::number(appid::IDC_HOMEPAGE));
    m_homePage->SetLinkTarget(HomePageTarget());

    auto *homeRow = new QHBoxLayout;
    homeRow->setSpacing(0);
    homeRow->addWidget(homeCaption);
    homeRow->addWidget(m_homePage);
    homeRow->addStretch(1);

    // The languages are named in their own words, whatever the window speaks.
    m_language = new QComboBox(this);
    m_language->setObjectName(QString::number(appid::IDC_LANGUAGE));
    m_language->addItem(tr("跟随系统"), QString());
    m_language->addItem(QStringLiteral("中文"), QString::fromLatin1(kLanguageChinese));
    m_language->addItem(QStringLiteral("English"), QString::fromLatin1(kLanguageEnglish));
    m_language->setCurrentIndex(
        std::max(0, m_language->findData(GetProfileString(kSettingsSection, settingskey::kLanguage))));
    connect(m_language, &QComboBox::activated, this, &CAboutDlg::OnLanguageChange);
    m_languageNote = new QLabel(tr("重新启动后生效。"), this);
    m_languageNote->setObjectName(QString::number(appid::IDC_LANGUAGE_NOTE));
    m_languageNote->setVisible(false);

    auto *languageRow = new QHBoxLayout;
    languageRow->addWidget(new QLabel(tr("语言:"), this));
    languageRow->addWidget(m_language);
    languageRow->addWidget(m_languageNote);
    languageRow->addStretch(1);

    auto *text = new QVBoxLayout;
    text->setSpacing(10);
    text->addWidget(version);
    text->addLayout(homeRow);
    text->addLayout(languageRow);
    text->addStretch(1);

    auto *ok = new QPushButton(tr("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(icon);
    body->addLayout(text, 1);

    auto *scripts = new QPushButton(tr("安装 Nautilus 脚本"), this);
    scripts->setObjectName(QString::number(appid::IDC_NAUTILUS_SCRIPTS));
    scripts->setAutoDefault(false);
    connect(scripts, &QPushButton::clicked, this, &CAboutDlg::OnInstallNautilusScripts);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(scripts);
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

void CAboutDlg::OnLanguageChange(int index)
{
    WriteProfileString(kSettingsSection, settingskey::kLanguage, m_language->itemData(index).toString());
    m_languageNote->setVisible(true);
}

void CAboutDlg::OnInstallNautilusScripts()
{
    QStringList written;
    QString why;
    if (InstallNautilusScripts(NautilusScriptsFolder(), written, why))
        QMessageBox::information(this, QStringLiteral("Velmora"),
                                 tr("已写入:\n%1\n\n在 Nautilus 中右键单击文件，它们在“脚本”子菜单里。")
                                     .arg(written.join(QLatin1Char('\n'))));
    else
        QMessageBox::warning(this, QStringLiteral("Velmora"), tr("无法写入 Nautilus 脚本:\n%1").arg(why));
}

QString CAboutDlg::HomePageTarget()
{
    const QString installed = QStringLiteral(VELMORA_DOC_DIR "/README.md");
    if (QFileInfo(installed).isFile())
        return installed;
    return QStringLiteral(VELMORA_SOURCE_README);
}
