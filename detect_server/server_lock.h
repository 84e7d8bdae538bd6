#pragma once
// The server lock: one server per /tmp. It is a kernel lock (flock) on the
// regular file /tmp/sarvik.lock, so only a live process can hold it; the
// kernel frees it when the server ends, however it ends. What the file holds
// (the holder's process id, written for the message of a second server) and
// anything standing beside it decide nothing.

namespace sarvik_server {

// Takes the lock for the rest of the process. A lock file that no process
// holds (left by a server that died, empty, anything) is taken over when it
// is this user's, or when this process may replace it; a link, FIFO or other
// non-regular file at the name is removed, never opened, and so is a hard
// link to a file kept elsewhere (the name only), never written. False, with one line
// on stderr, when another process holds the lock or it cannot be taken (a
// lock file of another user that the sticky /tmp keeps, say); the server must
// then end without serving. Never waits for another process beyond a moment.
bool take_server_lock();

} // namespace sarvik_server
