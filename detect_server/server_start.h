#pragma once
// What must hold before a server serves, and while it serves: no other server
// on this /tmp, and every exchange file it writes replaceable by it.

#include <QStringList>

namespace sarvik_server {

// Takes the server lock /tmp/sarvik.lock for the rest of the process (see
// server_lock.h), then checks the exchange files. On failure it prints why on
// stderr, one line for each fault, and returns false: the server must then
// end without serving.
bool ready_to_serve();

// After a command that could not put some of its exchange files in place
// (`unplaced`: the log, the result image, the run marker): checks those as
// ready_to_serve does. True when each may still be replaced (or the marker
// rewritten) by this server, as after a full /tmp: it serves on. Otherwise
// the same lines as at start, and false: another user's file (or one this
// server may not change) stands at the name and would be read as this
// server's answer, so the server must end with status 1.
bool can_still_answer(const QStringList& unplaced);

} // namespace sarvik_server
