#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <memory>

namespace testsupport {

void answerNextModal(std::function<void(QWidget*)> action, int timeoutMs)
{
    auto timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, action, timeoutMs]() {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(w);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            qWarning("answerNextModal: no modal window within %d ms", timeoutMs);
        }
    });
    timer->start();
}

void clickNextMessageBox(QMessageBox::StandardButton button, QString* text)
{
    answerNextModal([button, text](QWidget* w) {
        auto box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            qWarning("clickNextMessageBox: the modal window is a %s", w->metaObject()->className());
            w->close();
            return;
        }
        if (text)
            *text = box->text();
        QAbstractButton* b = box->button(button);
        if (b)
            b->click();
        else
            box->reject();
    });
}

ExchangeFileGuard::ExchangeFileGuard(const QStringList& paths)
{
    for (const QString& p : paths) {
        Saved s;
        s.path = p;
        QFileInfo fi(p);
        s.existed = fi.exists() || fi.isSymLink();
        s.isDir = fi.isDir() && !fi.isSymLink();
        if (s.existed && !s.isDir)
            s.content = readFile(p);
        if (s.isDir)
            QDir(p).removeRecursively();
        else
            QFile::remove(p);
        saved_.push_back(s);
    }
}

ExchangeFileGuard::~ExchangeFileGuard()
{
    for (const Saved& s : saved_) {
        QFileInfo fi(s.path);
        if (fi.isDir() && !fi.isSymLink())
            QDir(s.path).removeRecursively();
        else
            QFile::remove(s.path);
        if (!s.existed)
            continue;
        if (s.isDir)
            QDir().mkpath(s.path);
        else
            writeFile(s.path, s.content);
    }
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value, bool unset) : name_(name)
{
    had_ = qEnvironmentVariableIsSet(name);
    old_ = qgetenv(name);
    if (unset)
        qunsetenv(name);
    else
        qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        qputenv(name_.constData(), old_);
    else
        qunsetenv(name_.constData());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

} // namespace testsupport
