#pragma once
// Collects what the code under test prints on standard error, for the length
// of a scope or until take().

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <unistd.h>

class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    ~StderrCapture()
    {
        restore();
        if (file_)
            std::fclose(file_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QString take()
    {
        restore();
        std::rewind(file_);
        QByteArray bytes;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
            bytes.append(buf, int(n));
        return QString::fromUtf8(bytes);
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    FILE* file_ = nullptr;
};
