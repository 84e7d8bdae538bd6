#pragma once
// Reading an exported model folder as the trainer's export writes it:
// "test.cfg" (plain, or protected: a clear head, "<-<+>->", the cipher text of
// the body), "train.weights" and "obj.names". Everything stays in memory, so
// the deciphered text of a protected description never lands on disk.

#include "darknet_cfg.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
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
// builds its own weights path, each only when it is a regular file within its
// limit (the model folder's limits of input_limits.h). False with a reason (naming the limit where one was passed)
// when a file is missing, not a regular file, unreadable or too large, when
// obj.names holds more than kModelClassNames names, or when the description
// does not decipher. The description is read first: `weights_size_ok`, when
// given, is asked with the description in clear and the size of the opened
// train.weights before a byte of it is read, and its false (with the reason
// in *error) refuses the folder.
using WeightsSizeCheck = std::function<bool(const std::string& cfg_text, qint64 weights_bytes, QString* error)>;
bool read_model_folder(const QString& dir, ModelFiles* out, QString* error,
                       const WeightsSizeCheck& weights_size_ok = WeightsSizeCheck());
