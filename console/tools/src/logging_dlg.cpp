// The event log viewer: its controls, the query through the log store and the hidden delete.
#include "consoletools/logging_dlg.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "consoletools/log_query.h"
#include "consoletools/tool_layout.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/ui_fonts.h"
#include "logbase/logbase.h"

namespace consoletools {

namespace {

const QStringList kTypeEntries{QStringLiteral("系统日志"), QStringLiteral("运行日志"),
                               QStringLiteral("失败日志"), QStringLiteral("全部")};
const QStringList kSubTypeEntries{
    QStringLiteral("系统初始化"), QStringLiteral("参数修改"), QStringLiteral("系统退出"),
    QStringLiteral("设备连接"),   QStringLiteral("平行操作"), QStringLiteral("串行操作"),
    QStringLiteral("定时任务"),   QStringLiteral("其它"),     QStringLiteral("所有")};

// "内容" takes what the fixed columns leave of the client width.
constexpr int kFixedColumnsWidth = 468;

// The store-wide lock for one query or change.
class LogbaseGuard {
public:
    LogbaseGuard() { LogObLockLogbase(); }
    ~LogbaseGuard() { LogObUnlockLogbase(); }
    LogbaseGuard(const LogbaseGuard&) = delete;
    LogbaseGuard& operator=(const LogbaseGuard&) = delete;
};

QComboBox* makeCombo(QWidget* parent, const QStringList& entries) {
    auto* combo = new QComboBox(parent);
    combo->addItems(entries);
    combo->setCurrentIndex(static_cast<int>(entries.size()) - 1);  // "全部" / "所有"
    return combo;
}

QDateEdit* makeDateEdit(QWidget* parent) {
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    return edit;
}

std::string dateText(const QDateEdit* edit) {
    const QDate date = edit->date();
    return formatLogDate(date.year(), date.month(), date.day());
}

bool askYesNo(QWidget* parent, const QString& text, const QString& caption) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace

CLoggingDlg::CLoggingDlg(QWidget* parent, Confirm confirm)
    : SkinDialog(parent), m_confirm(std::move(confirm)) {
    setObjectName(QStringLiteral("CLoggingDlg"));
    setCaption(QStringLiteral("日志记录"));
    if (!m_confirm) {
        m_confirm = [this](const QString& text, const QString& caption) {
            return askYesNo(this, text, caption);
        };
    }
    const QFont labelFont = consoleui::uiFont(QStringLiteral("Arial"), 14);
    auto label = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setFont(labelFont);
        return l;
    };

    m_typeCombo = makeCombo(this, kTypeEntries);
    m_typeCombo->setObjectName(QStringLiteral("typeCombo"));
    m_subTypeCombo = makeCombo(this, kSubTypeEntries);
    m_subTypeCombo->setObjectName(QStringLiteral("subTypeCombo"));
    m_startDate = makeDateEdit(this);
    m_startDate->setObjectName(QStringLiteral("startDate"));
    m_endDate = makeDateEdit(this);
    m_endDate->setObjectName(QStringLiteral("endDate"));
    m_queryButton = new QPushButton(QStringLiteral("查询"), this);
    m_queryButton->setObjectName(QStringLiteral("queryButton"));
    m_queryButton->setAutoDefault(false);
    m_deleteCombo = makeCombo(this, kSubTypeEntries);
    m_deleteCombo->setObjectName(QStringLiteral("deleteCombo"));
    m_deleteCombo->hide();
    m_deleteButton = new QPushButton(QStringLiteral("删除日志"), this);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_deleteButton->setAutoDefault(false);
    m_deleteButton->hide();

    auto* filters = new QHBoxLayout;
    filters->addWidget(label(QStringLiteral("类型:")));
    filters->addWidget(m_typeCombo);
    filters->addSpacing(12);
    filters->addWidget(label(QStringLiteral("运行类型:")));
    filters->addWidget(m_subTypeCombo);
    filters->addSpacing(12);
    filters->addWidget(label(QStringLiteral("开始日期:")));
    filters->addWidget(m_startDate);
    filters->addSpacing(12);
    filters->addWidget(label(QStringLiteral("结束日期:")));
    filters->addWidget(m_endDate);
    filters->addSpacing(12);
    filters->addWidget(m_queryButton);
    filters->addStretch(1);
    filters->addWidget(m_deleteCombo);
    filters->addWidget(m_deleteButton);
    body()->addLayout(filters);

    m_list = new consoleui::CListCtrlWG(this);
    m_list->setObjectName(QStringLiteral("resultList"));
    const QStringList titles{QStringLiteral("序号"),     QStringLiteral("日期"),
                             QStringLiteral("时间"),     QStringLiteral("类型"),
                             QStringLiteral("运行类型"), QStringLiteral("内容"),
                             QStringLiteral("模式")};
    for (int c = 0; c < titles.size(); ++c) m_list->insertColumnWithHeader(c, titles[c], 0, 0);
    new ColumnLayout(*m_list, [](int width) {
        return std::vector<int>{40, 100, 90, 100, 100, width - kFixedColumnsWidth, 0};
    });
    body()->addWidget(m_list, 1);

    connect(m_queryButton, &QPushButton::clicked, this, &CLoggingDlg::onQuery);
    connect(m_deleteButton, &QPushButton::clicked, this, &CLoggingDlg::onDeleteLog);
}

int CLoggingDlg::exec() {
    OnInitDialog();
    return SkinDialog::exec();
}

void CLoggingDlg::OnInitDialog() {
    if (m_initialised) return;
    m_initialised = true;
    placeOnScreen(*this, PlacementRule{6, 5, 1100, 500});
}

void CLoggingDlg::onQuery() {
    const std::string start = dateText(m_startDate);
    const std::string end = dateText(m_endDate);
    m_list->deleteAllRows();
    if (m_typeCombo->currentIndex() < 0 || m_subTypeCombo->currentIndex() < 0) return;
    const auto sql = logQueryStatement(start, end, m_typeCombo->currentIndex() + 1,
                                       m_subTypeCombo->currentIndex() + 1);
    if (!sql) return;

    std::unique_ptr<NWSqlStatement> statement;
    {
        LogbaseGuard lock;
        statement = LogObQueryStatement(*sql);
    }
    if (!statement || statement->IsEmpty()) return;
    m_list->setUpdatesEnabled(false);
    for (int number = 1; statement->NextRow(); ++number) {
        const int row = m_list->insertRowWithNumber(m_list->rowCount(), number);
        for (int column = 0; column < 5; ++column) {
            m_list->setItemText(
                row, column + 1,
                QString::fromStdU16String(std::u16string(statement->ValueString(column).view())));
        }
    }
    m_list->setUpdatesEnabled(true);
}

void CLoggingDlg::onDeleteLog() {
    if (!m_confirm(QStringLiteral("确定要删除所选类型的日志吗?"), QStringLiteral("删除日志"))) {
        return;
    }
    if (m_deleteCombo->currentIndex() < 0) return;
    const auto sql = logDeleteStatement(m_deleteCombo->currentIndex() + 1);
    if (!sql) return;
    // Store errors are not reported; the list is not refreshed.
    LogbaseGuard lock;
    LogObBeginTrans();
    LogObExecuteLogbase(*sql);
    LogObCommitTrans();
}

}  // namespace consoletools
