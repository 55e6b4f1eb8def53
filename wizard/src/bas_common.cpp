#include "bas_common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime_error.h"

namespace pelorim {

QString unquotedText(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ') ++first;
    while (last > first && text[last - 1] == u' ') --last;
    QString result = text.mid(first, last - first);
    if (!result.isEmpty() && result.front() == u'"' && result.back() == u'"') {
        result = result.size() >= 2 ? result.mid(1, result.size() - 2) : QString();
    }
    return result;
}

bool fileCanBeOpened(const QString& path) {
    QString bare = unquotedText(path);
    if (bare.endsWith(u'\\') || bare.endsWith(u'/')) bare.chop(1);
    if (bare.isEmpty()) return false;
    const QByteArray native = bare.toLocal8Bit();
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    const bool ok = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    ::close(fd);
    return ok;
}

QString shortPathOf(const QString& path) { return path; }

QString textBeforeNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

void killWinTemp(const QString& name, const QString& windowsFolder) {
    QString folder = windowsFolder;
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    if (folder.isEmpty() || folder == u"/") return;
    if (name.isEmpty() || name == u"." || name == u".." || name.contains(u'/')) return;

    const QString path = folder + u'/' + name;
    if (!fileCanBeOpened(path)) return;
    const QByteArray native = path.toLocal8Bit();
    struct stat info {};
    if (::stat(native.constData(), &info) == 0 && (info.st_mode & S_IWUSR) == 0) {
        if (::chmod(native.constData(), info.st_mode | S_IWUSR) != 0) {
            throw FileError("cannot clear the read-only state of " + native.toStdString() + ": " + std::strerror(errno));
        }
    }
    if (::unlink(native.constData()) != 0) {
        throw FileError("cannot delete " + native.toStdString() + ": " + std::strerror(errno));
    }
}

}  // namespace pelorim
