#pragma once

// The small dialog behind "Alarms…" in the Parameters dialog: the seven
// settings of [Alarms]. "OK" puts them into Data::alarms; the Parameters
// dialog's "Close" saves them with the six others.

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace settings {

class Alarms_dialog : public QDialog {
    Q_OBJECT

public:
    explicit Alarms_dialog(QWidget* parent = nullptr);

private:
    void takeEntries();

    QLineEdit* highLimitBox = nullptr;
    QLineEdit* bandBox = nullptr;
    QLineEdit* delayBox = nullptr;
    QLineEdit* hysteresisBox = nullptr;
    QLineEdit* heatUpBox = nullptr;
    QLineEdit* linkLostBox = nullptr;
    QCheckBox* soundBox = nullptr;
    QLabel* refusedLabel = nullptr;
};

} // namespace settings
