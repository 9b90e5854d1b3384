#pragma once

#include "Platform/Error.h"
#include "Platform/FileStat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <variant>

struct stat;

namespace ostrel::AtomicFile {

// What a write of ours puts at a name.
enum class Entry { file, folder };

// Whether a write goes through a symbolic link at its name to the file it leads to (a user's own
// settings, kept elsewhere by a dotfile manager), or sets it aside like any entry not ours.
enum class Links { setAside, follow };

// Why the entry `st` describes (from lstat) is not one of ours of kind `kind`, or null when it
// is: a symbolic link, another user's, or, where a file goes, an entry of another kind or a file
// with a second name (written in place, it would change the other one too). Where a folder goes,
// anything but a folder of ours.
const char* unfit(const struct stat& st, Entry kind);

// Renames the entry `name` of the folder open as `folder` to "<name>.unusable-<UTC stamp>", with
// a number added while that is taken (never over anything), when it is still the entry
// `device`/`inode`. Answers the name given, an empty name when the entry is gone or another
// stands there, or the failure.
std::variant<QString, Error> setAside(int folder, const QByteArray& name, dev_t device,
                                      ino_t inode);

// Makes `path` fit for a write of ours without following anything: what stands there and is unfit
// (above) is set aside, and said once in the log. False, with errno set, when such an entry
// stays.
bool clearEntry(const QString& path, Entry kind);

// Every file written under a temporary name first is named from this: ".incoming-", a mark
// drawn once for the process, and "-". So a process tidying its folders tells a temporary file
// another one left behind (a kill, a crash, an earlier version) from a write of its own under way,
// whatever thread or object of this process made it.
const QByteArray& temporaryPrefix();
// A temporary file's name, of this process or another.
inline bool isTemporary(std::string_view name) {
    return name.starts_with(".incoming-");
}
// A name this process gives its temporary files.
bool isOwnTemporary(std::string_view name);

// Replaces the file at `path` whole: a reader finds the old content or the new, never a part.
// The data is synced before the rename and the folder after it, so a crash cannot leave an empty
// file behind. Unless `links` says to follow one, whatever unfit stands at the name is set aside
// first (clearEntry), and the file replaces the name itself, so nothing is ever written through
// a link. Returns the failure, or nothing when the file was written. `placed`, when given, says
// which file now stands at the name once the new file was put there: also when the write failed
// after that (a close() or a sync of the folder that failed, as on a network file system), so
// that the caller knows the file at its name for the one it wrote; left empty when none was.
std::optional<Error> write(const QString& path, const QByteArray& data, mode_t mode = 0600,
                           Links links = Links::setAside,
                           std::optional<FileIdentity>* placed = nullptr);

// For tests: called with the descriptor of each file write() has put at its name, right before
// it is closed, to do what a file system may do to the file then (date it anew). Null: none.
void setBeforeClose(void (*hook)(int fd));

// `file`, just written and closed, as a look at its name `path` sees it now: a network file system
// may date a file anew once it is closed. `file` as it was when the name leads to another file by
// then (one put there meanwhile, even of the same size) or cannot be looked at.
FileIdentity asClosed(const QString& path, const FileIdentity& file);

// The file `path` leads to (links followed), when it is a regular file of `size` bytes that hash
// to the SHA-256 `sha256`, as it stood while it was read; none when it holds other bytes, is
// changed while it is read, or cannot be read. Reads no more than `size` bytes.
std::optional<FileIdentity> holding(const QString& path, qint64 size, QByteArrayView sha256);

// Writes `data` over the start of the file of ours at `path`, in place, then `fill` up to the
// file's length when it is longer, and syncs it: no new file is made, so a disk that has no room
// for one takes it, as long as the file already holds a block of its own for every byte written
// (not on a file system that copies every write, such as Btrfs). Only a plain file of ours with
// one name is written (unfit() says), never through a link. A crash during the write may leave
// the file part old, part new.
std::optional<Error> overwrite(const QString& path, QByteArrayView data, char fill);

// Replaces the file at `path` whole, like write(), but syncs nothing: for files written in a
// batch that is made durable at once (syncFile on each, syncFolder on their folders) before
// anything that names them is written. Until then a power loss may leave the file empty or gone.
std::optional<Error> writeUnsynced(const QString& path, QByteArrayView data, mode_t mode = 0600);

// A file written whole in the folder it is meant for, waiting to be put in place: written on any
// thread, placed later by the one that decides its name. Where the file system allows, it has no
// name until then (an open file made with O_TMPFILE): making it then takes no lock on the
// folder, so that workers staging thousands of files in one folder do not queue for it, and a
// file dropped leaves nothing behind. Elsewhere it waits under a temporary name, removed when it
// is dropped without being placed.
class Staged {
public:
    Staged() = default;
    explicit Staged(QString path) : path_(std::move(path)) {}
    // An open file without a name, in `folder`.
    Staged(int descriptor, QString folder) : path_(std::move(folder)), descriptor_(descriptor) {}
    Staged(Staged&& other) noexcept
        : path_(std::exchange(other.path_, QString())),
          descriptor_(std::exchange(other.descriptor_, -1)) {}
    Staged& operator=(Staged&& other) noexcept;
    Staged(const Staged&) = delete;
    Staged& operator=(const Staged&) = delete;
    ~Staged() { drop(); }

    bool isEmpty() const { return path_.isEmpty(); }
    // Puts it at `target`, replacing what is there (what is unfit set aside, as by
    // clearEntry()); false (and still staged) on failure.
    bool place(const QString& target);
    void drop();

private:
    // The temporary file, or for a file without a name the folder it is in.
    QString path_;
    int descriptor_ = -1;
};

// Writes `data` into a new temporary file in `folder`, synced like writeUnsynced().
std::variant<Staged, Error> stage(const QString& folder, QByteArrayView data, mode_t mode = 0600);

// Reads one of our own files whole, as nothing else may make it hang or fill memory: only a
// regular file (a link is followed to it) of at most `limit` bytes, with plain reads and without
// waiting for a FIFO's writer. The failure is ENOENT when nothing is there, ENODEV for something
// that is not a regular file, EFBIG for one larger than `limit`, or what the system said.
std::variant<QByteArray, Error> readRegular(const QString& path, qint64 limit);

// Syncs a file's data to the disk (through a new descriptor, links followed).
std::optional<Error> syncFile(const QString& path);
// Syncs all of the file system that holds `folder`, every file's data and every folder's
// entries, with one flush of the disk. (Linux reports a failed write-back of any of its files
// here since 5.8; before, only a sync of that file does.)
std::optional<Error> syncFileSystem(const QString& folder);
// Syncs a folder's entries, so that files created or renamed in it survive a power loss.
std::optional<Error> syncFolder(const QString& path);

// Creates the folder with its missing parents; the folders created get `mode`. With `adjust`, a
// leaf of ours that existed is brought to `mode` too; without, an existing leaf is left as it
// is. Returns false when the folder is not there afterwards, errno saying why (ENOTDIR when
// something else stands in its place).
bool makeFolder(const QString& path, mode_t mode = 0700, bool adjust = true);

// Makes a folder of ours in an existing one, like makeFolder(), after setting aside what stands
// at its name and is not a folder of ours: above all a link, which would lead every file written
// into it elsewhere.
bool makeOwnFolder(const QString& path, mode_t mode = 0700);

} // namespace ostrel::AtomicFile
