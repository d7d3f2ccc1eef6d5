#include "ProgramState.h"

#include <QDir>
#include <QLocale>

#include "Data.h"

ProgramState::ProgramState() : m_before(QDir::currentPath()) {
    m_entered = m_dir.isValid() && QDir::setCurrent(m_dir.path());
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
}

ProgramState::~ProgramState() {
    QDir::setCurrent(m_before);
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
}
