#include "dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

namespace pelorim {

void QtDialogs::message(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kProgramTitle, text, QMessageBox::Ok, owner);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

QString QtDialogs::openFile(QWidget* owner, const OpenFileRequest& request) {
    QFileDialog dialog(owner, kProgramTitle, request.initialFolder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(toQtNameFilters(request.filter));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

std::vector<FileFilter> parseToolkitFilter(const QString& filter) {
    std::vector<FileFilter> result;
    if (filter.isEmpty()) return result;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        result.push_back({parts[i], i + 1 < parts.size() ? parts[i + 1] : QString()});
    }
    return result;
}

QStringList toQtNameFilters(const QString& filter) {
    QStringList result;
    for (const FileFilter& f : parseToolkitFilter(filter)) {
        QStringList patterns;
        for (const QString& p : f.pattern.split(u';')) {
            if (!p.trimmed().isEmpty()) patterns << p.trimmed();
        }
        const QString joined = patterns.isEmpty() ? QStringLiteral("*") : patterns.join(u' ');
        const QString description = f.description.trimmed();
        if (description.endsWith(u'(' + joined + u')')) {
            result << description;
        } else {
            result << (description.isEmpty() ? joined : description) + QStringLiteral(" (") + joined + QLatin1Char(')');
        }
    }
    if (result.isEmpty()) result << QStringLiteral("All (*)");
    return result;
}

CommonDialog::CommonDialog(Dialogs& dialogs, QWidget* owner) : QObject(owner), dialogs_(dialogs), owner_(owner) {}

void CommonDialog::ShowOpen() {
    fileName_ = dialogs_.openFile(owner_, {InitDir, Filter});
    fileTitle_ = fileName_.isEmpty() ? QString() : QFileInfo(fileName_).fileName();
}

}  // namespace pelorim
