#pragma once
// Writing the log line and the other files a client reads while the server
// may be rewriting them.

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The log line: the object with "datatime" set to `now` as
// "yyyy-MM-dd hh:mm:ss", as compact JSON (keys in ascending order, as
// QJsonObject keeps them), UTF-8, without a newline.
QByteArray log_line_text(QJsonObject log, const QDateTime& now);

// Replaces path with exactly `bytes`: they go to a new file in the same
// folder, which is then renamed over path, so a reader sees the old or the
// new content, never a part. A symbolic link at path is replaced, not
// followed. No shell is involved, whatever the bytes hold. False (and path
// untouched) on failure.
bool write_file_atomically(const QString& path, const QByteArray& bytes);
