#pragma once
// The one-line status files that a controlling program reads while the
// trainer runs (for example "/tmp/varnex.log"). They hold only the latest
// line, and a reader must never see a half-written file.

#include <QByteArray>
#include <QString>

namespace status_line {

// What `echo "<text>"` would have left of the text in the file: inside double
// quotes the shell drops a backslash only before '"', '\', '$' and '`'. Every
// other character, backslashes before other characters included, is kept
// as it stands. Callers escape the double quotes of their JSON text, so the
// result is the plain JSON text. UTF-8.
QByteArray shell_quote_removed(const QString& text);

// Replaces `path` by `line` and a newline: the bytes go into a temporary file
// in the same folder, which is then renamed over the target, so the file is
// always either the previous line or the new one. A symbolic link at `path` is
// replaced, never written through. The file is readable by everyone (as a
// shell redirection under the usual umask would leave it). Returns false, with
// the reason in *why when given, when the line could not be written; the
// previous line is then removed too, since a reader would take it for the
// current state (*why says so where that removal fails as well).
bool replace_file(const QString& path, const QByteArray& line, QString* why = nullptr);

} // namespace status_line
