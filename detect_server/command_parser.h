#pragma once
// The command file's text and the commands it can hold.

#include <QByteArray>
#include <QString>

struct ServerCommand {
    enum Kind { None, Update, Test, Exit };
    Kind kind = None;
    bool has_argument = false; // "update,DIR" / "test,FILE"; without, the window's field is used
    QString argument;          // as written: not trimmed, may be empty
};

// The bytes of the command file as text: their UTF-8 reading up to the first
// NUL byte, with every carriage return and line feed removed wherever it
// stands.
QString command_text(const QByteArray& bytes);

// Splits at every comma (empty fields kept, nothing trimmed) and matches the
// first field exactly, letter case included, with the exact field count:
// "update", "update,DIR", "test", "test,FILE", "exit". Anything else is None.
ServerCommand parse_command(const QString& text);
