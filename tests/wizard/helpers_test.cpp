// Housekeeping helpers and the dialog interface.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include "bas_common.h"
#include "dialogs.h"
#include "harness.h"
#include "runtime_error.h"

using namespace wizard_test;

namespace {

QString makeFile(const QString& path, QFile::Permissions permissions = {}) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write("data");
    file.close();
    if (permissions) file.setPermissions(permissions);
    return path;
}

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        if (old != nullptr) old_ = old, hadOld_ = true;
        if (value != nullptr) ::setenv(name, value, 1); else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (hadOld_) ::setenv(name_, old_.c_str(), 1); else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace

class HelpersTest : public QObject {
    Q_OBJECT
private slots:
    void unquotedTextStripsBlanksAndOnePairOfQuotes() {
        QCOMPARE(pelorim::unquotedText(QStringLiteral("  \"/tmp/a b\"  ")), QStringLiteral("/tmp/a b"));
        QCOMPARE(pelorim::unquotedText(QStringLiteral("\"\"x\"\"")), QStringLiteral("\"x\""));
        QCOMPARE(pelorim::unquotedText(QStringLiteral("\"half")), QStringLiteral("\"half"));
        QCOMPARE(pelorim::unquotedText(QStringLiteral("\"")), QString());
        QCOMPARE(pelorim::unquotedText(QStringLiteral("   ")), QString());
        QCOMPARE(pelorim::unquotedText(QStringLiteral("\tx\t")), QStringLiteral("\tx\t"));  // blanks only
    }

    void fileCanBeOpenedTestsTheBarePath() {
        QTemporaryDir dir;
        const QString file = makeFile(dir.filePath(QStringLiteral("image file.img")));
        QVERIFY(!file.isEmpty());
        QVERIFY(pelorim::fileCanBeOpened(file));
        QVERIFY(pelorim::fileCanBeOpened(QStringLiteral("\"") + file + QStringLiteral("\"")));
        QVERIFY(pelorim::fileCanBeOpened(QStringLiteral("  \"") + file + QStringLiteral("\"  ")));
        QVERIFY(pelorim::fileCanBeOpened(QStringLiteral("   ") + file));
        QVERIFY(!pelorim::fileCanBeOpened(file + QStringLiteral("x")));
        QVERIFY(!pelorim::fileCanBeOpened(QString()));
        QVERIFY(!pelorim::fileCanBeOpened(QStringLiteral("\"\"")));
        // One trailing separator is dropped, not two.
        QVERIFY(pelorim::fileCanBeOpened(file + QStringLiteral("/")));
        QVERIFY(pelorim::fileCanBeOpened(file + QStringLiteral("\\")));
        QVERIFY(!pelorim::fileCanBeOpened(file + QStringLiteral("//")));
    }

    void foldersCannotBeOpened() {
        QTemporaryDir dir;
        QVERIFY(!pelorim::fileCanBeOpened(dir.path()));
        QVERIFY(!pelorim::fileCanBeOpened(dir.path() + QStringLiteral("/")));
        QVERIFY(!pelorim::fileCanBeOpened(dir.path() + QStringLiteral("\\")));
        QVERIFY(!pelorim::fileCanBeOpened(QStringLiteral("\"") + dir.path() + QStringLiteral("/\"")));
        QVERIFY(!pelorim::fileCanBeOpened(QStringLiteral("/")));
    }

    void readOnlyFileCanBeOpened() {
        QTemporaryDir dir;
        const QString file = makeFile(dir.filePath(QStringLiteral("ro.img")), QFile::ReadOwner | QFile::ReadGroup);
        QVERIFY(!(QFileInfo(file).permissions() & QFile::WriteOwner));
        QVERIFY(pelorim::fileCanBeOpened(file));
    }

    void fifoDoesNotBlock() {
        // Opening a FIFO for reading without a writer would wait forever.
        QTemporaryDir dir;
        const QByteArray fifo = dir.filePath(QStringLiteral("fifo")).toLocal8Bit();
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QVERIFY(pelorim::fileCanBeOpened(QString::fromLocal8Bit(fifo)));
    }

    void shortPathAndNul() {
        QCOMPARE(pelorim::shortPathOf(QStringLiteral("/no/such/folder")), QStringLiteral("/no/such/folder"));
        QCOMPARE(pelorim::shortPathOf(QDir::tempPath()), QDir::tempPath());
        QCOMPARE(pelorim::textBeforeNul(QStringLiteral("abc")), QStringLiteral("abc"));
        QCOMPARE(pelorim::textBeforeNul(QString::fromLatin1("ab\0cd", 5)), QStringLiteral("ab"));
        QCOMPARE(pelorim::textBeforeNul(QString::fromLatin1("\0cd", 3)), QString());
    }

    void killWinTempWithoutWindirDoesNothing() {
        // Without Windir the path would be "/name": nothing at the root is ever touched.
        const QString probe = QStringLiteral("/pelorim_kill_probe.hex");
        const bool canWriteRoot = ::access("/", W_OK) == 0;
        if (canWriteRoot) QVERIFY(!makeFile(probe).isEmpty());
        QTemporaryDir dir;
        const QString previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString local = makeFile(dir.filePath(QStringLiteral("pelorim_kill_probe.hex")));
        for (const char* windir : {static_cast<const char*>(nullptr), "", "/", "//"}) {
            ScopedEnv env("Windir", windir);
            Harness h;
            h->killWinTemp(QStringLiteral("pelorim_kill_probe.hex"));
            if (canWriteRoot) QVERIFY(QFile::exists(probe));
            QVERIFY(QFile::exists(local));
        }
        if (canWriteRoot) QFile::remove(probe);
        QDir::setCurrent(previousFolder);
    }

