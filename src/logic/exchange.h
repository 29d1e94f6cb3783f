// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One exchange with the projector: a command goes out, its reply window runs
// from the moment its bytes have left for the line, and what comes back is
// gathered, traced and read. The panel, mv70-ctl and the bridge all run
// their exchanges through this object; each binds it to its own screen,
// output or clients. It knows no widget and no port: it writes through a
// function it is given and is told when bytes have left and what arrived.
//
// A program without steps of its own uses send() and receive() and listens
// to the signals. The panel puts its labels between the steps, so it calls
// write(), openReplyWindow(), append(), traceReceived(), read() and
// endReplyWindow() itself, in its handlers' order.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QTimer>
#include <QtGlobal>

#include <functional>

#include "logic/reply_decoder.h"
#include "logic/trace.h"

namespace mv70 {

// Received characters kept in the receive buffer: the newest ones.
inline constexpr qsizetype kReceivedLimit = 32767;

// Whether the exchange waits for a reply.
enum class ReplyWait { None, Awaited };

class Exchange : public QObject {
    Q_OBJECT

public:
    // Hands a command's text to the line: "" when the line took it, else why
    // not. A line that took a text says through bytesLeft() when its bytes
    // have left (for a local device before the writer returns; for a network
    // port once the connection is made).
    using Writer = std::function<QString(QStringView text)>;

    // The reply window is `replyWindow` when one is given: its owner handles
    // its tick and calls endReplyWindow(). Without one the exchange keeps a
    // timer of its own whose tick ends the window.
    explicit Exchange(QTimer *replyWindow = nullptr, QObject *parent = nullptr);

    void setWriter(Writer writer) { writer_ = std::move(writer); }

    // ---- The state of the exchange ----------------------------------------
    // The whole text of the last command, CR included: a reply is read as
    // its answer.
    const QString &lastCommand() const { return lastCommand_; }
    void setCommand(const QString &text) { lastCommand_ = text; }
    // What was received since the last transmit or window end, its newest
    // kReceivedLimit characters.
    const QString &received() const { return received_; }
    void setReceived(const QString &text);
    // Whether a reply is awaited: from the window's opening until something
    // is received.
    ReplyWait replyWait() const { return replyWait_; }
    void setReplyWait(ReplyWait wait) { replyWait_ = wait; }
    // The work value of the pressure reading, kept between replies.
    qint16 pressureValue() const { return pressureValue_; }
    // What goes before every code; empty.
    const QString &prefix() const { return prefix_; }
    void setPrefix(const QString &prefix) { prefix_ = prefix; }

    QTimer &replyWindow() { return *window_; }

    // What is sent for `code`: the prefix, the code, a carriage return.
    QString commandText(QStringView code) const;

    // ---- Whole steps ---------------------------------------------------------
    // The last command becomes the command of `code`; it is written and
    // traced, and a reply window of `replyWindowMs` opens once its bytes have
    // left. Returns "" or why the line refused it; then nothing else has
    // changed but the last command.
    QString send(QStringView code, int replyWindowMs);
    // What arrived: appended, traced and read. Returns the reading.
    Reading receive(QStringView input);

    // ---- The steps one by one ------------------------------------------------
    // Writes `text` to the line. On success the receive buffer is emptied:
    // what arrives from now on is this command's reply, not the rest of an
    // earlier one. Returns "" or why the line refused it.
    QString write(const QString &text);
    // The reply window on and a reply awaited, as soon as the bytes of every
    // write so far have left (at once when they have); replyWindowOpened()
    // says when.
    void openReplyWindow();
    // The window off without a tick; an opening still waiting for bytes is
    // dropped.
    void closeReplyWindow();
    // Appends what arrived, keeping the newest kReceivedLimit characters;
    // no reply is awaited any more. Returns how many characters it added.
    qsizetype append(QStringView input);
    // The receive trace of `text` (the receive buffer), rendered only as far
    // as it is new since the last call.
    const QString &traceReceived(const QString &text);
    // The reading of what was received, and of its receive trace, as a reply
    // to the last command. Every reply of every program is read here.
    Reading read(QStringView received, QStringView trace);
    // End of the reply window: off, the receive buffer emptied, no reply
    // awaited; replyWindowEnded() says whether anything came.
    void endReplyWindow();

    // ---- What the line says --------------------------------------------------
    // The bytes of the oldest write not yet left have left.
    void bytesLeft();
    // Bytes written and not yet left never will (the line was lost or closed,
    // or its connection failed). A window waiting for them opens now.
    void lineGone();
    bool bytesPending() const { return !unsent_.isEmpty(); }

    // A reply is complete at its carriage return, or as the acknowledge byte.
    static bool isReplyComplete(QStringView received);
    bool replyComplete() const { return isReplyComplete(received_); }
    // What was received is the acknowledge byte and nothing else.
    bool acknowledged() const;

signals:
    // send() and receive(): the trace of what went out or of the receive
    // buffer; `direction` is kTransmit or kReceive.
    void traced(quint8 direction, const QString &trace);
    // A written text's bytes have left for the line.
    void commandLeft(const QString &text);
    // The reply window runs from now.
    void replyWindowOpened();
    // receive(): what this event brought, the trace of the whole receive
    // buffer and its reading.
    void replied(const QString &input, const QString &trace, const Reading &reading);
    // The reply window ended; `answered` when anything arrived within it.
    void replyWindowEnded(bool answered);

private:
    void startWindow();

    QString lastCommand_;
    QString received_;
    ReplyWait replyWait_ = ReplyWait::None;
    qint16 pressureValue_ = 0;
    QString prefix_;
    QTimer ownWindow_;
    QTimer *window_;
    Writer writer_;
    QList<QString> unsent_;   // written, bytes not yet left, oldest first
    bool windowDue_ = false;  // an opening waits for unsent_ to empty
    IncrementalTrace rxTrace_;
};

}  // namespace mv70
