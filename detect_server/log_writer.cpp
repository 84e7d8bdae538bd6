#include "log_writer.h"

#include <QJsonDocument>

QByteArray log_line_text(QJsonObject log, const QDateTime& now)
{
    log.insert("datatime", now.toString("yyyy-MM-dd hh:mm:ss"));
    return QJsonDocument(log).toJson(QJsonDocument::Compact);
}
