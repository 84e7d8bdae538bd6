#pragma once
// The log line a client reads; write_file_atomically puts it, and every
// other file a client may read while the server rewrites it, in place.

#include "atomic_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The log line: the object with "datatime" set to `now` as
// "yyyy-MM-dd hh:mm:ss", as compact JSON (keys in ascending order, as
// QJsonObject keeps them), UTF-8, without a newline.
QByteArray log_line_text(QJsonObject log, const QDateTime& now);
