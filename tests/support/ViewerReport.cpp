#include "ViewerReport.h"

#include <QProcess>
#include <QProcessEnvironment>

QString viewerReportText(const QString& tkviewPath, const QString& pdftotextPath,
                         const QString& pdf, const QStringList& arguments, const QString& zone,
                         QString* errors, int* status) {
    constexpr int waitMs = 30000;
    QProcess tkview;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), zone);
    tkview.setProcessEnvironment(environment);
    tkview.start(tkviewPath, QStringList{QStringLiteral("--report"), pdf} + arguments);
    if (!tkview.waitForFinished(waitMs) || tkview.exitStatus() != QProcess::NormalExit)
        return {};
    if (status)
        *status = tkview.exitCode();
    if (errors != nullptr)
        *errors = QString::fromUtf8(tkview.readAllStandardError());
    QProcess pdftotext;
    pdftotext.start(pdftotextPath, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(waitMs) || pdftotext.exitCode() != 0)
        return {};
    return QString::fromUtf8(pdftotext.readAllStandardOutput())
        .replace(QChar(0xFB01), QLatin1String("fi"))
        .simplified();
}
