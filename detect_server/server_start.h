#pragma once
// What must hold before a server serves: no other server on this /tmp, and
// every exchange file it writes replaceable by it.

namespace sarvik_server {

// Takes the server lock /tmp/sarvik.lock for the rest of the process (a lock
// left by a server that died is taken over; a live server's never, however
// old), then checks the exchange files. On failure it prints why on stderr,
// one line for each fault, and returns false: the server must then end
// without serving.
bool ready_to_serve();

} // namespace sarvik_server
