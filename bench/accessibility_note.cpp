// SPDX-License-Identifier: GPL-3.0-or-later
#include "accessibility_note.h"

#include <QAccessible>

#include "window/form1.h"

namespace bench {

QString accessibilitySuffix() {
    return QAccessible::isActive() ? QStringLiteral(", accessibility client attached") : QString();
}

QString accessibilityNote(const mv70::Form1 &form, std::uint64_t frames) {
    const quint64 txd = form.Label11->nameChangesRaised();
    const quint64 rxd = form.Label12->nameChangesRaised();
    const quint64 status = form.Label22->nameChangesRaised();
    if (!QAccessible::isActive())
        return QStringLiteral("No accessibility client listened (Qt's accessibility inactive): the monitor lines "
                              "built %1 accessibility events.\n\n")
            .arg(txd + rxd + status);
    return QStringLiteral("An accessibility client listened (bench/with_a11y_client.sh: at-spi2-core's bus, the "
                          "screen-reader flag set, a client reading every changed name): the monitor lines raised "
                          "%1 name-changed events (TXD %2, RXD %3, STATUS %4) while %5 frames were painted.\n\n")
        .arg(txd + rxd + status)
        .arg(txd)
        .arg(rxd)
        .arg(status)
        .arg(frames);
}

}  // namespace bench
