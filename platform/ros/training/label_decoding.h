#pragma once
// Decoding of the trainer's label texts into darknet's own label lines.
//
// The trainer writes one line per object: "id cy cx h w " where the id encodes
// the class index k (16 for k = 0, 128 k + 323 otherwise) and every value was
// divided by a divisor that depends on k (1.5 for k = 0, 1.8 for odd k, 2.3 for
// even k of 2 or more). The values are the object's own centre and size,
// wherever its box lies, so they can lie outside (0, 1] or be 0 or negative.
// darknet reads "k cx cy w h" with plain values in (0, 1]: a box whose
// values say it reaches beyond the image is given to it as its part inside
// the image, and a box with no part inside (or no size) is left out.

#include <string>

namespace nomu_ros {

// Class index of a trainer label id; -1 when the id encodes no class.
int classIndexOfLabelId(long id);
// The trainer's label id and divisor of class index k (k >= 0).
long labelIdOfClass(int k);
double labelDivisorOfClass(int k);

struct DecodedLabel {
    enum Kind { Empty, Ok, Bad, Outside };
    Kind kind = Empty;
    int classIndex = -1;
    double cx = 0, cy = 0, w = 0, h = 0;
    std::string error; // why a Bad line was refused, or an Outside box left out
};

// Decodes one line of a trainer label text. A blank line is Empty; a line with
// the wrong number of fields, a field that is not a number, a value that is
// not finite once multiplied by its divisor, an unknown id or a class index
// not below classCount is Bad. Values that exceed 1 only by the
// rounding of the six written digits are taken as 1. Where the centre or
// size of an axis is still outside (0, 1], that axis of the box becomes its
// part inside the image (centre and size of that part); a box without such a
// part, or without a positive size, is Outside. Values of an axis that lie
// within (0, 1] are kept as written.
DecodedLabel decodeLabelLine(const std::string& line, int classCount);

// darknet's label line of a decoded object: "k cx cy w h" (no newline).
std::string darknetLabelLine(const DecodedLabel& label);

} // namespace nomu_ros
