// The holiday list editor.
#include "consoletools/tim_task_holiday_dlg.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

namespace consoletools {

CTimTaskHolidayDlg::CTimTaskHolidayDlg(QWidget* parent)
    : SkinDialog(parent), m_dates(GetHolidays()) {
    setObjectName(QStringLiteral("CTimTaskHolidayDlg"));
    setCaption(QStringLiteral("节假日"));
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_date = new QDateEdit(QDate::currentDate(), this);
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setMinimumDate(QDate(1900, 1, 1));
    m_date->setCalendarPopup(true);
    auto* add = new QPushButton(QStringLiteral("添加"), this);
    auto* remove = new QPushButton(QStringLiteral("删除"), this);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    for (QPushButton* b : {add, remove, ok, cancel}) b->setAutoDefault(false);
    auto* editRow = new QHBoxLayout;
    editRow->addWidget(m_date, 1);
    editRow->addWidget(add);
    editRow->addWidget(remove);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    body()->addWidget(m_list, 1);
    body()->addLayout(editRow);
    body()->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, &CTimTaskHolidayDlg::addDate);
    connect(remove, &QPushButton::clicked, this, &CTimTaskHolidayDlg::removeSelected);
    connect(ok, &QPushButton::clicked, this, &CTimTaskHolidayDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CTimTaskHolidayDlg::reject);
    resize(320, 400);
    showDates();
}

void CTimTaskHolidayDlg::addDate() {
    const QDate date = m_date->date();
    m_dates.push_back(MakeHolidayDate(date.year(), date.month(), date.day()));
    m_dates = NormaliseHolidays(std::move(m_dates));
    showDates();
}

void CTimTaskHolidayDlg::removeSelected() {
    std::vector<HolidayDate> removed;
    for (const QListWidgetItem* item : m_list->selectedItems())
        removed.push_back(item->data(Qt::UserRole).toInt());
    std::erase_if(m_dates, [&](HolidayDate d) {
        return std::find(removed.begin(), removed.end(), d) != removed.end();
    });
    showDates();
}

void CTimTaskHolidayDlg::accept() {
    SetHolidays(m_dates);
    if (!SaveHolidaysToFile()) {
        QMessageBox::warning(this, QStringLiteral("节假日"), QStringLiteral("节假日文件保存失败!"));
    }
    SkinDialog::accept();
}

void CTimTaskHolidayDlg::showDates() {
    m_list->clear();
    for (const HolidayDate date : m_dates) {
        auto* item = new QListWidgetItem(QString::fromStdString(FormatHolidayDate(date)), m_list);
        item->setData(Qt::UserRole, date);
    }
}

}  // namespace consoletools
