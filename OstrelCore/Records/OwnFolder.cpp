#include "OstrelCore/Records/OwnFolder.h"

#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

namespace {

// The folder at `path`: through a link at the name for the support folder (the user may have
// made it one), never for the folders within, which are ours alone.
enum class AtName { follow, noFollow };
std::optional<FileIdentity> folderAt(const QString& path, AtName link = AtName::follow) {
    if (FileStat::holdsNul(path)) {
        return std::nullopt;
    }
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    const int looked =
        link == AtName::follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st);
    if (looked != 0 || !S_ISDIR(st.st_mode)) {
        return std::nullopt;
    }
    return FileIdentity::of(st);
}

// The real folder at `path`, a link at the name not followed.
std::optional<FileIdentity> realFolderAt(const QString& path) {
    return folderAt(path, AtName::noFollow);
}

QString subfolderPath(const QString& root, OwnFolder::Subfolder subfolder) {
    return root + u'/' + OwnFolder::nameOf(subfolder);
}

// The folder a link of the user's at `path` leads to, when it is a real folder of the user's;
// none for anything else at the name. Another user's link, or one to another user's folder, may
// lead our copies where others read them.
std::optional<FileIdentity> userLinkAt(const QString& path) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (FileStat::holdsNul(path) || ::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return std::nullopt;
    }
    if (::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return std::nullopt;
    }
    return FileIdentity::of(st);
}

// The run's support folder: its path, and the folder it led to when written down.
struct Run {
    std::mutex mutex;
    std::optional<QString> root;
    OwnFolder folder;
    // Whether a store of the run has looked for a link of the user's at the folders within: the
    // run's start is past for them.
    std::array<bool, 2> linksLooked{};
    std::function<void()> afterLook;
};

// Asked by writers on worker threads while the process ends: held on the heap, never freed.
Run& run() {
    static Run* const r = new Run;
    return *r;
}

} // namespace

bool OwnFolder::takeFolder(const QString& root) {
    Run& r = run();
    const std::lock_guard lock(r.mutex);
    if (r.root && *r.root == QDir::cleanPath(root)) {
        // The run's, whatever the path leads to now; one comes to be used where none stood.
        if (!r.folder.hasFolder()) {
            r.folder.folder_ = folderAt(root);
        }
        folder_ = r.folder.folder_;
        subfolders_ = r.folder.subfolders_;
        throughLink_ = r.folder.throughLink_;
    } else {
        folder_ = folderAt(root);
    }
    return folder_.has_value();
}

bool OwnFolder::takeSubfolder(const QString& root, Subfolder subfolder, bool userLink) {
    const auto at = size_t(subfolder);
    auto& taken = subfolders_[at];
    if (taken) {
        return true;
    }
    Run& r = run();
    const std::lock_guard lock(r.mutex);
    const bool ofRun = r.root && *r.root == QDir::cleanPath(root);
    auto& runs = r.folder.subfolders_[at];
    if (ofRun && runs) {
        taken = runs;
        throughLink_[at] = r.folder.throughLink_[at];
        return true;
    }
    if (userLink) {
        if (ofRun && std::exchange(r.linksLooked[at], true)) {
            return false;
        }
        const auto linked = userLinkAt(subfolderPath(root, subfolder));
        const Subfolder other =
            subfolder == Subfolder::items ? Subfolder::thumbs : Subfolder::items;
        // Copies and thumbnails share names (a JPEG's copy is named as its thumbnail), and the
        // support folder's own files are no copies.
        for (const auto& mine : {folderAt(root), folderAt(subfolderPath(root, other))}) {
            if (!linked || (mine && mine->isEntry(*linked))) {
                return false;
            }
        }
        taken = linked;
        throughLink_[at] = true;
    } else {
        taken = realFolderAt(subfolderPath(root, subfolder));
    }
    if (ofRun) {
        runs = taken;
        r.folder.throughLink_[at] = throughLink_[at];
    }
    return taken.has_value();
}

bool OwnFolder::subfolderHere(const QString& root, Subfolder subfolder) const {
    const auto& taken = subfolders_[size_t(subfolder)];
    if (!taken) {
        return false;
    }
    // Which folder, not its size or dates, which every file made in it moves.
    const QString path = subfolderPath(root, subfolder);
    const auto now = throughLink(subfolder) ? folderAt(path) : realFolderAt(path);
    return now && now->isEntry(*taken);
}

