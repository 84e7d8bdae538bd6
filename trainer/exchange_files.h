#pragma once
// The files under /tmp through which a controlling program follows and stops
// the trainer.

namespace trainer_exchange {

constexpr const char* kStatusLog = "/tmp/varnex.log"; // the latest status line, replaced by the trainer
constexpr const char* kStopFile = "/tmp/varnex.stop"; // left at start; its removal stops a training

// Checks that the trainer can replace and remove each of them; for each one
// it cannot, one line on stderr names the file and the reason. False then:
// the trainer must end before it works.
bool ready();

} // namespace trainer_exchange
