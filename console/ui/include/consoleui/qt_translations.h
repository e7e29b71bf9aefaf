// Qt's own Chinese texts (message-box buttons, standard dialogs), like the rest of the UI.
#pragma once

class QCoreApplication;

namespace consoleui {

// Makes Chinese (China) the default locale and loads Qt's zh_CN translations from the Qt
// installation into `app`. False when the translations are not
// installed (the buttons then stay in English).
bool installQtTranslations(QCoreApplication& app);

}  // namespace consoleui
