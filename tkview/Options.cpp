#include "Options.h"

namespace tkview {

std::variant<Options, QString> parseOptions(const QStringList& arguments, const QTimeZone&) {
    Options options;
    options.paths = arguments;
    return options;
}

QString usageText() {
    return {};
}

QString versionNumber() {
    return QStringLiteral(TK_VERSION);
}

} // namespace tkview
