// Modal dialogs of the wizard behind one small interface, so that every flow
// runs the same with the real Qt dialogs (the program) and with scripted
// answers (the tests).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

namespace pelorim {

inline const QString kProgramTitle = QStringLiteral("Pelorim");

// What the open-file dialog is asked to show.
struct OpenFileRequest {
    QString initialFolder;
    QString filter;  // toolkit form: "description|pattern|description|pattern..."
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal message box with one OK button and the title "Pelorim"; returns when it is closed.
    virtual void message(QWidget* owner, const QString& text) = 0;
    // A modal open-file dialog; returns the chosen file's full path, or an empty text when cancelled.
    virtual QString openFile(QWidget* owner, const OpenFileRequest& request) = 0;
};

// The real dialogs: QMessageBox and QFileDialog.
class QtDialogs final : public Dialogs {
public:
    void message(QWidget* owner, const QString& text) override;
    QString openFile(QWidget* owner, const OpenFileRequest& request) override;
};

struct FileFilter {
    QString description;
    QString pattern;  // ";"-separated patterns as written; may be empty or blank
};

// Splits the toolkit's filter text into (description, pattern) pairs. A
// trailing description without a pattern gets an empty pattern.
std::vector<FileFilter> parseToolkitFilter(const QString& filter);

// The same filters in Qt's "description (pattern pattern)" form. An empty or
// blank pattern matches every file ("*"); a description that already ends in
// "(pattern)" is kept as it is.
QStringList toQtNameFilters(const QString& filter);

// The open-file dialog control: set InitDir and Filter, call ShowOpen, read
// FileName (full path) and FileTitle (bare name); both are empty after a cancel.
class CommonDialog : public QObject {
    Q_OBJECT
public:
    CommonDialog(Dialogs& dialogs, QWidget* owner);

    QString InitDir;
    QString Filter;

    void ShowOpen();
    const QString& FileName() const { return fileName_; }
    const QString& FileTitle() const { return fileTitle_; }

private:
    Dialogs& dialogs_;
    QWidget* owner_;
    QString fileName_;
    QString fileTitle_;
};

}  // namespace pelorim
