#pragma once
// Whether this process can put a new file at, or remove, a name in a shared
// folder such as the sticky /tmp, told by looking (lstat, owner, the folder's
// sticky bit and write permission, the immutable and append-only attributes),
// never by changing the file, which a client may be watching.

#include <QString>
#include <QStringList>

namespace exchange_check {

// Empty when a file renamed over `path`, or the removal of `path`, would
// succeed; otherwise why not ("it belongs to another user (uid 0) and /tmp is
// sticky", "it is immutable", ...).
QString why_not_replaceable(const QString& path);

// Empty when `path` can be rewritten in place (a regular file this process
// may open for writing with truncation) or, failing that, replaced.
QString why_not_rewritable(const QString& path);

// Checks every path of `replaced` with why_not_replaceable and of
// `rewritten` with why_not_rewritable; each one that fails gives one line
// "<program>: cannot replace <path>: <why>" on stderr. True when none fails.
bool report_unreplaceable(const char* program, const QStringList& replaced,
                          const QStringList& rewritten = QStringList());

// Removes `path`; a name that is already gone is fine. Any other failure gives
// the line "<who>: cannot remove <path>: <reason>" on stderr and false.
bool remove_exchange_file(const QString& path, const char* who);

} // namespace exchange_check
