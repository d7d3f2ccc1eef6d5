#pragma once

// The two small dialogs of a run: what it is for, asked before "Start
// recording" starts one, and the event "Mark event…" writes into the trail.
// Both only show and hand back what was typed.

#include <QDialog>
#include <QStringList>

#include "RunEvent.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace app {

class RunDialog : public QDialog {
    Q_OBJECT

public:
    // shown: the last run's values, or the operator alone at the first start.
    explicit RunDialog(const sealing::RunIdentity& shown, QWidget* parent = nullptr);
    sealing::RunIdentity identity() const;

private:
    QLineEdit* batchBox = nullptr;
    QLineEdit* partBox = nullptr;
    QLineEdit* customerBox = nullptr;
    QLineEdit* operatorBox = nullptr;
    QLineEdit* noteBox = nullptr;
};

class MarkDialog : public QDialog {
    Q_OBJECT

public:
    // controller: the bus controller the event is for, empty for the one oven.
    MarkDialog(const QStringList& events, const QString& controller, QWidget* parent = nullptr);
    QString text() const;

private:
    QComboBox* eventBox = nullptr;
    QPushButton* markButton = nullptr;
};

} // namespace app
