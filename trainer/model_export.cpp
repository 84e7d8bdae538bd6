#include "model_export.h"

#include "atomic_file.h"
#include "bounded_input.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

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

CopyResult replace_file_with_copy(const QString& source, const QString& target)
{
    // Only a regular file is copied: a FIFO would block the trainer and a
    // link to a device would never end.
    QFile in;
    QString why;
    struct stat source_status {};
    if (!bounded_input::open_regular_file(source, &in, &why) || ::fstat(in.handle(), &source_status) != 0)
        return CopyResult::SourceUnreadable;
    // The copy gets the source's permissions, as a plain file copy would, and
    // is on the disk before it replaces the previous export.
    FileWriteOptions options;
    options.permissions = int(source_status.st_mode & 0777);
    options.sync = true;
    AtomicFileWriter out(target, options);
    if (!out.open())
        return CopyResult::TargetUnwritable;
    for (;;) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty())
            break;
        if (!out.write(block))
            return CopyResult::TargetUnwritable;
    }
    // A read that stops short leaves the writer uncommitted, so the previous
    // target stays.
    if (in.error() != QFileDevice::NoError || !in.atEnd())
        return CopyResult::SourceUnreadable;
    return out.commit() ? CopyResult::Copied : CopyResult::TargetUnwritable;
}

QString export_model(const QString& training_folder, const QString& target_folder)
{
    QString message;
    for (const ExportRow& row : export_rows(training_folder, target_folder)) {
        if (!QFile::exists(row.source)) {
            message += row.source + " is missing" + "\n";
            continue;
        }
        switch (replace_file_with_copy(row.source, row.target)) {
        case CopyResult::Copied:
            break;
        case CopyResult::SourceUnreadable:
            message += row.source + " could not be read" + "\n";
            break;
        case CopyResult::TargetUnwritable:
            message += row.target + " could not be written" + "\n";
            break;
        }
    }
    return message;
}
