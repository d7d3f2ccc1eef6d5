#pragma once

// What the kernel says about the test process itself: its resident memory,
// its open file descriptors and the serial-port lock files, read from /proc
// and the lock folder, so that long runs can show that nothing piles up.

#include <QString>
#include <QStringList>

// VmRSS of /proc/self/status in KiB; -1 when it cannot be read.
qint64 residentKiB();

// Entries of /proc/self/fd (the descriptor used to list them excluded).
int openDescriptorCount();

// Our descriptor open on the device the path names (links followed, as a
// port open does), or -1; the first one when there are several.
int descriptorOnDevice(const QString& path);

// Bytes received on a terminal descriptor and not yet read (FIONREAD); -1 on
// failure.
int pendingInputBytes(int fd);

// The folder where QSerialPort keeps its lock files on this machine: the
// first of the folders Qt tries that is writable.
QString serialLockFolder();

// Names of the lock files ("LCK..*") in the lock folder.
QStringList serialLockFiles();

// The lock file the program takes for the port it reaches by this path.
QString serialLockFileFor(const QString& portPath);
