#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace camwarden::store {

// Files the program keeps for itself in its state folder. None is ever read
// or written through a link: one found at the name is replaced itself, and
// what it points to is left as it was.

// What the file holds; empty when there is none. None when what is at the
// name is not a plain file of the user's (a link, a FIFO, a folder) or holds
// more than `maxBytes`; *why says which.
std::optional<QByteArray> ReadStateFile(const QString& path, qint64 maxBytes, QString* why);

// Replaces the file as a whole: written aside, put on the disk and renamed
// over the name, so that a power cut leaves either the old or the new. When
// something else was at the name (a link), *replaced says what. False with
// *why when the file could not be written.
bool ReplaceStateFile(const QString& path, const QByteArray& bytes, QString* why,
                      QString* replaced);

// Adds `bytes` at the end of the file in one write, making it when it is not
// there, and puts it on the disk. False with *why when what is at the name is
// not a plain file of the user's, or the write failed.
bool AppendStateFile(const QString& path, const QByteArray& bytes, QString* why);

// Removes the copies a ReplaceStateFile of `path` left beside it when it was
// killed midway: plain files of the user's under the names it writes
// them at, and nothing else.
void RemoveLeftAsides(const QString& path);

// Removes the file; a link at the name is removed itself.
void RemoveStateFile(const QString& path);

}  // namespace camwarden::store
