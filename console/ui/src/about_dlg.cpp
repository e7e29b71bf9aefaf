// The About box and the empty settings dialog.
#include "consoleui/about_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "consoleui/cell_icons.h"
#include "consoleui/ui_fonts.h"
#include "consoleui/vantrel_dlg.h"
#include "public/data_path.h"

namespace consoleui {

CAboutDlg::CAboutDlg(QWidget* parent) : SkinDialog(parent) {
    setCaption(QStringLiteral("关于 Vantrel"));
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(iconPixmap(kIconWindow));
    // The version the title bar shows, so the two never disagree.
    auto* text =
        new QLabel(QStringLiteral("Vantrel，%1 版").arg(QString::fromLatin1(kVersionText)), this);
    text->setObjectName(QStringLiteral("versionText"));
    text->setFont(uiFont(QStringLiteral("宋体"), 15));
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    body()->addLayout(row);
    // Where this run keeps its database, dumps, timed tasks and settings.
    auto* data =
        new QLabel(QStringLiteral("数据文件夹: ") + QString::fromStdString(GetDataPath()), this);
    data->setObjectName(QStringLiteral("dataFolderText"));
    data->setTextInteractionFlags(Qt::TextSelectableByMouse);
    data->setWordWrap(true);
    body()->addWidget(data);
    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    body()->addLayout(buttons);
    resize(360, 170);
}

CQeltSetDlg::CQeltSetDlg(QWidget* parent) : SkinDialog(parent) {
    setCaption(QStringLiteral("设置"));
    body()->addStretch(1);
    resize(420, 260);
}

}  // namespace consoleui
