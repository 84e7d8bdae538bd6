#include "log_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryFile>

#include <cstdio>

QByteArray log_line_text(QJsonObject log, const QDateTime& now)
{
    log.insert("datatime", now.toString("yyyy-MM-dd hh:mm:ss"));
    return QJsonDocument(log).toJson(QJsonDocument::Compact);
}

bool write_file_atomically(const QString& path, const QByteArray& bytes)
{
    const QFileInfo target(path);
    QTemporaryFile tmp(target.absolutePath() + "/." + target.fileName() + ".XXXXXX");
    if (!tmp.open())
        return false;
    if (tmp.write(bytes) != bytes.size() || !tmp.flush()) {
        tmp.remove();
        return false;
    }
    // A fresh file gets the permissions a plain create would give (0600 for
    // a temporary file would lock other local readers out).
    tmp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    tmp.close();
    // rename() replaces the target atomically and never follows a link there.
    if (std::rename(QFile::encodeName(tmp.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        tmp.remove();
        return false;
    }
    tmp.setAutoRemove(false);
    return true;
}
