#include "storage/ClipFile.h"

#include <QFileInfo>
#include <utility>

#include "storage/NotOurs.h"
#include "storage/System.h"

namespace camwarden::store {
namespace {

const QString& StillWriting() {
    static const QString text = QStringLiteral("another copy of the program is still writing it");
    return text;
}

}  // namespace

ClipFile::ClipFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}

ClipFile::~ClipFile() {
    if (fd_ >= 0) sys::Close(fd_);
}

std::unique_ptr<ClipFile> ClipFile::Create(const QString& wanted, QString* error) {
    // More clips than this sharing one second's name means something else is
    // wrong; give up rather than search on.
    constexpr int kMaxAttempts = 999;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        const QString name = attempt == 1 ? wanted : NumberedName(wanted, attempt);
        bool taken = false;
        QString why;
        const int fd = sys::CreateNew(name, &taken, &why);
        if (fd >= 0) return std::unique_ptr<ClipFile>(new ClipFile(name, fd));
        if (!taken) {
            if (error) *error = why;
            return nullptr;
        }
    }
    if (error) *error = QStringLiteral("every name for %1 is taken").arg(wanted);
    return nullptr;
}

std::unique_ptr<ClipFile> ClipFile::OpenLeftover(const QString& path, Leftover* state,
                                                 QString* error) {
    const auto fail = [&](Leftover what, const QString& why) {
        *state = what;
        if (error) *error = why;
        return nullptr;
    };
    // Looked at before it is opened: opening a device or a FIFO may do something.
    const sys::Found at = sys::At(path);
    if (!at.there) {
        const bool folderThere = sys::IsFolder(QFileInfo(path).absolutePath());
        if (at.missing && folderThere) return fail(Leftover::Gone, at.error);
        return fail(at.missing ? Leftover::Later : Leftover::NotOurs,
                    folderThere ? at.error : QStringLiteral("its folder is not there"));
    }
    if (const QString why = NotOurs(at); !why.isEmpty()) return fail(Leftover::NotOurs, why);
    sys::Refusal refusal = sys::Refusal::Other;
    QString why;
    const int fd = sys::OpenExisting(path, &refusal, &why);
    if (fd < 0) {
        switch (refusal) {
            case sys::Refusal::Busy:
                return fail(Leftover::Later, StillWriting());
            case sys::Refusal::Denied:
                return fail(Leftover::NotOurs, why);
            case sys::Refusal::Link:
            case sys::Refusal::Missing:
            case sys::Refusal::Other:
                break;
        }
        return fail(Leftover::Later, why);
    }
    // The same checks on what was opened: the name may have changed since.
    const sys::Found opened = sys::Of(fd);
    if (const QString whyNot = opened.there ? NotOurs(opened) : opened.error; !whyNot.isEmpty()) {
        sys::Close(fd);
        return fail(Leftover::NotOurs, whyNot);
    }
    if (!sys::Claim(fd)) {
        sys::Close(fd);
        return fail(Leftover::Later, StillWriting());
    }
    *state = Leftover::Open;
    return std::unique_ptr<ClipFile>(new ClipFile(path, fd));
}

bool ClipFile::Sync(QString* why) const {
    return sys::Flush(fd_, path_, why);
}

long long ClipFile::Size() const {
    return sys::SizeOf(fd_);
}

bool ClipFile::StillInPlace(QString* why) const {
    const sys::Place place = sys::PlaceOf(fd_, path_);
    if (why) {
        switch (place) {
            case sys::Place::Same:
                break;
            case sys::Place::Removed:
                *why = QStringLiteral("the clip's file was removed while recording");
                break;
            case sys::Place::Moved:
                *why = QStringLiteral(
                    "the clip's file is no longer at its path: it was moved away (with its folder "
                    "or alone) while recording");
                break;
            case sys::Place::Replaced:
                *why = QStringLiteral("the clip's file was replaced while recording");
                break;
        }
    }
    return place == sys::Place::Same;
}

bool ClipFile::Moved() const {
    return sys::PlaceOf(fd_, path_) == sys::Place::Moved;
}

void ClipFile::Remove() {
    sys::RemoveHeld(&fd_, path_);
}

}  // namespace camwarden::store
