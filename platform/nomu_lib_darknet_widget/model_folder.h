#pragma once
// Reading an exported model folder as the trainer's export writes it:
// "test.cfg" (plain, or protected: a clear head, "<-<+>->", the cipher text of
// the body), "train.weights" and "obj.names". Everything stays in memory, so
// the deciphered text of a protected description never lands on disk.

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

struct ModelFiles {
    std::string cfg_text;                 // the description, deciphered when it was protected
    std::string weights;                  // the bytes of train.weights
    std::vector<std::string> class_names; // obj.names, one per line, UTF-8
};

// The description in clear. A plain text is returned as it stands; a
// protected one becomes head + "\n" + deciphered body, as the trainer builds
// it for its own training run. False when the text after the separator does
// not decipher with the shared key (damaged, or another key).
bool description_in_clear(const QString& text, QString* clear);

// The class names of obj.names: split at line feeds, a carriage return before
// a line feed dropped, the empty piece after the last line feed dropped.
std::vector<std::string> parse_names(const QByteArray& bytes);

// Reads the three files of `dir`, each named dir + "/" + file as the server
// builds its own weights path. False with a reason when a file is missing or
// unreadable or the description does not decipher.
bool read_model_folder(const QString& dir, ModelFiles* out, QString* error);