    void killWinTempDeletesReadOnlyFile() {
        QTemporaryDir dir;
        const QString target = makeFile(dir.filePath(QStringLiteral("tq318.hex")), QFile::ReadOwner);
        const QString other = makeFile(dir.filePath(QStringLiteral("tq318.exe")));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("folder.hex"))));
        ScopedEnv env("Windir", dir.path().toLocal8Bit().constData());
        Harness h;
        h->killWinTemp(QStringLiteral("missing.hex"));  // nothing there: nothing happens
        h->killWinTemp(QStringLiteral("folder.hex"));   // a folder is not a file
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder.hex"))).isDir());
        h->killWinTemp(QStringLiteral("tq318.hex"));
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::exists(other));
        // A trailing slash on Windir makes no difference.
        const QString again = makeFile(dir.filePath(QStringLiteral("again.hex")), QFile::ReadOwner);
        pelorim::killWinTemp(QStringLiteral("again.hex"), dir.path() + QStringLiteral("/"));
        QVERIFY(!QFile::exists(again));
        // Names that are not bare file names are refused.
        pelorim::killWinTemp(QStringLiteral("../") + QFileInfo(other).fileName(), dir.path() + QStringLiteral("/x"));
        QVERIFY(QFile::exists(other));
    }

    void killWinTempFailureIsARuntimeError() {
        // Files of /proc/self can be opened but neither changed nor deleted, even by root.
        QVERIFY(pelorim::fileCanBeOpened(QStringLiteral("/proc/self/status")));
        QVERIFY_THROWS_EXCEPTION(pelorim::FileError,
                                 pelorim::killWinTemp(QStringLiteral("status"), QStringLiteral("/proc/self")));
        QVERIFY_THROWS_EXCEPTION(pelorim::RuntimeError,
                                 pelorim::killWinTemp(QStringLiteral("cmdline"), QStringLiteral("/proc/self")));
    }

    void toolkitFiltersBecomeQtFilters() {
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("IMG Files (*.img)|*.img|All ")),
                 (QStringList{"IMG Files (*.img)", "All (*)"}));
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ")),
                 (QStringList{"HEX Files (*.hex)", "EXE Files (*.exe)", "All (*)"}));
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("Text|*.txt;*.log")), QStringList{"Text (*.txt *.log)"});
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("Logs (*.txt)|*.log")), QStringList{"Logs (*.txt) (*.log)"});
        QCOMPARE(pelorim::toQtNameFilters(QString()), QStringList{"All (*)"});
        const auto parsed = pelorim::parseToolkitFilter(QStringLiteral("IMG Files (*.img)|*.img|All "));
        QCOMPARE(parsed.size(), std::size_t(2));
        QCOMPARE(parsed[1].description, QStringLiteral("All "));
        QCOMPARE(parsed[1].pattern, QString());
    }

    void commonDialogReportsPathAndTitleOrNothing() {
        Harness h;
        h.dialogs->fileAnswers = {QStringLiteral("/images/os/tq318.img"), QString()};
        h->CommonDialog1->InitDir = QStringLiteral("/images");
        h->CommonDialog1->Filter = QStringLiteral("IMG Files (*.img)|*.img|All ");
        h->CommonDialog1->ShowOpen();
        QCOMPARE(h->CommonDialog1->FileName(), QStringLiteral("/images/os/tq318.img"));
        QCOMPARE(h->CommonDialog1->FileTitle(), QStringLiteral("tq318.img"));
        QCOMPARE(h.dialogs->fileRequests.at(0).initialFolder, QStringLiteral("/images"));
        QCOMPARE(h.dialogs->fileRequests.at(0).filter, QStringLiteral("IMG Files (*.img)|*.img|All "));
        h->CommonDialog1->ShowOpen();  // cancelled
        QCOMPARE(h->CommonDialog1->FileName(), QString());
        QCOMPARE(h->CommonDialog1->FileTitle(), QString());
    }

    void qtMessageBoxHasOneOkButtonAndTheProgramTitle() {
        pelorim::QtDialogs dialogs;
        QWidget owner;
        owner.show();
        QString title, text;
        int buttons = -1;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr);
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            title = box->windowTitle();
            text = box->text();
            buttons = static_cast<int>(box->buttons().size());
            modal = box->isModal();
            box->button(QMessageBox::Ok)->click();
        });
        dialogs.message(&owner, QStringLiteral("Upgrade Successed."));
        QCOMPARE(title, QStringLiteral("Pelorim"));
        QCOMPARE(text, QStringLiteral("Upgrade Successed."));
        QCOMPARE(buttons, 1);
        QVERIFY(modal);
    }

    void qtFileDialogStartsInTheFolderWithTheFilters() {
        pelorim::QtDialogs dialogs;
        QTemporaryDir dir;
        QStringList filters;
        QString folder;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr);
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            filters = dialog->nameFilters();
            folder = dialog->directory().absolutePath();
            dialog->reject();
        });
        const QString chosen = dialogs.openFile(nullptr, {dir.path(), QStringLiteral("IMG Files (*.img)|*.img|All ")});
        QCOMPARE(chosen, QString());  // cancelled
        QCOMPARE(filters, (QStringList{"IMG Files (*.img)", "All (*)"}));
        QCOMPARE(folder, QDir(dir.path()).absolutePath());
    }
};

int runHelperTests(int argc, char** argv) {
    HelpersTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "helpers_test.moc"
