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
//
// A name may be at most 255 bytes long. An escaped label longer than
// kMaxEscapedBytes bytes of UTF-8 is cut: its longest prefix (of whole escapes
// and characters) of at most kMaxEscapedBytes - kCutMarkBytes bytes, then
// "%7E" and 16 hexadecimal digits of a SHA-256 digest of the whole label. The
// escapes never write "%7E", so a cut name differs from every uncut one, and
// two long labels that share a prefix still get names of their own. With the
// crop file name's stamp, counter and extension around it the name stays
// within 255 bytes.

const int kMaxEscapedBytes = 200;
const int kCutMarkBytes = 19; // "%7E" and 16 digits

#include <QString>

// The label as it stands inside a file name (between other text: "." and
// ".." need no escape there).
QString escape_file_name(const QString& label);

// The label as a whole folder name: never "." or "..".
QString escape_folder_name(const QString& label);
