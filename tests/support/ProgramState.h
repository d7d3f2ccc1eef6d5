#pragma once

// What a test of a whole program starts from and leaves behind: a working
// folder of its own (where conf.ini and the recordings go), the C locale and
// the program-wide variables as before start-up. The folder before is the
// current one again when it goes.

#include <QString>
#include <QTemporaryDir>

class ProgramState {
public:
    ProgramState();
    ~ProgramState();
    ProgramState(const ProgramState&) = delete;
    ProgramState& operator=(const ProgramState&) = delete;

    // The folder was made and is the current one.
    bool isValid() const { return m_entered; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_before;
    bool m_entered = false;
};
