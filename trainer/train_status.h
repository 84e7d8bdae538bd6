#pragma once
// The status line of a training run, written every second while it runs:
//   {"train_state":{"avg":999,"backend":"GPU","intr":0,"time_sec":1,"time_str":"00:00:01"}}

#include <QString>
#include <QtGlobal>

// "hh:mm:ss" for a number of whole seconds, each field at least two digits;
// hours do not wrap (360000 s is "100:00:00").
QString elapsed_text(qint64 seconds);

// The status line as compact JSON (keys in the order avg, backend, intr,
// time_sec, time_str). An average that is nan or inf is written as null.
QString train_state_json(qint64 seconds, double avg_loss, qint64 iteration, bool gpu);

// The same text with a backslash before every double quote, as the status-line
// writer takes it.
QString quotes_escaped(const QString& text);
