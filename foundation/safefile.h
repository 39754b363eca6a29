// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// A file that appears whole or not at all. The bytes go to a partial file of a
// name of its own beside the target (two writers into one folder never share
// one), each write goes straight to the system and is checked as it is made,
// and commit() puts the file in place with one rename once every byte has
// reached the disk; until then an earlier file of that name stays as it was.
// A file not committed (a failed write, a stop, the end of the object) leaves
// no partial file behind. Symbolic links on the way to the target are
// followed: the file behind the link is replaced and the link stays.
//
// Errors name the target as given and the system's reason:
// "cannot write FILE: no space left on device".
class SafeFile final : public QIODevice
{
public:
    explicit SafeFile(QString path);
    ~SafeFile() override;
    Q_DISABLE_COPY_MOVE(SafeFile)

    // Creates the partial file; a device opened for writing only.
    bool open(OpenMode mode = WriteOnly) override;
    // Syncs, closes and renames the partial file over the target, each step
    // checked. False with error() after any failure here or in a write before:
    // the target is then untouched and the partial file removed.
    bool commit();
    // Drops what was written. close() does the same on a file not committed.
    void discard();
    void close() override;

    // Empty while every step succeeded.
    QString error() const { return m_error; }
    QString path() const { return m_path; }
    // Where the bytes are until commit(); empty when no partial file exists.
    QString partialPath() const { return m_partial; }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 length) override;

private:
    // Keeps the first failure; always false.
    bool fail(int errnum);
    void removePartial();

    QString m_path;    // as given, for messages
    QString m_target;  // the links followed
    QString m_partial; // the partial file while it exists
    QString m_error;
    int m_fd = -1;
    qint64 m_size = 0;
};

// Writes the bytes to PATH through a SafeFile. False with *error when not.
bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* error);
// The last step of a writer that can also hand its file back: the finished
// bytes go into *into when it is given (for standard output or a pipe, which
// the caller writes), else to PATH through writeFileWhole().
bool finishFile(const QString& path, const QByteArray& bytes, QByteArray* into, QString* error);

// PATH absolute with every symbolic link followed: the folders on the way, the
// file itself and links to links, also a link to a file that does not exist
// yet (whose name is then where the file would appear). Empty for a loop of
// links.
QString resolvedFilePath(const QString& path);

// The system's text for an error number in lower case ("no space left on
// device"), the same whatever the language of the session.
QString systemErrorText(int errnum);
