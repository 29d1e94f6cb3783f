// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Form1: the operator's window, its controls, timers and serial component,
// and the controller state all its handlers share. The handlers are defined
// beside the part of the program they belong to:
//   form1_transaction.cpp   Hyouji and the reply timers
//   form1_exchange_log.cpp  the exchange log (MV70_LOG)
//   form1_commands.cpp      buttons that send, the repeat, SEND and CLS
//   form1_ports.cpp         port and speed choice, the receive event, the
//                           line's events (in the words of port_words.cpp)
//   form1.cpp               start-up, heights, hidden bands, COM, END

#include <QFrame>
#include <QHash>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string_view>

#include "logic/command_table.h"
#include "logic/command_text.h"
#include "logic/exchange.h"
#include "logic/exchange_log.h"
#include "logic/port_choice.h"
#include "logic/trace.h"
#include "window/controller_state.h"
#include "window/controls.h"
#include "window/mscomm.h"

namespace mv70 {

class Form1 : public QWidget, public ControllerState {
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // ---- Seams ----------------------------------------------------------
    // The warning box of a failed port choice. Modal by default; tests
    // answer it themselves.
    std::function<void(const QString &description)> showWarning;

    // ---- Components -------------------------------------------------------
    window::MSComm MSComm1;
    QTimer Timer1;  // repeat of a held button
    QTimer Timer2;  // reply window
    QTimer Timer3;  // hides the port panel
    QTimer Timer4;  // display hold

    // The exchange with the projector, its reply window Timer2.
    Exchange exchange{&Timer2};
    // The exchange's state by the names every handler uses.
    const QString &LastCommand() const { return exchange.lastCommand(); }
    void setLastCommand(const QString &text) { exchange.setCommand(text); }
    const QString &RxBuffer() const { return exchange.received(); }
    void setRxBuffer(const QString &text) { exchange.setReceived(text); }
    // 1 from a transmit until something is received, else 0.
    quint8 AwaitingReply() const { return exchange.replyWait() == ReplyWait::Awaited ? 1 : 0; }
    void setAwaitingReply(quint8 value) { exchange.setReplyWait(value == 1 ? ReplyWait::Awaited : ReplyWait::None); }
    qint16 PressureValue() const { return exchange.pressureValue(); }
    const QString &CommandPrefix() const { return exchange.prefix(); }
    void setCommandPrefix(const QString &prefix) { exchange.setPrefix(prefix); }

    // The serial component and the repeat by plain names, for the tools
    // that drive the window from outside.
    serial::Port &port() { return MSComm1; }
    QTimer &repeatTimer() { return Timer1; }

    // The controls the handlers work with. Every control of the layout is
    // also reachable by its name through control().
    window::MonitorLine *Label11 = nullptr;  // TXD
    window::MonitorLine *Label12 = nullptr;  // RXD
    window::MonitorLine *Label22 = nullptr;  // STATUS
    QFrame *Frame8 = nullptr;                // the port panel
    QPushButton *Command34 = nullptr;        // the data-view button
    QRadioButton *Option1 = nullptr;
    QLineEdit *Text1 = nullptr;
    window::LogoImage *Image1 = nullptr;

    QWidget *control(std::string_view name) const;

    // ---- Protocol engine --------------------------------------------------
    // The transaction routine. Returns false when a step failed; the failure
    // has been shown on the STATUS line and the caller must stop too.
    [[nodiscard]] bool Hyouji(const QString &text, quint8 direction);
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();

    // The exchange log: on when MV70_LOG names a file at construction.
    const ExchangeLog *exchangeLog() const { return exchangeLog_.get(); }
    // At the end: the log's last lines, waited for a bounded time.
    void closeExchangeLog();

