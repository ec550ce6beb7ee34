#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// What the store asks of the operating system; the build links the
// platform's answer (platform/posix, platform/win). Raw calls only: what
// the store makes of their answers is its own, the same on every system.
namespace camwarden::store::sys {

// The folder of the program's own state: the list of clips being recorded,
// the record of recorded ones, and the log where the system gives a window
// program no other.
QString StateFolder();

// Milliseconds since the machine started, a suspend included: a clock that
// no one sets and that does not stop while the program is stopped.
int64_t SinceBootMs();

// What tells this boot from every other, as text; empty where the system
// names none. Boot clock readings compare only within one boot.
QString BootId();

// Clip files are held as the C runtime's descriptors, which the muxer
// writes through; -1 is none. No call follows a link planted at a name.

// One try at exactly `name`, made new and claimed for this copy: the
// descriptor; else -1, with *taken set when something is at the name, or
// *why.
int CreateNew(const QString& name, bool* taken, QString* why);
void Close(int fd);
long long SizeOf(int fd);
// The file's data, and where the system needs it its folder's entry, on the
// disk; false with *why when the disk refused.
bool Flush(int fd, const QString& path, QString* why);

// Where the file held as `fd` is, seen from the name it was made at.
enum class Place { Same, Removed, Moved, Replaced };
Place PlaceOf(int fd, const QString& path);
// Removes the file held as *fd while `path` still names it; *fd is -1
// after where the system lets go of a file only closed.
void RemoveHeld(int* fd, const QString& path);

// What is at a name (the name itself) or held open.
struct Found {
    bool there = false;
    bool missing = false;  // not there: nothing is at the name
    bool link = false;
    bool plain = false;  // a file of data: no folder, device or FIFO
    bool mine = false;   // owned by the user running this copy
    QString error;       // not there: the system's words for why
};
Found At(const QString& path);
Found Of(int fd);
bool IsFolder(const QString& path);

// Why an existing file could not be opened.
enum class Refusal {
    Busy,     // another copy holds it for writing
    Denied,   // a link, or the system says it is not the user's to open
    Link,     // a state file's name is a link
    Missing,  // a state file is not there
    Other,
};
// Opens the existing file at `path` to read and write, as itself and
// without what opening a device or FIFO would do: the descriptor; else -1
// with *refusal and *why.
int OpenExisting(const QString& path, Refusal* refusal, QString* why);
// Claims the open file for this copy; false while another copy still
// writes into it.
bool Claim(int fd);

// The program's own state files: opened as themselves, to read or to
// append to (made when missing); else -1 with *refusal and *why.
enum class Use { Read, Append };
int OpenState(const QString& path, Use use, Refusal* refusal, QString* why);
// Up to `size` bytes into `into`: how many, 0 at the end; -1 with *why.
long long ReadSome(int fd, char* into, long long size, QString* why);
// All of `bytes` at the end, and on the disk; false with *why.
bool AppendAll(int fd, const QByteArray& bytes, QString* why);
// A new file beside the state file `path` for its rewrite to write into:
// the descriptor, with *aside its name; else -1 with *why.
int CreateAside(const QString& path, QString* aside, QString* why);
// Puts `from` at the name `to`, whatever is there itself (a link included)
// giving way, and the change on the disk; false with *why.
bool Rename(const QString& from, const QString& to, QString* why);
// Whether `name`, beside the state file named `fileName`, is a copy its
// rewrite writes aside (CreateAside); each system names them its way.
bool IsAsideOf(const QString& fileName, const QString& name);
// Removes the name itself: a link there goes, what it points to stays.
void RemoveName(const QString& path);

}  // namespace camwarden::store::sys
