#pragma once

// The small dialog behind "Setpoint…": the controller, its current setpoint,
// the new value within conf.ini's limits, an optional reason, and a
// confirmation that states the change before anything is written. It only
// shows and asks; the write and its outcome are the window's to run and tell.

#include <QDialog>

#include <cstdint>
#include <optional>

#include "Controller.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace settings {

class Setpoint_dialog : public QDialog {
    Q_OBJECT

public:
    explicit Setpoint_dialog(QWidget* parent = nullptr);

    // The controller written to and its setpoint now (nothing while unknown,
    // and unknown says why: "not known yet", "not answering"). A confirmation
    // is withdrawn when either changes.
    void setController(const tklink::ControllerId& id, std::optional<int16_t> currentTenths,
                       const QString& unknown = QStringLiteral("not known yet"));
    // Opened afresh: nothing typed, nothing confirmed, nothing said, unless a
    // write is still under way.
    void start();
    // The limits of conf.ini [Control]; without both nothing can be written,
    // and unavailable says why.
    void setLimits(std::optional<double> low, std::optional<double> high,
                   const QString& unavailable);
    // A write under way: inputs locked, text told.
    void showProgress(const QString& text);
    // The write ended: inputs open again for another.
    void showOutcome(const QString& text);

Q_SIGNALS:
    // For the controller the confirmation named, whichever is shown by now.
    void writeRequested(const tklink::ControllerId& id, int16_t tenths, const QString& reason);
    // "Write…" refused before anything went out: attempt is the change as far
    // as it is known ("150.0 → 500.0 °C", "500.0 °C", "\"abc\""), why the
    // dialog's reason in lower case.
    void refused(const tklink::ControllerId& id, const QString& attempt, const QString& reason,
                 const QString& why);

protected:
    // Closed or hidden: a confirmation stated before holds no more.
    void hideEvent(QHideEvent* event) override;

private:
    void check();
    void confirm();
    void unconfirm();
    void say(const QString& text);
    void refuse(const QString& attempt, const QString& why);

    tklink::ControllerId m_id;
    std::optional<int16_t> m_current;
    QString m_unknown;
    std::optional<double> m_low;
    std::optional<double> m_high;
    QString m_unavailable;
    // The value the shown confirmation is for.
    std::optional<int16_t> m_confirming;
    bool m_busy = false;

    QLabel* controllerValue = nullptr;
    QLabel* currentValue = nullptr;
    QLabel* limitsLabel = nullptr;
    QLineEdit* newValueBox = nullptr;
    QLineEdit* reasonBox = nullptr;
    QLabel* messageLabel = nullptr;
    QPushButton* writeButton = nullptr;
    QPushButton* confirmButton = nullptr;
};

} // namespace settings