    // ---- Command catalogue ------------------------------------------------
    [[nodiscard]] bool issueCommand(std::u16string_view code);
    void OneShot_Click(const OneShotButton &button);
    void Hold_MouseDown(const HoldButton &button);
    void Hold_MouseUp(const HoldButton &button);
    void Timer1_Timer();
    void Command95_Click();  // SEND
    void Command96_Click();  // CLS

    // ---- Serial link -------------------------------------------------------
    void PortOption_Click(const serial::PortChoice &choice);
    void SpeedOption_Click(const serial::SpeedChoice &choice);
    void Option1_Click() { PortOption_Click(serial::kPortChoices[0]); }
    void Option2_Click() { PortOption_Click(serial::kPortChoices[1]); }
    void Option9_Click() { SpeedOption_Click(serial::kSpeedChoices[0]); }
    void Option10_Click() { SpeedOption_Click(serial::kSpeedChoices[1]); }
    void MSComm1_OnComm();
    void MSComm1_LineLost(const serial::LineFailure &failure);
    void MSComm1_OpenFailed(const serial::LineFailure &failure);
    void MSComm1_LineRestored();
    void MSComm1_LineStillAway(const serial::LineFailure &failure);
    void MSComm1_SettingsNotCarried(const serial::SettingsNotice &notice);

    // ---- The window -------------------------------------------------------
    void Form_Load();
    void Form_KeyDown(quint16 keyCode, quint16 shift);
    void Image1_DblClick();
    void Command33_Click();  // COM
    void Command34_Click();  // data view
    void Command16_Click();  // END

    // Height of the client area in twips.
    int clientHeight() const { return clientHeight_; }
    void setClientHeight(int twips);

    // Shift-state bits of Form_KeyDown.
    static constexpr quint16 kShiftMask = 1, kCtrlMask = 2, kAltMask = 4;

signals:
    // END was pressed: the program ends now.
    void ended();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void connectHandlers();
    // Runs `handler` once each time `option` is chosen, however it is chosen.
    void onChosen(QRadioButton *option, const std::function<void()> &handler);
    [[nodiscard]] bool openStartPort();
    void reportFailure(const QString &description);
    // What the line is doing (lost, waited for, back): shown on the STATUS
    // line until the next command, through the display hold of an earlier one.
    void reportLineState(const QString &description);
    // A message for a screen reader to speak now (a reading, no answer, a
    // failure), when one listens and this window is active; nothing else.
    void announce(const QString &message);
    void announceOnce(const QString &message);
    // The warning box for a failed opening, once the failure's facts are in
    // (they are looked up off this thread).
    void warnOpenFailure(const serial::CommOutcome &outcome);
    void stopEverything();
    void openExchangeLog();
    void logExchange(quint8 direction, const QString &text, const QString &reading = {});
    // A held button whose release will not come (the window lost the mouse)
    // ends as at its release: Hold_MouseUp, once.
    void endLostHold();
    // The window's size with its frame, before the window manager has drawn it.
    QSize estimatedOuterSize() const;

    QHash<QByteArray, QWidget *> controls_;
    window::Announcer *announcer_ = nullptr;  // made once a screen reader listens
    QString announcedSinceCommand_;           // a reading or no answer told to it
    std::unique_ptr<ExchangeLog> exchangeLog_;
    qsizetype arrived_ = 0;  // characters the last receive event added to RxBuffer
    int clientHeight_ = 0;
    // Set when the port was closed by a failure (a failed opening or a lost
    // line): the next port choice opens the chosen port.
    bool reopenOnChoice_ = false;
    // The STATUS line shows the line's state (reportLineState), which the
    // end of the display hold leaves standing; the next command clears it.
    bool lineStateShown_ = false;
    bool ended_ = false;
    // Key preview: the event being propagated from the focused control up
    // to its parents is previewed once.
    const QEvent *previewedEvent_ = nullptr;
    QPointer<QObject> previewedTarget_;
    int previewedKey_ = 0;
    quint64 previewedTimestamp_ = 0;
};

}  // namespace mv70
