#pragma once
// The run marker: rewritten after every command file, it tells a client that
// the command has finished and that its log line (if any) is in place.

#include <QByteArray>
#include <QString>

// What `echo "$(date)"` prints: the output of the system's date command
// without its trailing newlines, then one newline (only the newline when date
// cannot be run).
QByteArray run_marker_text();

// Replaces `path` with run_marker_text() through a new file renamed over it,
// never through a link planted at the name. When that cannot be written (a
// full disk), an empty marker, which needs no room for its bytes, still tells
// the client that the command has finished.
void write_run_marker(const QString& path);
