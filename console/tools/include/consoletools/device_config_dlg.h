// CDeviceConfigDlg ("设备配置"): reads a device's network parameters over a COM port and
// writes new ones. The widgets are bound to consolecore::DeviceConfig, which holds the logic.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

#include "consolecore/device_config.h"
#include "consoleui/skin_dialog.h"
#include "platform/message_target.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace consoleui {
class QtPrompt;
}

namespace consoletools {

class IpAddressEdit;

class CDeviceConfigDlg : public consoleui::SkinDialog, public platform::MessageTarget {
    Q_OBJECT
public:
    // `prompt` shows the message boxes (null: QMessageBox); `mainWindow` (the engine's inbox)
    // is told when the device is removed after a write (null: nobody).
    // A Yes/No question before a write; true goes on.
    using ConfirmWrite = std::function<bool(const QString& question)>;

    // `confirmWrite` asks the Yes/No questions: before the parameters are written, and before
    // new values not yet written are dropped (empty: a QMessageBox).
    explicit CDeviceConfigDlg(QWidget* parent = nullptr, platform::Prompt* prompt = nullptr,
                              platform::MessageTarget* mainWindow = nullptr,
                              ConfirmWrite confirmWrite = {});
    // Closes the port ("串口已关闭.").
    ~CDeviceConfigDlg() override;

    // platform::MessageTarget: WM_SERIAL_REPLY from the serial monitor thread, handled on the
    // dialog's thread.
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    consolecore::DeviceConfig& config() { return m_config; }
    QComboBox* portCombo() const { return m_portCombo; }
    QLabel* portDeviceLabel() const { return m_portDevice; }
    QPushButton* readButton() const { return m_readButton; }
    QPushButton* writeButton() const { return m_writeButton; }
    QPushButton* closeDialogButton() const { return m_closeButton; }
    QLineEdit* currentNumberEdit() const { return m_currentNumber; }
    QLineEdit* currentNameEdit() const { return m_currentName; }
    IpAddressEdit* currentAddressEdit(consolecore::ConfigField field) const;
    QLineEdit* currentMacEdit() const { return m_currentMac; }
    QLineEdit* newNumberEdit() const { return m_newNumber; }
    QLineEdit* newNameEdit() const { return m_newName; }
    // "n/10 字节" beside the new name, naming the characters the device cannot store.
    QLabel* nameByteCounter() const { return m_nameCounter; }
    IpAddressEdit* newAddressEdit(consolecore::ConfigField field) const;
    QLineEdit* newMacEdit() const { return m_newMac; }
    QCheckBox* useNewBox(consolecore::ConfigField field) const;
    // The new-value control of a field (number, name, address or MAC edit).
    QWidget* newControl(consolecore::ConfigField field) const;

    // Whether the new values (texts and "use" boxes) hold edits not yet written: they differ
    // from what the dialog showed when it opened, after a write was sent, or after a read that
    // found no edits waiting.
    bool hasUnsavedChanges() const { return newValuesState() != m_savedState; }

    // Escape and the close buttons: asks before new values not yet written are dropped.
    void reject() override;

public slots:
    void onRead();
    void onWrite();

private:
    // Placement.
    void initDialog() override;

    static int addressSlot(consolecore::ConfigField field);
    void buildForm();
    void onPortChanged(int index);
    void onSerialReply();
    // The editable new values into the form logic, before it reads or parses.
    void storeNewValues();
    // Both columns from the form logic, after a reply filled it.
    void showValues();
    void updateNameCounter();
    QStringList newValuesState() const;
    QString writeQuestion(const consolecore::WritePlan& plan) const;
    // Tells the operator whether the frame handed to the port was written.
    void reportWriteWhenDone();

    std::unique_ptr<consoleui::QtPrompt> m_ownPrompt;
    consolecore::DeviceConfig m_config;

    QComboBox* m_portCombo = nullptr;
    QLabel* m_portDevice = nullptr;
    QLineEdit* m_currentNumber = nullptr;
    QLineEdit* m_currentName = nullptr;
    std::array<IpAddressEdit*, 4> m_currentAddress{};  // IP, mask, gateway, server IP
    QLineEdit* m_currentMac = nullptr;
    QLineEdit* m_newNumber = nullptr;
    QLineEdit* m_newName = nullptr;
    QLabel* m_nameCounter = nullptr;
    QTimer* m_writeWatch = nullptr;
    int m_writeWatchTicks = 0;
    std::array<IpAddressEdit*, 4> m_newAddress{};
    QLineEdit* m_newMac = nullptr;
    std::array<QCheckBox*, consolecore::kConfigFieldCount> m_useNew{};
    QPushButton* m_readButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    ConfirmWrite m_confirmWrite;
    QPushButton* m_writeButton = nullptr;
    QStringList m_savedState;
};

}  // namespace consoletools
