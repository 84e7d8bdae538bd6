#pragma once
// Reading the training executable's standard output: each chunk that arrives
// reports the iteration and the average loss of its first progress line, in
// either of the two forms darknet builds print:
//   "[ 1200 ] 3.141593, 2.718282 avg, 0.002610 rate, ..." (preceded by a newline)
//   " 1200: 3.141593, 2.718282 avg loss, 0.002610 rate, ..."

#include <QString>
#include <QtGlobal>

struct ProgressUpdate {
    // Set when the chunk names an iteration in brackets, after a newline or
    // other text (a chunk that begins with "[" does not).
    bool has_iteration = false;
    QString iteration_label; // "iteration :" followed by the bracketed text as it stands
    qint64 iteration = 0;    // that text as a number, 0 when it is not one

    // Set when the chunk holds " avg," (four decimals) or "avg loss" (two).
    bool has_avg = false;
    QString avg_label; // "Avg loss : " followed by the rounded value
    double avg = 0;    // the rounded value (nan, with or without a sign, or inf as printed); 0 when
                       // the text is no number
};

// Parses one chunk of standard output.
ProgressUpdate parse_progress_chunk(const QString& chunk);

// The console is cleared before a chunk is added once its text, split at line
// feeds (empty pieces kept), has more than 50 pieces.
bool console_needs_clearing(const QString& console_text);
