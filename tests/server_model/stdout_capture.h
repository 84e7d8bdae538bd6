#pragma once
// Captures what the process writes to standard output between start and
// stop (the server's log lines go there).

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

class StdoutCapture {
public:
    StdoutCapture()
    {
        file_.open();
        std::fflush(stdout);
        saved_ = dup(1);
        dup2(file_.handle(), 1);
    }
    ~StdoutCapture() { stop(); }
    QByteArray stop()
    {
        if (saved_ >= 0) {
            std::fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            saved_ = -1;
            file_.seek(0);
            text_ = file_.readAll();
        }
        return text_;
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
    QByteArray text_;
};
