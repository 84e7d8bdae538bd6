#pragma once
// The export of a trained model: the three files the detection server loads,
// copied from a training folder into a folder of the user's choice.
//
//   <training folder>/data/obj.names          -> <folder>/obj.names
//   <training folder>/data/test.cfg           -> <folder>/test.cfg
//   <training folder>/data/backup/train.backup -> <folder>/train.weights

#include <QString>
#include <QVector>

struct ExportRow {
    QString source;
    QString target;
};

// The three rows for a training folder (as the dialog shows it) and a target
// folder, in export order.
QVector<ExportRow> export_rows(const QString& training_folder, const QString& target_folder);

// True when the target folder is the training folder's own "data" folder
// (compared as canonical paths, so links and "." do not hide it): exporting
// there would replace the sources themselves.
bool is_training_data_folder(const QString& training_folder, const QString& target_folder);

enum class CopyResult {
    Copied,
    SourceUnreadable, // not a regular file, or it cannot be opened or read to its end
    TargetUnwritable, // the copy cannot be written or cannot replace the target
};

// Copies `source` over `target` without ever losing the previous target: the
// bytes go to a temporary file in the target's folder, which then replaces the
// target in one rename. When the copy could not be completed the previous
// target stays as it was, and the result says which side failed.
CopyResult replace_file_with_copy(const QString& source, const QString& target);

// Exports all three rows or none. Every copy is written whole (and synced)
// into a folder of its own inside the target folder first; only when all
// three are complete does each replace its target, by one rename, and the
// previous files are put back should a later rename fail. Returns the message
// for the user: one line per missing source ("<source> is missing"), per
// source that cannot be read ("<source> could not be read") and per copy that
// cannot be written ("<target> could not be written"), each ending in a line
// feed, in row order, then "Nothing was replaced in <target folder>"; empty
// when all three were exported.
QString export_model(const QString& training_folder, const QString& target_folder);
