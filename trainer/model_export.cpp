#include "model_export.h"

#include "bounded_input.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

QVector<ExportRow> export_rows(const QString& L, const QString& D)
{
    return {{L + "/data/obj.names", D + "/obj.names"},
            {L + "/data/test.cfg", D + "/test.cfg"},
            {L + "/data/backup/train.backup", D + "/train.weights"}};
}

bool is_training_data_folder(const QString& training_folder, const QString& target_folder)
{
    const QString data = QFileInfo(training_folder + "/data").canonicalFilePath();
    const QString target = QFileInfo(target_folder).canonicalFilePath();
    return !data.isEmpty() && data == target;
}

bool replace_file_with_copy(const QString& source, const QString& target)
{
    // Only a regular file is copied: a FIFO would block the trainer and a
    // link to a device would never end.
    QFile in;
    QString why;
    if (!bounded_input::open_regular_file(source, &in, &why))
        return false;
    const QFileInfo target_info(target);
    QTemporaryFile out(target_info.absolutePath() + "/." + target_info.fileName() + ".XXXXXX");
    if (!out.open())
        return false;
    for (;;) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty())
            break;
        if (out.write(block) != block.size())
            return false;
    }
    if (in.error() != QFileDevice::NoError || !in.atEnd() || !out.flush() || ::fsync(out.handle()) != 0)
        return false;
    // The copy gets the source's permissions, as a plain file copy would.
    out.setPermissions(in.permissions());
    // rename(2) replaces the target in one step; a target that is a symbolic
    // link is replaced by the copy, never written through.
    if (::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return false;
    out.setAutoRemove(false);
    return true;
}

QString export_model(const QString& training_folder, const QString& target_folder)
{
    QString message;
    for (const ExportRow& row : export_rows(training_folder, target_folder)) {
        if (!QFile::exists(row.source)) {
            message += row.source + " is missing" + "\n";
            continue;
        }
        if (!replace_file_with_copy(row.source, row.target))
            message += row.target + " could not be written" + "\n";
    }
    return message;
}
