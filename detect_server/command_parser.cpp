#include "command_parser.h"

#include <QStringList>

QString command_text(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes.constData(), static_cast<int>(qstrnlen(bytes.constData(), bytes.size())));
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

ServerCommand parse_command(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    ServerCommand cmd;
    const QString& word = fields.first();
    if (fields.size() == 1) {
        if (word == QLatin1String("update"))
            cmd.kind = ServerCommand::Update;
        else if (word == QLatin1String("test"))
            cmd.kind = ServerCommand::Test;
        else if (word == QLatin1String("exit"))
            cmd.kind = ServerCommand::Exit;
    } else if (fields.size() == 2 && (word == QLatin1String("update") || word == QLatin1String("test"))) {
        cmd.kind = word == QLatin1String("update") ? ServerCommand::Update : ServerCommand::Test;
        cmd.has_argument = true;
        cmd.argument = fields.at(1);
    }
    return cmd;
}
