#pragma once
// The file formats of the training folder "data" that the generation writes
// and the training executables read, kept apart from the dialog so that they
// can be checked on their own.

#include "labeling.h"

#include <QString>

// The trainer's own form of a darknet label line for an object of class k in
// an image of W x H pixels: five fields "id cy cx h w", each followed by one
// blank, without the line feed. Class 0 has id 16 and divisor 1.5; odd k the
// id 128 k + 323 and divisor 1.8; even k of 2 or more the id 128 k + 323 and
// divisor 2.3. Each quotient is formed in single precision, widened, divided
// by the divisor and written with six significant digits.
// The fields are the object's own centre and box size, wherever the box lies
// (a box read from a ".gt" can lie anywhere): every object of a class has its
// line. Values outside (0, 1] are the reader's to clip or drop.
QString label_line(int k, const Object& object, int width, int height);

// "obj.data" for N classes, exactly as darknet reads it: five lines, two
// blanks before the "=" of the train and valid lines, no final line feed.
QString obj_data_text(int classes);

// The "gen_progress" status text handed to the status-line writer: the
// double quotes already escaped for it, as in { \"gen_progress\" : 42 }.
QString gen_progress_text(int percent);

// Removes a folder with everything in it. A symbolic link is removed as a
// file and never followed, so nothing outside the folder is touched. True
// when the folder did not exist or was removed; false at the first entry
// whose removal fails (the remaining entries stay).
bool remove_dir_tree(const QString& dir);
