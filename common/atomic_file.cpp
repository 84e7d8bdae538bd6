#include "atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

bool write_file_atomically(const QString& path, const QByteArray& bytes)
{
    const QFileInfo target(path);
    QTemporaryFile tmp(target.absolutePath() + "/." + target.fileName() + ".XXXXXX");
    if (!tmp.open())
        return false;
    // On failure the temporary file is removed when `tmp` goes.
    if (tmp.write(bytes) != bytes.size() || !tmp.flush())
        return false;
    // A temporary file is created 0600, which would lock other local readers out.
    tmp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    tmp.close();
    // rename(2) replaces the target, a symbolic link included, in one step.
    const QByteArray from = QFile::encodeName(tmp.fileName());
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0)
        return false;
    tmp.setAutoRemove(false);
    return true;
}
