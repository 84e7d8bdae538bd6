#pragma once
// Cases that need a file system of their own (a full ext2, a small tmpfs) run
// in a mount namespace of their own, as `unshare -m` makes one: what they mount
// there, loop images included, reaches no other process and goes when they end.

#include <QByteArray>
#include <QString>

#include <functional>

namespace testsupport {

enum class PrivateRun {
    Ran,         // `work` ran; what it returned is in *result
    Unavailable, // no namespace of its own here (not root, or refused): skip
    Failed,      // the child died before it could report
};

// Runs `work` in a forked child in a private mount namespace with a fresh
// tmpfs on /tmp (empty, but for the top folder of a build tree that lies
// under /tmp, bound back at its own path so that its programs can be run), and hands back the bytes it returns in *result (for the test
// to compare: the child's files are gone with it). *why gets the reason when
// the run is Unavailable or Failed.
PrivateRun runInPrivateMountNamespace(const std::function<QByteArray()>& work, QByteArray* result, QString* why);

// Moves the calling thread, for the rest of the process, into such a
// namespace (the same steps, without a fork): every process it starts from
// then on shares it. For a test whose every case runs there (call it from the
// thread that starts the programs, before it starts any). Empty on success,
// else why not: skip.
QString enterPrivateMountNamespace();

// Within such a namespace: makes an ext2 file system of `bytes` in an image
// under /tmp (1 KiB blocks, none kept back for root, so every user sees the
// same free blocks) and mounts it on the folder `dir` through a loop device
// that is let go with the mount (mkfs.ext2, mount -o loop). Empty on success,
// else why not (no mkfs.ext2, no loop device, no ext2 in the kernel).
QString mountExt2Image(const QString& dir, qint64 bytes);

} // namespace testsupport
