// SPDX-License-Identifier: GPL-3.0-or-later
// Port and speed choice, the serial steps of start-up, and the receive path.

#include "window/form1.h"
#include "window/port_words.h"

namespace mv70 {

bool Form1::openStartPort() {
    serial::CommOutcome outcome = MSComm1.setCommPort(serial::kStartPort);
    if (outcome)
        outcome = MSComm1.setSettings(PortSettings);
    if (outcome)
        outcome = MSComm1.setPortOpen(true);
    if (outcome)
        return true;
    // The window still comes up, with the port closed; the operator is told
    // why once it is on screen, and a port choice tries again.
    reopenOnChoice_ = true;
    warnOpenFailure(outcome);
    return false;
}

void Form1::warnOpenFailure(const serial::CommOutcome &outcome) {
    const std::optional<serial::LineFailure> &failure = outcome.lineFailure();
    if (!failure || failure->isLoss()) {
        // The box waits for the event loop: this may run inside a serial event.
        QMetaObject::invokeMethod(
            this, [this, description = outcome.description()] { showWarning(description); }, Qt::QueuedConnection);
        return;
    }
    serial::diagnoseInBackground(*failure, this,
                                 [this, port = MSComm1.CommPort()](const serial::LineFailure &diagnosed) {
                                     showWarning(window::describeFailure(port, diagnosed));
                                 });
}

void Form1::PortOption_Click(const serial::PortChoice &choice) {
    bool wasOpen = false;
    serial::CommOutcome outcome;
    if (MSComm1.PortOpen()) {
        outcome = MSComm1.setPortOpen(false);
        wasOpen = true;
        exchange.lineGone();  // what had not left yet is dropped with the port
    }
    if (outcome)
        outcome = MSComm1.setCommPort(choice.port);
    // A port closed by a failure is opened by the next choice; a port the
    // program closed on purpose stays closed.
    if (outcome && (wasOpen || reopenOnChoice_))
        outcome = MSComm1.setPortOpen(true);
    if (!outcome) {
        // The warning comes once the failure's facts are looked up; the
        // fallback is a closed port's number, which the box does not show.
        warnOpenFailure(outcome);
        (void)MSComm1.setCommPort(choice.fallback);  // to a closed port; nothing to check
        reopenOnChoice_ = true;
        return;
    }
    if (MSComm1.PortOpen())
        reopenOnChoice_ = false;
    Frame8->setVisible(false);
}

void Form1::SpeedOption_Click(const serial::SpeedChoice &choice) {
    PortSettings = QString::fromLatin1(choice.settings);
    if (const serial::CommOutcome outcome = MSComm1.setSettings(PortSettings); !outcome) {
        reportFailure(outcome.description());
        return;
    }
    Frame8->setVisible(false);
}

void Form1::MSComm1_OnComm() {
    if (MSComm1.CommEvent() != window::MSComm::comEvReceive)
        return;
    // Input appended to RxBuffer (its newest kReceivedLimit characters
    // kept), then AwaitingReply 0.
    arrived_ = exchange.append(MSComm1.Input());
    (void)Hyouji(RxBuffer(), kReceive);
}

void Form1::MSComm1_LineLost(const serial::LineFailure &failure) {
    reopenOnChoice_ = true;
    reportLineState(window::describeFailure(MSComm1.CommPort(), failure));
}

// A network port's opening that failed after it had started: as a failed
// opening, the port is closed, a port choice tries again, and the warning
// box says why.
void Form1::MSComm1_OpenFailed(const serial::LineFailure &failure) {
    reopenOnChoice_ = true;
    warnOpenFailure(serial::CommOutcome::failure(window::describeFailure(MSComm1.CommPort(), failure), failure));
}

// The lost line came back by itself and is open again as it was.
void Form1::MSComm1_LineRestored() {
    reopenOnChoice_ = false;
    reportLineState(window::describeRestored(MSComm1.CommPort(), MSComm1.device()));
}

void Form1::MSComm1_LineStillAway(const serial::LineFailure &failure) {
    reportLineState(window::describeStillAway(MSComm1.CommPort(), failure, MSComm1.reconnectWatch().intervalMs()));
}

void Form1::MSComm1_SettingsNotCarried(const serial::SettingsNotice &notice) {
    reportLineState(window::describeSettingsNotCarried(MSComm1.CommPort(), MSComm1.device(), notice));
}

}  // namespace mv70
