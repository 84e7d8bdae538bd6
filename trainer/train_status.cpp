#include "train_status.h"

#include <QJsonDocument>
#include <QJsonObject>

QString elapsed_text(qint64 s)
{
    return QString("%1:%2:%3")
        .arg(s / 3600, 2, 10, QChar('0'))
        .arg((s / 60) % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

QString train_state_json(qint64 seconds, double avg_loss, qint64 iteration, bool gpu)
{
    QJsonObject state;
    state["time_str"] = elapsed_text(seconds);
    state["time_sec"] = seconds;
    state["avg"] = avg_loss;
    state["intr"] = iteration;
    state["backend"] = gpu ? "GPU" : "CPU";
    QJsonObject line;
    line["train_state"] = state;
    return QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact));
}

QString quotes_escaped(const QString& text)
{
    QString out = text;
    return out.replace('"', "\\\"");
}