bool OwnFolder::isSubfolder(int fd, Subfolder subfolder) const {
    const auto& taken = subfolders_[size_t(subfolder)];
    struct stat st {};
    return taken && fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) &&
           FileIdentity::of(st).isEntry(*taken);
}

void OwnFolder::takeIndex(const QString& index, QByteArray sha256) {
    index_ = FileIdentity::at(index);
    indexSha256_ = std::move(sha256);
    refused_.reset();
}

bool OwnFolder::leadsHere(const QString& root) const {
    if (!folder_) {
        return true;
    }
    // The folder's own size and date change with every file made in it: only which one it is.
    const auto folder = folderAt(root);
    return folder && folder->isEntry(*folder_);
}

OwnFolder::Look OwnFolder::look(const QString& root, const QString& index) {
    if (!folder_) {
        return Look::own;
    }
    const Descriptors::Owned folder(open(root));
    if (!folder) {
        return Look::otherFolder;
    }
    return lookIn(folder.get(), index);
}

int OwnFolder::open(const QString& root) const {
    if (FileStat::holdsNul(root)) {
        return -1;
    }
    // Only to reach what is in it: a folder the user made unreadable still takes our files.
    Descriptors::Owned fd(
        Descriptors::open(QFile::encodeName(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!fd || (folder_ && (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) ||
                            !FileIdentity::of(st).isEntry(*folder_)))) {
        return -1;
    }
    return fd.release();
}

int OwnFolder::openSubfolder(int folder, Subfolder subfolder) const {
    // A link at its name is followed only where the run found one of the user's there at its
    // start; the folder reached is known by which it is either way.
    const QByteArray name = QFile::encodeName(nameOf(subfolder));
    Descriptors::Owned fd(Descriptors::openAt(folder, name.constData(),
                                              O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                                                  (throughLink(subfolder) ? 0 : O_NOFOLLOW)));
    return fd && isSubfolder(fd.get(), subfolder) ? fd.release() : -1;
}

OwnFolder::Look OwnFolder::lookIn(int folder, const QString& index) {
    if (!folder_) {
        return Look::own;
    }
    // An index gone (the user's doing) is none this store could replace: writing brings its own
    // back. One that cannot be looked at cannot be replaced either.
    struct stat st {};
    const QByteArray name = QFile::encodeName(QFileInfo(index).fileName());
    const auto now = ::fstatat(folder, name.constData(), &st, 0) == 0
                         ? std::optional<FileIdentity>(FileIdentity::of(st))
                         : std::nullopt;
    if (now && now != index_ && !stillHolds(index, *now)) {
        return Look::otherIndex;
    }
    return Look::own;
}

bool OwnFolder::stillHolds(const QString& index, const FileIdentity& now) {
    // Only the same file of the same size is worth reading: another file at the name, or one of
    // another size, was put there by another hand. Its dates tell nothing: `touch`, a tool that
    // sets them back (to the microsecond), the same bytes written again in place all move them.
    // Read once per change of its dates, never again while they stay.
    if (!index_ || indexSha256_.isEmpty() || !now.isEntry(*index_) || now.size != index_->size ||
        now == refused_) {
        return false;
    }
    const auto read = AtomicFile::holding(index, index_->size, indexSha256_);
    if (!read || !read->isEntry(*index_)) {
        // Not read again while it stays as it is: a look comes with every note of a capture.
        refused_ = now;
        return false;
    }
    index_ = *read;
    return true;
}

void OwnFolder::startRun(const QString& root) {
    Run& r = run();
    const std::lock_guard lock(r.mutex);
    r.root = QDir::cleanPath(root);
    r.folder = OwnFolder();
    r.linksLooked = {};
    r.folder.folder_ = folderAt(root);
}

void OwnFolder::endRun() {
    Run& r = run();
    const std::lock_guard lock(r.mutex);
    r.root.reset();
    r.folder = OwnFolder();
    r.linksLooked = {};
}

bool OwnFolder::mayWriteInto(const QString& path) {
    OwnFolder own;
    QString root;
    std::optional<Subfolder> in;
    Run& r = run();
    {
        const std::lock_guard lock(r.mutex);
        const QString at = QDir::cleanPath(path);
        if (!r.root || (at != *r.root && !at.startsWith(*r.root + u'/'))) {
            return true;
        }
        // None yet: the run has no folder there to write into.
        if (!r.folder.hasFolder()) {
            return false;
        }
        own = r.folder;
        root = *r.root;
        for (const Subfolder subfolder : {Subfolder::items, Subfolder::thumbs}) {
            if (at.startsWith(subfolderPath(root, subfolder) + u'/')) {
                in = subfolder;
            }
        }
    }
    // The one look: the folder written down within is reached only through the run's.
    if (in && own.hasSubfolder(*in)) {
        return own.subfolderHere(root, *in);
    }
    if (!own.leadsHere(root)) {
        return false;
    }
    if (!in) {
        return true;
    }
    // None written down yet (no store of the run has used it): missing, it is made by the
    // writer; a real folder found is the run's from now on; anything else is no folder of ours.
    struct stat st {};
    if (::lstat(QFile::encodeName(subfolderPath(root, *in)).constData(), &st) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(st.st_mode)) {
        return false;
    }
    const std::lock_guard lock(r.mutex);
    auto& runs = r.folder.subfolders_[size_t(*in)];
    if (!runs && r.root == root) {
        runs = FileIdentity::of(st);
    }
    return runs && runs->isEntry(FileIdentity::of(st));
}

int OwnFolder::openInto(const QString& folder) {
    const QString at = QDir::cleanPath(folder);
    OwnFolder own;
    QString root;
    Run& r = run();
    {
        const std::lock_guard lock(r.mutex);
        if (!r.root || (at != *r.root && !at.startsWith(*r.root + u'/'))) {
            return FileStat::holdsNul(at) ? -1
                                          : Descriptors::open(QFile::encodeName(at).constData(),
                                                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (!r.folder.hasFolder()) {
            return -1;
        }
        own = r.folder;
        root = *r.root;
    }
    Descriptors::Owned fd(own.open(root));
    const QStringList within = at.mid(root.size()).split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; fd && i < within.size(); ++i) {
        std::optional<Subfolder> subfolder;
        for (const Subfolder s : {Subfolder::items, Subfolder::thumbs}) {
            if (i == 0 && within.at(0) == nameOf(s)) {
                subfolder = s;
            }
        }
        if (subfolder && own.hasSubfolder(*subfolder)) {
            fd.reset(own.openSubfolder(fd.get(), *subfolder));
            continue;
        }
        // None written down yet (no store of the run has used it), or a folder of ours beside
        // them: a real folder, never a link; the first of the two found is the run's from now on.
        const QByteArray name = QFile::encodeName(within.at(i));
        Descriptors::Owned next(Descriptors::openAt(
            fd.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
        if (next && subfolder) {
            struct stat st {};
            const std::lock_guard lock(r.mutex);
            auto& runs = r.folder.subfolders_[size_t(*subfolder)];
            if (::fstat(next.get(), &st) == 0 && !runs && r.root == root) {
                runs = FileIdentity::of(st);
            }
            if (!runs || !runs->isEntry(FileIdentity::of(st))) {
                next.reset();
            }
        }
        fd = std::move(next);
    }
    afterLook();
    return fd.release();
}

std::optional<Error> OwnFolder::writeInto(const QString& path, QByteArrayView data) {
    const QFileInfo at(path);
    const Descriptors::Owned folder(openInto(at.absolutePath()));
    if (!folder) {
        return Error::fromErrno();
    }
    return AtomicFile::writeAt(folder.get(), QFile::encodeName(at.fileName()), data, 0600, nullptr,
                               path);
}

void OwnFolder::setAfterLook(std::function<void()> hook) {
    Run& r = run();
    const std::lock_guard lock(r.mutex);
    r.afterLook = std::move(hook);
}

void OwnFolder::afterLook() {
    std::function<void()> hook;
    {
        Run& r = run();
        const std::lock_guard lock(r.mutex);
        hook = r.afterLook;
    }
    if (hook) {
        hook();
    }
}

} // namespace ostrel
