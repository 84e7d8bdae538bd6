#pragma once
// Class names become file and folder names (the crop export's file names and
// per-class sub-folders). A class name is free text from a ".gt" file or typed
// by the user, so it goes through these escapes before it reaches a path.
//
// A label that can be a name as written is used as written ("car", "50%",
// "a b", "é漢", "x\y"). Only what cannot be is escaped:
//   "/" anywhere                            -> "%2F"
//   a control character (C0, DEL, C1)       -> "%XX" per UTF-8 byte ("\t" -> "%09")
//   a lone UTF-16 surrogate (no UTF-8 form) -> "%uXXXX"
//   the empty label                         -> "%"
// and, for a whole folder name only, "." -> "%2E" and ".." -> "%2E%2E".
// So that two different labels never give one name, a "%" of the label that
// would read as one of these escapes is itself written "%25": a "%" followed
// by two hex digits or by "u" and four, and a label that is "%" alone. Any
// other "%" stays as it is. The result never contains "/" or a control
// character and is never empty, so it cannot leave the folder it is joined to.

#include <QString>

// The label as it stands inside a file name (between other text: "." and
// ".." need no escape there).
QString escape_file_name(const QString& label);

// The label as a whole folder name: never "." or "..".
QString escape_folder_name(const QString& label);
