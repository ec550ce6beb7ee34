#pragma once

#include <QString>
#include <memory>

namespace camwarden::store {

// The file one clip is written into. It is created exclusively, so a clip
// never writes over another file or through a link planted at its name; the
// pipeline writes into the descriptor held here.
class ClipFile {
public:
    // Creates `wanted`, or when that name is taken the same name with " (2)",
    // " (3)" ... before ".avi". Null when nothing could be created; *error
    // says why.
    static std::unique_ptr<ClipFile> Create(const QString& wanted, QString* error);
    // What became of opening a clip left unfinished by an earlier run.
    enum class Leftover {
        Open,     // a plain file of the user's, for repairing
        Gone,     // its folder is there and it is not
        Later,    // its folder is not there (yet), or a running copy still writes into it
        NotOurs,  // a link, a FIFO, a device, a folder, another user's file
    };
    // A clip left unfinished by an earlier run, for repairing; nothing else is
    // ever opened. Null unless *state is Open; *error then says why.
    static std::unique_ptr<ClipFile> OpenLeftover(const QString& path, Leftover* state,
                                                  QString* error);
    ~ClipFile();
    ClipFile(const ClipFile&) = delete;
    ClipFile& operator=(const ClipFile&) = delete;

    const QString& path() const { return path_; }
    int descriptor() const { return fd_; }
    // Bytes written so far, whatever has happened to the name since.
    long long Size() const;
    // False when the file is no longer at its path since it was created:
    // removed, moved away (with its folder or alone) or replaced under its
    // name; *why then says which.
    bool StillInPlace(QString* why) const;
    // Not at its path, but not removed either: moved away, with its folder
    // or alone.
    bool Moved() const;
    // Deletes the file, but only while its name still means this file.
    void Remove();
    // Puts the file and its folder entry on the disk, so a power cut right
    // after cannot take a clip already reported as finished. False with *why
    // when the disk refused.
    bool Sync(QString* why) const;

private:
    ClipFile(QString path, int fd);

    QString path_;
    int fd_ = -1;
};

// The name tried after `wanted` was taken `attempt` - 1 times (attempt >= 2).
inline QString NumberedName(const QString& wanted, int attempt) {
    const QString suffix = QStringLiteral(" (%1)").arg(attempt);
    if (wanted.endsWith(QLatin1String(".avi"), Qt::CaseInsensitive))
        return wanted.left(wanted.size() - 4) + suffix + wanted.right(4);
    return wanted + suffix;
}

}  // namespace camwarden::store
