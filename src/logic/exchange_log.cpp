// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/exchange_log.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logic/trace.h"

namespace mv70 {
namespace {

using Clock = std::chrono::steady_clock;

// Lines waiting beyond this wake the writer before its interval is over.
constexpr qsizetype kWakeBytes = 256 * 1024;
// How often a file that took nothing (a FIFO without a reader, or one whose
// reader does not read) is tried again.
constexpr int kRetryMs = 20;
// Written lines are dropped from the front of the backlog beyond this.
constexpr qsizetype kCompactBytes = 64 * 1024;

// A field of a line: what came from the line or the operator cannot break
// the line or its fields.
void appendField(QByteArray &line, QStringView text) {
    QByteArray bytes = text.toUtf8();
    for (char &c : bytes)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    line += bytes;
}

// Local time with milliseconds and the offset from UTC.
QString stamp(const QDateTime &time) {
    QDateTime stamped = time;
    stamped.setOffsetFromUtc(time.offsetFromUtc());  // the offset is written out
    return stamped.toString(Qt::ISODateWithMs);
}

// Stamps for times in milliseconds since the epoch. Within one second only
// the milliseconds change, so the rest is formatted once a second.
class Stamps {
public:
    QString at(qint64 msecs) {
        const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
        if (second != second_ || text_.isEmpty()) {
            second_ = second;
            text_ = stamp(QDateTime::fromMSecsSinceEpoch(second * 1000));
            millisAt_ = text_.indexOf(u'.') + 1;  // "…T21:58:03.000+01:00"
        }
        QString text = text_;
        const auto millis = static_cast<int>(msecs - second * 1000);
        text[millisAt_] = QChar(u'0' + millis / 100);
        text[millisAt_ + 1] = QChar(u'0' + millis / 10 % 10);
        text[millisAt_ + 2] = QChar(u'0' + millis % 10);
        return text;
    }

private:
    qint64 second_ = 0;
    QString text_;
    qsizetype millisAt_ = 0;
};

QByteArray lineOf(QStringView time, QStringView port, QStringView device, const char *tag, QStringView trace,
                  QStringView reading) {
    QByteArray line = time.toLatin1();
    line += '\t';
    appendField(line, port);
    line += '\t';
    appendField(line, device);
    line += '\t';
    line += tag;
    line += '\t';
    appendField(line, trace);
    line += '\t';
    appendField(line, reading);
    line += '\n';
    return line;
}

// The log's file as a descriptor that never blocks: a FIFO is opened
// without waiting for a reader, and what a pipe or a terminal does not take
// at once is left for later.
class LogFile {
public:
    explicit LogFile(const QString &path) : path_(path), name_(QFile::encodeName(path)) {}
    ~LogFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Whether the last open() found a FIFO without a reader.
    bool noReader() const { return noReader_; }

    void close() {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

    // Opens the file unless it is open. A FIFO without a reader stays closed
    // without a failure: it is tried again later.
    void open(QString &failure) {
        if (fd_ >= 0)
            return;
        struct stat info {};
        const bool exists = ::stat(name_.constData(), &info) == 0;
        const bool fifo = exists && S_ISFIFO(info.st_mode);
        // A pipe, a terminal or a device is written to as it is; a file is
        // appended to, and made if it is not there.
        const int flags =
            O_WRONLY | O_CLOEXEC | O_NONBLOCK | (exists && !S_ISREG(info.st_mode) ? 0 : O_APPEND | O_CREAT);
        fd_ = ::open(name_.constData(), flags, 0666);
        noReader_ = fd_ < 0 && fifo && errno == ENXIO;
        if (fd_ < 0) {
            if (!noReader_)
                failure = describe(errno);
            return;
        }
        regular_ = !exists || S_ISREG(info.st_mode);
    }

    // Writes what the file takes now of `data`, which ends at a line's end,
    // and returns how much that was. A failure leaves whole lines only in a
    // file: a line begun by a write that then failed is cut off again, so
    // that the next line, of this run or the next, starts a line of its own.
    qsizetype write(const char *data, qsizetype size, QString &failure) {
        const off_t before = regular_ ? ::lseek(fd_, 0, SEEK_END) : -1;
        qsizetype written = 0;
        while (written < size) {
            const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(size - written));
            if (n > 0) {
                written += n;
                continue;
            }
            const int error = n < 0 ? errno : EIO;
            if (error == EINTR)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return written;  // the reader has not taken what it has yet
            failure = describe(error);
            const qsizetype whole = QByteArrayView(data, written).lastIndexOf('\n') + 1;
            struct stat info {};
            if (regular_ && before >= 0 && whole < written && ::fstat(fd_, &info) == 0
                && info.st_size == before + written)  // nobody else has appended since
                (void)::ftruncate(fd_, before + whole);
            return whole;
        }
        return written;
    }

