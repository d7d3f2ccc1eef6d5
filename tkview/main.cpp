#include <QCoreApplication>

#include <cstdio>

#include "Options.h"

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const auto parsed = tkview::parseOptions(QCoreApplication::arguments().mid(1));
    if (std::get_if<QString>(&parsed))
        return tkview::exitBadOption;
    return tkview::exitDone;
}
