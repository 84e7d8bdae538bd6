#pragma once
// Replacing a file that another program may read at any moment (the status
// and log lines, the server's result image).

#include <QByteArray>
#include <QString>

// Replaces `path` with exactly `bytes`: they go into a new file in the same
// folder, which is then renamed over `path`, so a reader sees the old or the
// new content, never a part. A symbolic link at `path` is replaced, never
// written through. The file is readable by everyone, as a shell redirection
// under the usual umask would leave it. No shell is involved, whatever the
// bytes hold. False, and `path` untouched, on failure.
bool write_file_atomically(const QString& path, const QByteArray& bytes);