    // Waits at most `ms` for the file to take more (for a FIFO without a
    // reader: just waits).
    void waitToWrite(int ms) const {
        if (fd_ < 0) {
            ::usleep(static_cast<useconds_t>(ms) * 1000);
            return;
        }
        pollfd wanted{fd_, POLLOUT, 0};
        (void)::poll(&wanted, 1, ms);
    }

    // Lines of at most this many bytes go into a pipe whole: the system
    // writes up to PIPE_BUF bytes at once or not at all.
    qsizetype chunkLimit() const { return regular_ ? 1024 * 1024 : PIPE_BUF; }

private:
    QString describe(int error) const { return QStringLiteral("log %1: %2").arg(path_, qt_error_string(error)); }

    const QString path_;
    const QByteArray name_;
    int fd_ = -1;
    bool regular_ = false;
    bool noReader_ = false;
};

// What has been made into lines and not yet written, and the notes among
// them that stand for lines that were not logged.
class Backlog {
public:
    void append(const QByteArray &lines) { bytes_ += lines; }
    void appendNote(const QByteArray &line, qint64 count) {
        notes_.push_back({bytes_.size(), count});
        bytes_ += line;
    }
    qsizetype unwritten() const { return bytes_.size() - done_; }
    bool isEmpty() const { return unwritten() == 0; }

    // The next piece to write: whole lines up to `limit` bytes, or the rest
    // of a line longer than that.
    QByteArrayView next(qsizetype limit) const {
        qsizetype end = bytes_.size();
        if (end - done_ > limit) {
            const qsizetype cut = bytes_.lastIndexOf('\n', done_ + limit - 1);
            end = cut >= done_ ? cut + 1 : bytes_.indexOf('\n', done_) + 1;
        }
        return QByteArrayView(bytes_).sliced(done_, end - done_);
    }

    void written(qsizetype count) {
        done_ += count;
        if (done_ == bytes_.size()) {
            bytes_.clear();
            notes_.clear();
            done_ = 0;
        } else if (done_ >= kCompactBytes) {
            bytes_.remove(0, done_);
            for (Note &note : notes_)
                note.at -= done_;
            std::erase_if(notes_, [](const Note &note) { return note.at < 0; });
            done_ = 0;
        }
    }

    // How many lines of the log what is left stands for; a line begun is
    // counted as not written.
    qint64 lines() const {
        const qsizetype from = done_ == 0 ? 0 : bytes_.lastIndexOf('\n', done_ - 1) + 1;
        qint64 count = QByteArrayView(bytes_).sliced(from).count('\n');
        for (const Note &note : notes_)
            if (note.at >= from)
                count += note.count - 1;
        return count;
    }

private:
    struct Note {
        qsizetype at;
        qint64 count;
    };
    QByteArray bytes_;
    qsizetype done_ = 0;
    std::vector<Note> notes_;
};

}  // namespace

ExchangeLog::ExchangeLog(const QString &path, QObject *parent) : QObject(parent), path_(path) {
    writer_ = std::thread([this] { writerLoop(); });
}

ExchangeLog::~ExchangeLog() { finish(); }

qint64 ExchangeLog::finish() {
    {
        const std::lock_guard lock(mutex_);
        if (finished_)
            return droppedAtExit_;
        finished_ = true;
        stopping_ = true;
        stopDeadline_ = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
    }
    wake_.notify_one();
    writer_.join();
    const std::lock_guard lock(mutex_);
    return droppedAtExit_;
}

QString ExchangeLog::droppedAtExit(const QString &path, qint64 count) {
    return QStringLiteral("log %1: %2 lines not written: the file took nothing for %3 s at the end")
        .arg(path)
        .arg(count)
        .arg(kExitWaitMs / 1000);
}

QByteArray ExchangeLog::formatLine(const QDateTime &time, QStringView port, QStringView device, Direction direction,
                                   QStringView trace, QStringView reading) {
    return lineOf(stamp(time), port, device, direction == Direction::Transmit ? "TX" : "RX", trace, reading);
}

void ExchangeLog::add(const QString &port, const QString &device, Direction direction, const QString &text,
                      const QString &reading) {
    // A line takes up to four characters of trace per character, and the rest.
    const qsizetype bytes = 4 * text.size() + reading.size() + port.size() + device.size() + 40;
    Event event{QDateTime::currentMSecsSinceEpoch(), direction, port, device, text, reading};
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        if (!failure_.isEmpty() || finished_)
            return;
        ++added_;
        if (pendingBytes_ + backlogBytes_ + bytes > kBufferLimit) {
            ++dropped_;
            return;
        }
        pending_.push_back(std::move(event));
        pendingBytes_ += bytes;
        wake = pendingBytes_ >= kWakeBytes;
    }
    if (wake)
        wake_.notify_one();
}

