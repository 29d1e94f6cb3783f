// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exchange log: one line per transmit and per receive event, appended to
// a file for the people who look after the projectors.
//
//   2026-12-07T21:58:03.120+01:00 <TAB> COM1 <TAB> /dev/ttyUSB0 <TAB> TX <TAB>  C R 0 CR  <TAB>
//   2026-12-07T21:58:03.131+01:00 <TAB> COM1 <TAB> /dev/ttyUSB0 <TAB> RX <TAB>  8 0 CR  <TAB> Stand by
//
// Fields: local time with milliseconds and offset (ISO 8601), the port, its
// device, TX or RX, the trace of what went out or came in with this event,
// and the reading the STATUS line shows after it (empty where there is none).
// No field holds a tab or a line break.
//
// The caller never waits for the disk, nor spends time on making lines: it
// hands over the event, and a writer thread of the log's own makes the lines
// and appends them every kFlushIntervalMs. While
// the disk is slower than the line, at most kBufferLimit bytes wait; lines
// beyond that are counted and the count is written in their place. A file
// that cannot be opened or written is reported once by failed() and the log
// then stops; whatever uses it goes on. Lines not written in time are
// replaced by one line whose direction is "--" and whose trace says how many.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace mv70 {

class ExchangeLog : public QObject {
    Q_OBJECT

public:
    enum class Direction { Transmit, Receive };

    static constexpr int kFlushIntervalMs = 200;
    static constexpr qsizetype kBufferLimit = 4 * 1024 * 1024;
    static constexpr int kExitWaitMs = 2000;

    // Starts the writer, which opens `path` for appending at once.
    explicit ExchangeLog(const QString &path, QObject *parent = nullptr);
    // finish(), if not done before.
    ~ExchangeLog() override;

    const QString &path() const { return path_; }

    // `text` is what went out or came in, as characters of the line; it is
    // logged as its trace. `reading` is the STATUS line's text, if any,
    // logged without its leading blank. The strings are shared, not copied:
    // the line is made on the writer's thread.
    void add(const QString &port, const QString &device, Direction direction, const QString &text,
             const QString &reading = {});

    // Waits until every line added so far is written, or the log has failed,
    // or kExitWaitMs have passed.
    void flush();

    // Writes what is left within kExitWaitMs and stops the writer. Returns
    // how many lines were dropped because the file did not take them in
    // that time (0 when it did, or after a failure, which failure() says).
    // Lines added after this are dropped without being counted.
    qint64 finish();
    // What a program says of the lines finish() dropped.
    static QString droppedAtExit(const QString &path, qint64 count);

    // The failure, once there has been one; empty until then.
    QString failure() const;

    // Closes the file and opens `path` again, on the writer's thread, before
    // the next lines are written: after a log rotation (the file renamed
    // away), the lines go to a new file of that name. Lines waiting go to
    // the new file. Nothing after a failure: the log has stopped.
    void reopen();

    // One line of the log, line feed included.
    static QByteArray formatLine(const QDateTime &time, QStringView port, QStringView device, Direction direction,
                                 QStringView trace, QStringView reading);

signals:
    // Raised once, on the thread the log belongs to, from its event loop.
    void failed(const QString &description);
    // Raised once, as failed() is, when the file is a FIFO that no program
    // reads: its lines wait for a reader (kBufferLimit at most). Not a failure.
    void noReader(const QString &description);

private:
    void writerLoop();

    const QString path_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;     // the writer: work, a flush or the end
    std::condition_variable written_;  // flush(): the writer has caught up
    struct Event {
        qint64 msecs;  // since the epoch
        Direction direction;
        QString port, device, text, reading;
    };
    std::vector<Event> pending_;
    qsizetype pendingBytes_ = 0;  // what the waiting events will take in the file, about
    qint64 dropped_ = 0;
    quint64 added_ = 0;  // lines handed over so far
    quint64 writtenUpTo_ = 0;
    qsizetype backlogBytes_ = 0;  // made into lines, not yet taken by the file
    bool flushWanted_ = false;
    bool reopenWanted_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    std::chrono::steady_clock::time_point stopDeadline_;
    qint64 droppedAtExit_ = 0;
    QString failure_;
    std::thread writer_;
};

}  // namespace mv70
