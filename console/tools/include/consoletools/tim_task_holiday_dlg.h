// "节假日": the list of dates on which tasks marked 节假日不执行 do not start. OK stores the
// list and writes Holidays.ini.
#pragma once

#include "chronstore/holidays.h"
#include "consoleui/skin_dialog.h"

class QDateEdit;
class QListWidget;
class QPushButton;

namespace consoletools {

class CTimTaskHolidayDlg : public consoleui::SkinDialog {
    Q_OBJECT
public:
    explicit CTimTaskHolidayDlg(QWidget* parent = nullptr);

    const HolidayList& dates() const { return m_dates; }
    QDateEdit* dateEdit() const { return m_date; }
    QListWidget* list() const { return m_list; }

    void accept() override;

public slots:
    void addDate();
    void removeSelected();

private:
    void showDates();

    HolidayList m_dates;
    QDateEdit* m_date;
    QListWidget* m_list;
};

}  // namespace consoletools
