#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

#include <cstdio>

#include "CompareWindow.h"
#include "FolderChecks.h"
#include "HeadlessExport.h"
#include "Options.h"
#include "Verification.h"
#include "ViewerWindow.h"

namespace {

void printLine(FILE* stream, const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

// A line of what reading or exporting found: file names and batches come
// from outside and may hold terminal control sequences.
void sayEscaped(const QString& line) {
    printLine(stderr, QStringLiteral("tkview: ") + sealing::escapedText(line));
}

} // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto parsed = tkview::parseOptions(arguments);
    if (const QString* error = std::get_if<QString>(&parsed)) {
        printLine(
            stderr,
            QStringLiteral("tkview: %1\nTry \"tkview --help\".").arg(sealing::escapedText(*error)));
        return tkview::exitBadOption;
    }
    const tkview::Options& options = *std::get_if<tkview::Options>(&parsed);
    if (options.help) {
        std::fputs(qPrintable(tkview::usageText()), stdout);
        return tkview::exitDone;
    }
    if (options.version) {
        printLine(stdout, QStringLiteral("tkview ") + tkview::versionNumber());
        return tkview::exitDone;
    }
    if (options.verify) {
        const QStringList files = sealing::filesToVerify(options.paths);
        if (files.isEmpty()) {
            printLine(stderr, QStringLiteral("tkview: --verify needs files or folders"));
            return tkview::exitBadOption;
        }
        QString problem;
        sealing::TrustedKeys trusted =
            sealing::TrustedKeys::fromFile(sealing::TrustedKeys::systemPath(), &problem);
        if (!problem.isEmpty())
            printLine(stderr, QStringLiteral("tkview: ") + sealing::escapedText(problem));
        for (const QString& key : options.trust) {
            if (!trusted.add(key, QStringLiteral("a key given with --trust"), &problem)) {
                printLine(stderr,
                          QStringLiteral("tkview: --trust: ") + sealing::escapedText(problem));
                return tkview::exitBadOption;
            }
        }
        bool allIntact = true;
        bool allTrusted = true;
        for (const QString& file : files) {
            const sealing::Verdict verdict = sealing::verifyFile(file, trusted);
            allIntact = allIntact && verdict.intact();
            allTrusted = allTrusted && verdict.trusted();
            printLine(stdout, sealing::escapedText(file) + QStringLiteral(": ") +
                                  sealing::verdictText(verdict));
        }
        const QStringList findings = tkview::folderChecks(options);
        for (const QString& finding : findings)
            printLine(stdout, sealing::escapedText(finding));
        if (const QString limits = tkview::folderLimits(options); !limits.isEmpty())
            printLine(stdout, limits);
        if (!allIntact || !findings.isEmpty())
            return tkview::exitFileFailed;
        return allTrusted ? tkview::exitDone : tkview::exitUntrusted;
    }
    if (options.compare && options.headless()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication application(argc, argv);
        return tkview::compareWithoutWindow(options, sayEscaped);
    }
    if (options.headless()) {
        // No display needed: for scripts, scheduled jobs and servers.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication application(argc, argv);
        return tkview::exportWithoutWindow(options, sayEscaped);
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tkview"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.tkcontrol.tkview"));
    // The program's icon, as installed with the menu entry.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.tkcontrol.tkcontrol")));
    if (options.compare) {
        tkview::CompareWindow compared(tkview::compareRuns(
            tkview::runArguments(options.paths),
            options.alignAtSetpoint ? tkview::Align::Setpoint : tkview::Align::Start));
        compared.show();
        return QApplication::exec();
    }
    tkview::ViewerWindow window;
    window.show();
    if (!options.paths.isEmpty())
        window.openPaths(options.paths);
    return QApplication::exec();
}
