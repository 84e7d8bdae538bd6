#pragma once
// Shared by the training-run tests: a hand-made training folder (the files of
// "data" that the train operation reads) and what the fake training
// executable recorded.

#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace trainfixture {

const QString kNone = "<none>"; // the file is not written

struct Folder {
    QString version = "V4-tiny : 2 class";
    QString classes = "2";
    QByteArray train_cfg = "[net]\nbatch=64\n";
};

// Writes data/obj.data, data/obj.names, data/train.cfg, data/test.cfg, and
// (unless kNone) data/version and data/classes.data, with an empty
// data/backup.
inline bool makeTrainingFolder(const QString& root, const Folder& f = Folder())
{
    const QString data = root + "/data";
    bool ok = testsupport::writeFile(data + "/obj.data",
                                     "classes = 2\ntrain  = data/train.txt\nvalid  = data/train.txt\n"
                                     "names = data/obj.names\nbackup = data/backup/");
    ok = ok && testsupport::writeFile(data + "/obj.names", "a\nb\n");
    ok = ok && testsupport::writeFile(data + "/train.cfg", f.train_cfg);
    ok = ok && testsupport::writeFile(data + "/test.cfg", "[net]\nbatch=1\n");
    ok = ok && testsupport::writeFile(data + "/train.txt", "");
    if (f.version != kNone)
        ok = ok && testsupport::writeFile(data + "/version", f.version.toUtf8());
    if (f.classes != kNone)
        ok = ok && testsupport::writeFile(data + "/classes.data", f.classes.toUtf8());
    return ok && QDir().mkpath(data + "/backup");
}

// What the fake executable wrote into $FAKE_DARKNET_LOG.
struct Record {
    bool valid = false;
    QString exe;
    QString cwd;
    QStringList args;
    bool term = false;
};

inline Record readRecord(const QString& path)
{
    Record r;
    const QString text = QString::fromUtf8(testsupport::readFile(path));
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("exe="))
            r.exe = line.mid(4);
        else if (line.startsWith("cwd="))
            r.cwd = line.mid(4);
        else if (line.startsWith("arg="))
            r.args << line.mid(4);
        else if (line == "term")
            r.term = true;
    }
    r.valid = !r.exe.isEmpty() && r.args.contains("-dont_show");
    return r;
}

// The processes (other than this one) whose environment holds `tag`.
inline QStringList processesTagged(const QByteArray& tag)
{
    QStringList found;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        QFile environ("/proc/" + pid + "/environ");
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().contains(tag))
            found << pid;
    }
    return found;
}

// "pid: command line" of each process, for a failure message.
inline QString describeProcesses(const QStringList& pids)
{
    QStringList out;
    for (const QString& pid : pids) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        QByteArray text;
        if (cmdline.open(QIODevice::ReadOnly))
            text = cmdline.readAll().replace('\0', ' ');
        QFile stat("/proc/" + pid + "/stat");
        QByteArray st;
        if (stat.open(QIODevice::ReadOnly))
            st = stat.readAll();
        out << pid + ": " + QString::fromUtf8(text) + " [" + QString::fromUtf8(st.left(60)) + "]";
    }
    return out.join("; ");
}

} // namespace trainfixture
