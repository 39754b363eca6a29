// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file name may have 255 bytes; the partial file adds ".xxxxxx.part".
constexpr qsizetype kMaxNameBytes = 255;
const QString kPartialSuffix = QStringLiteral(".part");
constexpr int kRandomLetters = 6;

// Links followed before the name counts as a loop (as the system counts them).
constexpr int kMaxLinks = 40;

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// "<name>.<random>.part", the name shortened by whole characters when the
// whole would pass the file system's limit.
QString partialName(const QString& name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString random;
    for (int i = 0; i < kRandomLetters; ++i)
        random += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    const QString tail = u'.' + random + kPartialSuffix;
    QString stem = name;
    while (!stem.isEmpty() && encoded(stem + tail).size() > kMaxNameBytes)
        stem.chop(stem.back().isLowSurrogate() && stem.size() > 1 ? 2 : 1);
    return stem + tail;
}

// Writes all of the bytes at the offset, again after an interruption or a short write.
bool writeAllAt(int fd, const char* data, qint64 length, qint64 offset)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(length), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        length -= n;
        offset += n;
    }
    return true;
}

} // namespace

QString systemErrorText(int errnum)
{
    // The untranslated text: the messages around it are English too.
    const char* text = ::strerrordesc_np(errnum);
    QString s = text ? QString::fromLatin1(text) : QStringLiteral("error %1").arg(errnum);
    if (s.size() > 1 && s[0].isUpper() && !s[1].isUpper())
        s[0] = s[0].toLower();
    return s;
}

QString resolvedFilePath(const QString& path)
{
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (int links = 0; links <= kMaxLinks; ++links) {
        // The folders on the way as they really are, where they exist.
        const QFileInfo info(p);
        const QString folder = QFileInfo(info.path()).canonicalFilePath();
        if (!folder.isEmpty())
            p = QDir(folder).filePath(info.fileName());
        char target[PATH_MAX];
        const ssize_t n = ::readlink(encoded(p).constData(), target, sizeof target);
        if (n <= 0)
            return p; // no link (or nothing at all) by that name
        const QString next = QFile::decodeName(QByteArray(target, n));
        p = QDir::cleanPath(QDir::isAbsolutePath(next) ? next : QFileInfo(p).path() + u'/' + next);
    }
    return QString();
}

SafeFile::SafeFile(QString path) : m_path(std::move(path)) {}

SafeFile::~SafeFile()
{
    discard();
}

bool SafeFile::fail(int errnum)
{
    if (m_error.isEmpty()) {
        const QString folder = QFileInfo(m_target.isEmpty() ? m_path : m_target).absolutePath();
        if (errnum == ENOENT && !QFileInfo(folder).isDir())
            m_error = QStringLiteral("cannot write %1: the folder %2 does not exist").arg(m_path, folder);
        else
            m_error = QStringLiteral("cannot write %1: %2").arg(m_path, systemErrorText(errnum));
        setErrorString(m_error);
    }
    return false;
}

void SafeFile::removePartial()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_partial.isEmpty()) {
        ::unlink(encoded(m_partial).constData());
        m_partial.clear();
    }
}

bool SafeFile::open(OpenMode mode)
{
    if (isOpen() || (mode & ReadOnly) || !(mode & WriteOnly))
        return false;
    m_error.clear();
    m_size = 0;
    m_target = resolvedFilePath(m_path);
    if (m_target.isEmpty())
        return fail(ELOOP);
    const QFileInfo target(m_target);
    if (target.fileName().isEmpty())
        return fail(EISDIR);
    for (int attempt = 0; m_fd < 0; ++attempt) {
        const QString partial = QDir(target.path()).filePath(partialName(target.fileName()));
        m_fd = ::open(encoded(partial).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_partial = partial;
        } else if (errno != EEXIST || attempt >= 100) {
            return fail(errno);
        }
    }
    // A file that is replaced keeps its permissions.
    struct stat st = {};
    if (::stat(encoded(m_target).constData(), &st) == 0 && S_ISREG(st.st_mode))
        ::fchmod(m_fd, st.st_mode & 07777);
    return QIODevice::open(WriteOnly | Unbuffered);
}

qint64 SafeFile::readData(char*, qint64)
{
    return -1;
}

qint64 SafeFile::writeData(const char* data, qint64 length)
{
    if (m_fd < 0 || !m_error.isEmpty())
        return -1;
    const qint64 at = pos();
    if (!writeAllAt(m_fd, data, length, at)) {
        fail(errno);
        return -1;
    }
    m_size = std::max(m_size, at + length);
    return length;
}

bool SafeFile::commit()
{
    if (m_fd < 0) {
        if (m_error.isEmpty())
            fail(EBADF);
        discard();
        return false;
    }
    if (!m_error.isEmpty() || ::fsync(m_fd) != 0) {
        fail(errno);
        discard();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        fail(errno);
        discard();
        return false;
    }
    // One step from the earlier file to the new one: never a moment without either.
    if (::rename(encoded(m_partial).constData(), encoded(m_target).constData()) != 0) {
        fail(errno);
        discard();
        return false;
    }
    m_partial.clear();
    // The rename itself reaches the disk with the folder.
    const int folder =
        ::open(encoded(QFileInfo(m_target).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    QIODevice::close();
    return true;
}

void SafeFile::discard()
{
    removePartial();
    if (isOpen())
        QIODevice::close();
}

void SafeFile::close()
{
    discard();
}

bool finishFile(const QString& path, const QByteArray& bytes, QByteArray* into, QString* error)
{
    if (into) {
        *into = bytes;
        return true;
    }
    return writeFileWhole(path, bytes, error);
}

bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    SafeFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
        return true;
    if (error)
        *error = f.error();
    return false;
}
