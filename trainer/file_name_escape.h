#pragma once
// Class names become file and folder names (the crop export's per-class
// sub-folders and file names). A class name is free text from a ".gt" file or
// typed by the user, so it goes through this escape before it reaches a path.

#include <QString>

// Escapes a label for use as one path component, injectively (two different
// labels never give the same name, so they never share a file):
//   "%"                        -> "%25"
//   "/"                        -> "%2F"
//   control characters (C0, DEL, C1) -> "%XX" per UTF-8 byte ("\t" -> "%09")
//   a label that is exactly "." or ".." -> "%2E" or "%2E%2E"
//   a lone UTF-16 surrogate (no UTF-8 form) -> "%uXXXX"
// Everything else, ordinary labels included, is unchanged, so "car" stays
// "car" and "é漢" or "x\y" stay as they are. The result never contains "/"
// and is never "." or "..", so it cannot leave the folder it is joined to.
QString escape_file_name(const QString& label);