void ExchangeLog::flush() {
    std::unique_lock lock(mutex_);
    const quint64 target = added_;
    flushWanted_ = true;
    wake_.notify_one();
    written_.wait_for(lock, std::chrono::milliseconds(kExitWaitMs),
                      [&] { return writtenUpTo_ >= target || !failure_.isEmpty() || finished_; });
}

QString ExchangeLog::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void ExchangeLog::reopen() {
    {
        const std::lock_guard lock(mutex_);
        if (finished_ || !failure_.isEmpty())
            return;
        reopenWanted_ = true;
    }
    wake_.notify_one();
}

void ExchangeLog::writerLoop() {
    // A write to a pipe whose reader has gone, or past the size a file may
    // have, raises a signal that ends the process. On this thread they are
    // blocked, and the write fails with EPIPE or EFBIG instead.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    sigaddset(&blocked, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    LogFile file(path_);
    QString failure;
    file.open(failure);

    Stamps stamps;
    Backlog backlog;
    quint64 madeUpTo = 0;  // the lines added up to this are made or dropped
    bool waiting = false;  // the file took less than it was given
    bool noReaderSaid = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (failure.isEmpty() && !stopping_)
            wake_.wait_for(lock, std::chrono::milliseconds(waiting ? kRetryMs : kFlushIntervalMs),
                           [&] { return stopping_ || flushWanted_ || reopenWanted_ || pendingBytes_ >= kWakeBytes; });
        const std::vector<Event> events = std::exchange(pending_, {});
        pendingBytes_ = 0;
        const qint64 dropped = std::exchange(dropped_, 0);
        madeUpTo = added_;
        const bool stop = stopping_;
        const Clock::time_point deadline = stopDeadline_;
        flushWanted_ = false;
        const bool reopen = std::exchange(reopenWanted_, false);
        lock.unlock();
        if (reopen)
            file.close();  // opened again below, by its name

        QByteArray chunk;
        for (const Event &event : events) {
            QStringView reading = event.reading;
            if (reading.startsWith(u' '))
                reading = reading.sliced(1);  // the STATUS line's leading blank
            chunk += lineOf(stamps.at(event.msecs), event.port, event.device,
                            event.direction == Direction::Transmit ? "TX" : "RX", renderTrace(event.text), reading);
        }
        backlog.append(chunk);
        if (dropped > 0)
            backlog.appendNote(
                lineOf(stamp(QDateTime::currentDateTime()), u"-", u"-", "--",
                       QStringLiteral("%1 lines not logged: the file was not written fast enough").arg(dropped), {}),
                dropped);

        // Everything the file takes now; at the end, until the deadline.
        for (;;) {
            waiting = false;
            if (failure.isEmpty())
                file.open(failure);
            if (file.noReader() && !std::exchange(noReaderSaid, true))
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        emit noReader(QStringLiteral("log %1: a FIFO that no program reads; its lines wait for a "
                                                     "reader")
                                          .arg(path_));
                    },
                    Qt::QueuedConnection);
            while (failure.isEmpty() && file.isOpen() && !backlog.isEmpty()) {
                const QByteArrayView piece = backlog.next(file.chunkLimit());
                const qsizetype written = file.write(piece.data(), piece.size(), failure);
                backlog.written(written);
                if (written < piece.size())
                    break;
            }
            waiting = failure.isEmpty() && !backlog.isEmpty();
            if (!stop || !waiting)
                break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            file.waitToWrite(static_cast<int>(std::min<qint64>(left, kRetryMs)));
        }

        lock.lock();
        backlogBytes_ = backlog.unwritten();
        if (backlog.isEmpty() || !failure.isEmpty())
            writtenUpTo_ = madeUpTo;
        const bool newFailure = !failure.isEmpty() && failure_.isEmpty();
        if (newFailure) {
            failure_ = failure;
            pending_.clear();
            pendingBytes_ = 0;
        }
        written_.notify_all();
        if (newFailure) {
            // Raised on the log's own thread, once whoever made it has had
            // the chance to connect.
            QMetaObject::invokeMethod(
                this, [this, failure] { emit failed(failure); }, Qt::QueuedConnection);
        }
        if (!failure_.isEmpty())
            break;
        if (stop) {
            droppedAtExit_ = backlog.lines();
            break;
        }
    }
}

}  // namespace mv70
