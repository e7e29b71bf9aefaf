// Helpers shared by the tool dialog tests: driving a modal dialog from inside its exec(),
// recording message boxes, reading list columns.
#pragma once

#include <QStringList>
#include <string>
#include <vector>

#include "consoleui/list_ctrl_wg.h"
#include "modal_helper.h"
#include "platform/prompt.h"
#include "testkit/recording_prompt.h"

namespace tooltest {

// The console window tests' modal driver serves the tool dialogs too.
using uitest::ModalWatch;

using RecordingPrompt = testkit::RecordingPrompt;

inline QStringList rowTexts(const consoleui::CListCtrlWG& list, int row) {
    QStringList texts;
    for (int c = 0; c < list.columnCount(); ++c) texts << list.itemText(row, c);
    return texts;
}

inline QStringList columnTexts(const consoleui::CListCtrlWG& list, int column) {
    QStringList texts;
    for (int r = 0; r < list.rowCount(); ++r) texts << list.itemText(r, column);
    return texts;
}

inline QStringList headerTitles(const consoleui::CListCtrlWG& list) {
    QStringList titles;
    for (int c = 0; c < list.columnCount(); ++c) {
        titles << list.model()->headerData(c, Qt::Horizontal).toString();
    }
    return titles;
}

}  // namespace tooltest
