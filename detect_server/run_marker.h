#pragma once
// The run marker: rewritten after every command file, it tells a client that
// the command has finished and that its log line (if any) is in place.

#include <QByteArray>
#include <QString>

// What `echo "$(date)"` prints: the output of the system's date command
// without its trailing newlines, then one newline (only the newline when date
// cannot be run).
QByteArray run_marker_text();

// Rewrites `path` in place with run_marker_text(): the regular file at the
// name keeps its inode, so a client watching it for a change (inotify, a
// QFileSystemWatcher) sees every command. A link, FIFO or other non-regular
// file at the name is removed, never written through, and a plain file (0644)
// created instead. When the text cannot be written (a full disk), the marker
// is left empty, which needs no room and still tells the client that the
// command has finished. Failures are reported on stderr. False when no
// marker could be put at the name at all (nothing could be opened or
// created there).
bool write_run_marker(const QString& path);
