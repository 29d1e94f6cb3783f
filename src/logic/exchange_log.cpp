#include "logic/exchange_log.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <utility>

#include "logic/trace.h"

namespace mv70 {
namespace {

// Lines waiting beyond this wake the writer before its interval is over.
constexpr qsizetype kWakeBytes = 256 * 1024;

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

}  // namespace

ExchangeLog::ExchangeLog(const QString &path, QObject *parent) : QObject(parent), path_(path) {
    writer_ = std::thread([this] { writerLoop(); });
}

ExchangeLog::~ExchangeLog() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
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
        if (!failure_.isEmpty())
            return;
        ++added_;
        if (pendingBytes_ + bytes > kBufferLimit) {
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
    written_.wait(lock, [&] { return writtenUpTo_ >= target || !failure_.isEmpty(); });
}

QString ExchangeLog::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void ExchangeLog::writerLoop() {
    QFile file(path_);
    QString failure;
    // A pipe or a terminal is written to as it is; a file is appended to.
    const QFileInfo info(path_);
    const QIODevice::OpenMode mode =
        info.exists() && !info.isFile() ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append;
    if (!file.open(mode))
        failure = QStringLiteral("log %1: %2").arg(path_, file.errorString());

    Stamps stamps;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (failure.isEmpty())
            wake_.wait_for(lock, std::chrono::milliseconds(kFlushIntervalMs),
                           [&] { return stopping_ || flushWanted_ || pendingBytes_ >= kWakeBytes; });
        const std::vector<Event> events = std::exchange(pending_, {});
        pendingBytes_ = 0;
        const qint64 dropped = std::exchange(dropped_, 0);
        const quint64 upTo = added_;
        const bool stop = stopping_;
        flushWanted_ = false;
        lock.unlock();

        QByteArray chunk;
        for (const Event &event : events) {
            QStringView reading = event.reading;
            if (reading.startsWith(u' '))
                reading = reading.sliced(1);  // the STATUS line's leading blank
            chunk += lineOf(stamps.at(event.msecs), event.port, event.device,
                            event.direction == Direction::Transmit ? "TX" : "RX", renderTrace(event.text), reading);
        }
        if (dropped > 0)
            chunk +=
                lineOf(stamp(QDateTime::currentDateTime()), u"-", u"-", "--",
                       QStringLiteral("%1 lines not logged: the file was not written fast enough").arg(dropped), {});
        if (failure.isEmpty() && !chunk.isEmpty() && (file.write(chunk) != chunk.size() || !file.flush()))
            failure = QStringLiteral("log %1: %2").arg(path_, file.errorString());

        lock.lock();
        writtenUpTo_ = upTo;
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
        if (stop || !failure_.isEmpty())
            break;
    }
}

}  // namespace mv70
