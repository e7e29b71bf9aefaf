// The event log viewer: its controls, the query through the log store and the hidden delete.
#include "consoletools/logging_dlg.h"

#include <algorithm>

#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <optional>

#include "consoletools/log_query.h"
#include "consoletools/tool_layout.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/ui_fonts.h"
#include "logbase/log_query.h"
#include "public/nwstring.h"

namespace consoletools {

namespace {

const QStringList kTypeEntries{QStringLiteral("系统日志"), QStringLiteral("运行日志"),
                               QStringLiteral("失败日志"), QStringLiteral("全部")};
const QStringList kSubTypeEntries{
    QStringLiteral("系统初始化"), QStringLiteral("参数修改"), QStringLiteral("系统退出"),
    QStringLiteral("设备连接"),   QStringLiteral("平行操作"), QStringLiteral("串行操作"),
    QStringLiteral("定时任务"),   QStringLiteral("其它"),     QStringLiteral("所有")};

// "内容" takes what the fixed columns leave of the client width ("序号" included).
constexpr int kFixedColumnsWidthBesidesNumber = 468 - 40;
constexpr int kNumberColumnMinimum = 40;

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
    return logbase::formatLogDate(date.year(), date.month(), date.day());
}

// Decoded the way the store's query results always were, so that bytes written before the
// store kept valid UTF-8 only show as they did.
QString displayText(const std::string& utf8) {
    return QString::fromStdU16String(std::u16string(NWString(std::string_view(utf8)).view()));
}

bool askYesNo(QWidget* parent, const QString& text, const QString& caption) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace

CLoggingDlg::CLoggingDlg(QWidget* parent, Confirm confirm, SavePath savePath)
    : SkinDialog(parent), m_confirm(std::move(confirm)), m_savePath(std::move(savePath)) {
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
    // Enter anywhere in the dialog runs the query.
    m_queryButton->setDefault(true);
    m_exportButton = new QPushButton(QStringLiteral("导出CSV"), this);
    m_exportButton->setObjectName(QStringLiteral("exportButton"));
    m_exportButton->setAutoDefault(false);
    m_newestButton = new QPushButton(QStringLiteral("最新记录"), this);
    m_newestButton->setObjectName(QStringLiteral("newestButton"));
    m_newestButton->setAutoDefault(false);
    if (!m_savePath) {
        m_savePath = [this] {
            return QFileDialog::getSaveFileName(this, QStringLiteral("导出CSV"),
                                                QStringLiteral("Vantrel_log.csv"),
                                                QStringLiteral("CSV (*.csv)"));
        };
    }
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
    filters->addWidget(m_newestButton);
    filters->addWidget(m_exportButton);
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
    // "序号" fits six digits in the list's own font.
    const int numberWidth =
        std::max(kNumberColumnMinimum,
                 QFontMetrics(m_list->font()).horizontalAdvance(QStringLiteral("999999")) + 12);
    new ColumnLayout(*m_list, [numberWidth](int width) {
        return std::vector<int>{numberWidth,
                                100,
                                90,
                                100,
                                100,
                                width - kFixedColumnsWidthBesidesNumber - numberWidth,
                                0};
    });
    body()->addWidget(m_list, 1);
    body()->addLayout(closeButtonRow(*this));

    connect(m_queryButton, &QPushButton::clicked, this, &CLoggingDlg::onQuery);
    connect(m_deleteButton, &QPushButton::clicked, this, &CLoggingDlg::onDeleteLog);
    connect(m_exportButton, &QPushButton::clicked, this, &CLoggingDlg::onExport);
    connect(m_newestButton, &QPushButton::clicked, this, &CLoggingDlg::onNewest);
}

void CLoggingDlg::initDialog() {
    placeOnScreen(*this, PlacementRule{6, 5, 1100, 500});
}

void CLoggingDlg::onQuery() {
    const std::string start = dateText(m_startDate);
    const std::string end = dateText(m_endDate);
    m_list->deleteAllRows();
    if (m_typeCombo->currentIndex() < 0 || m_subTypeCombo->currentIndex() < 0) return;
    const auto filter = logFilterOf(start, end, m_typeCombo->currentIndex() + 1,
                                    m_subTypeCombo->currentIndex() + 1);
    if (!filter) return;
    // A closed store or a failed query leaves the list empty.
    const auto rows = logbase::queryLog(*filter);
    if (!rows || rows->empty()) return;
    m_list->setUpdatesEnabled(false);
    int number = 1;
    for (const logbase::LogRow& line : *rows) {
        const int row = m_list->insertRowWithNumber(m_list->rowCount(), number++);
        const std::string* texts[] = {&line.date, &line.time, &line.typeText, &line.subTypeText,
                                      &line.content};
        for (int column = 0; column < 5; ++column) {
            m_list->setItemText(row, column + 1, displayText(*texts[column]));
        }
    }
    m_list->setUpdatesEnabled(true);
}

void CLoggingDlg::onDeleteLog() {
    if (!m_confirm(QStringLiteral("确定要删除所选类型的日志吗?"), QStringLiteral("删除日志"))) {
        return;
    }
    const int code = m_deleteCombo->currentIndex() + 1;
    if (code < 1 || code > kAllLogSubTypes) return;
    // Store errors are not reported; the list is not refreshed.
    logbase::deleteLog(code == kAllLogSubTypes ? std::nullopt : std::optional<int>(code));
}

void CLoggingDlg::onNewest() {
    const int last = m_list->rowCount() - 1;
    if (last < 0) return;
    m_list->scrollTo(m_list->model()->index(last, 0), QAbstractItemView::PositionAtBottom);
}

void CLoggingDlg::onExport() {
    const QString path = m_savePath();
    if (path.isEmpty()) return;
    exportCsv(path);
}

bool CLoggingDlg::exportCsv(const QString& path) {
    constexpr int kExportedColumns = 6;  // "模式" is never filled
    std::vector<std::string> header;
    for (int c = 0; c < kExportedColumns; ++c) {
        header.push_back(m_list->model()->headerData(c, Qt::Horizontal).toString().toStdString());
    }
    std::vector<std::vector<std::string>> rows;
    rows.reserve(static_cast<std::size_t>(m_list->rowCount()));
    for (int r = 0; r < m_list->rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < kExportedColumns; ++c)
            row.push_back(m_list->itemText(r, c).toStdString());
        rows.push_back(std::move(row));
    }
    const std::string bytes = logCsv(header, rows);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        QMessageBox::warning(this, QStringLiteral("导出CSV"),
                             QStringLiteral("无法写入文件 %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

}  // namespace consoletools
