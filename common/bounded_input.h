#pragma once
// Reading an input file by name without trusting what the name stands for.
// Any local user can put a FIFO, a device or a link to one under /tmp, and
// a plain open or read of such a name blocks for ever or never ends. Only a
// regular file is read: the name is looked at before it is opened (so a
// device is never opened), opened without blocking (so a FIFO swapped in
// meanwhile does not wait for a writer), and the open file itself is checked
// again. A read never takes more than the limit its caller states.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

class QFile;

namespace bounded_input {

enum class ReadStatus {
    Ok,
    Missing,  // nothing of that name
    Refused,  // not a regular file, or it cannot be opened or read
    TooLarge, // a regular file of more than the limit
};

// The largest limit a read takes (the bytes go into one QByteArray).
constexpr qint64 kMaxLimit = qint64(1) << 30;

// Reads the whole regular file `path` when it holds at most `limit` bytes
// (at most kMaxLimit).
// Anything but Ok leaves *bytes empty and puts the reason, naming the path
// (and the limit for TooLarge), into *error.
ReadStatus read_regular_file(const QString& path, qint64 limit, QByteArray* bytes, QString* error);

// The same, with `size_ok` asked about the size of the opened file before a
// byte is read: false (with the reason in *error) refuses the file unread.
ReadStatus read_regular_file(const QString& path, qint64 limit, QByteArray* bytes, QString* error,
                             const std::function<bool(qint64 size, QString* error)>& size_ok);

// Opens `path` read-only into `file` (which then owns the descriptor) when it
// is a regular file; otherwise false with the reason in *error. For readers
// that stream a file of any size.
bool open_regular_file(const QString& path, QFile* file, QString* error);

// "16 MiB", "64 KiB", "1000 bytes": a limit as the messages name it.
QString size_text(qint64 bytes);

} // namespace bounded_input
