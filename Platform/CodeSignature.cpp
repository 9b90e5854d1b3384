#include "Platform/CodeSignature.h"

#include "Platform/AtomicFile.h"
#include "Platform/Ed25519.h"
#include "Platform/Sha256.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::CodeSignature {

namespace {

// One file as the manifest lists it.
struct Entry {
    bool link = false;
    bool executable = false;
    QString sha256;
    friend bool operator==(const Entry&, const Entry&) = default;
};

using Listing = QMap<QString, Entry>;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

constexpr qint64 manifestLimit = 16 * 1024 * 1024;

QByteArray local(const QString& path) {
    return QFile::encodeName(path);
}

// True when a relative path has only ordinary components: no empty, "." or ".." part.
bool isPlainRelative(const QString& path) {
    if (path.isEmpty() || path.startsWith(u'/')) {
        return false;
    }
    for (const QString& part : path.split(u'/')) {
        if (part.isEmpty() || part == u"." || part == u"..") {
            return false;
        }
    }
    return true;
}

// Whether a link at `linkPath` (relative to the folder) pointing at `target` stays inside it,
// judged on the text alone: the target need not exist.
bool staysInside(const QString& linkPath, const QString& target) {
    if (target.isEmpty() || target.startsWith(u'/')) {
        return false;
    }
    QStringList parts = linkPath.split(u'/');
    parts.removeLast();
    for (const QString& part : target.split(u'/')) {
        if (part.isEmpty() || part == u".") {
            continue;
        }
        if (part == u"..") {
            if (parts.isEmpty()) {
                return false;
            }
            parts.removeLast();
        } else {
            parts.append(part);
        }
    }
    return true;
}

// Whether following the link at `linkPath` (relative to `root`) to `target` stays inside the
// folder all the way, through every link met on the way: "s -> ." and "up -> s/.." are each
// harmless as text, and together lead out. Components that do not exist are taken as text.
bool chainStaysInside(const QString& root, const QString& linkPath, const QString& target) {
    // Linux gives up after 40 links; so do we, and take such a chain as leaving.
    constexpr int maxLinks = 40;
    QStringList at = linkPath.split(u'/');
    at.removeLast();
    QStringList todo = target.split(u'/');
    int links = 0;
    while (!todo.isEmpty()) {
        const QString part = todo.takeFirst();
        if (part.isEmpty() || part == u".") {
            continue;
        }
        if (part == u"..") {
            if (at.isEmpty()) {
                return false;
            }
            at.removeLast();
            continue;
        }
        at.append(part);
        const QByteArray here = local(root + u'/' + at.join(u'/'));
        struct stat st {};
        if (::lstat(here.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            continue;
        }
        QByteArray next(4096, '\0');
        const ssize_t n =
            ::readlink(here.constData(), next.data(), static_cast<size_t>(next.size()));
        if (++links > maxLinks || n <= 0 || n >= next.size() || next.startsWith('/')) {
            return false;
        }
        next.truncate(n);
        at.removeLast();
        todo = QFile::decodeName(next).split(u'/') + todo;
    }
    return true;
}

std::optional<QString> hashFile(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    Sha256 hasher;
    QByteArray buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        hasher.update(QByteArrayView(buffer.constData(), n));
    }
    ::close(fd);
    return QString::fromLatin1(hasher.finish().toHex());
}

// The folders on the way to the files a manifest lists.
QSet<QString> foldersOf(const Listing& listing) {
    QSet<QString> folders;
    for (auto it = listing.cbegin(); it != listing.cend(); ++it) {
        for (qsizetype slash = it.key().indexOf(u'/'); slash > 0;
             slash = it.key().indexOf(u'/', slash + 1)) {
            folders.insert(it.key().left(slash));
        }
    }
    return folders;
}

// What a walk may meet: with a manifest, only what it lists and the folders on the way to it, so
// that a walk of a folder holding anything else (a home folder, a shared prefix) stops at the
// first stranger instead of reading all of it.
struct Expected {
    const Listing* files = nullptr;
    QSet<QString> folders;
};

// Lists every file below `root` without following links. Fails (with the reason) on anything a
// signed folder may not hold, an empty folder among them (the manifest could not list it), and,
// when `expected` names them, on anything else. The manifest and signature themselves are left
// out.
std::optional<QString> walk(const QString& root, const QString& relative, Listing& out,
                            const Expected& expected = {}) {
    const QString dirPath = relative.isEmpty() ? root : root + u'/' + relative;
    std::unique_ptr<DIR, DirCloser> dir(opendir(local(dirPath).constData()));
    if (!dir) {
        return QStringLiteral("cannot read %1").arg(dirPath);
    }
    const int dirFd = dirfd(dir.get());
    qsizetype held = 0;
    while (dirent* e = readdir(dir.get())) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        const QString decoded = QFile::decodeName(name);
        if (QFile::encodeName(decoded) != name || decoded.contains(u'/')) {
            return QStringLiteral("unreadable file name in %1").arg(dirPath);
        }
        const QString rel = relative.isEmpty() ? decoded : relative + u'/' + decoded;
        ++held;
        if (rel == QLatin1String(manifestPath) || rel == QLatin1String(signaturePath)) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return QStringLiteral("cannot read %1").arg(rel);
        }
        if (st.st_mode & (S_ISUID | S_ISGID)) {
            return QStringLiteral("%1 is setuid or setgid").arg(rel);
        }
        if (expected.files && !(S_ISDIR(st.st_mode) ? expected.folders.contains(rel)
                                                    : expected.files->contains(rel))) {
            return QStringLiteral("%1 is not listed").arg(rel);
        }
        if (S_ISDIR(st.st_mode)) {
            if (auto failure = walk(root, rel, out, expected)) {
                return failure;
            }
        } else if (S_ISREG(st.st_mode)) {
            const auto sha = hashFile(local(root + u'/' + rel));
            if (!sha) {
                return QStringLiteral("cannot read %1").arg(rel);
            }
            out.insert(rel, Entry{false, (st.st_mode & S_IXUSR) != 0, *sha});
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t n = readlinkat(dirFd, name.constData(), target.data(),
                                         static_cast<size_t>(target.size()));
            if (n < 0 || n >= target.size()) {
                return QStringLiteral("cannot read %1").arg(rel);
            }
            target.truncate(n);
            if (!staysInside(rel, QFile::decodeName(target)) ||
                !chainStaysInside(root, rel, QFile::decodeName(target))) {
                return QStringLiteral("%1 links outside the folder").arg(rel);
            }
            out.insert(rel,
                       Entry{true, false, QString::fromLatin1(Sha256::digest(target).toHex())});
        } else {
            return QStringLiteral("%1 is a special file").arg(rel);
        }
    }
    if (held == 0 && !relative.isEmpty()) {
        return QStringLiteral("%1 is an empty folder").arg(relative);
    }
    return std::nullopt;
}

// Reads a file below `folder` only when every component of its path is a real folder or, for
// the last, a regular file: a planted link never leads the reader elsewhere.
std::optional<QByteArray> readInside(const QString& folder, const QString& relative) {
    QString path = folder;
    const QStringList parts = relative.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += u'/' + parts[i];
        struct stat st {};
        if (::lstat(local(path).constData(), &st) != 0) {
            return std::nullopt;
        }
        const bool last = i == parts.size() - 1;
        if (last ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) {
            return std::nullopt;
        }
        if (last && st.st_size > manifestLimit) {
            return std::nullopt;
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.read(manifestLimit + 1);
}

struct Manifest {
    QByteArray publicKey;
    Listing files;
};

bool isHexDigest(const QString& text) {
    if (text.size() != 64) {
        return false;
    }
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) {
            return false;
        }
    }
    return true;
}

std::optional<Manifest> parseManifest(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    if (!o.value(u"publicKey").isString() || !o.value(u"files").isArray()) {
        return std::nullopt;
    }
    auto key = QByteArray::fromBase64Encoding(o.value(u"publicKey").toString().toLatin1(),
                                              QByteArray::AbortOnBase64DecodingErrors);
    if (!key || key.decoded.size() != 32) {
        return std::nullopt;
    }
    Manifest m{key.decoded, {}};
    for (const QJsonValue& v : o.value(u"files").toArray()) {
        const QJsonObject f = v.toObject();
        const QString path = f.value(u"path").toString();
        const QString type = f.value(u"type").toString();
        const QString sha = f.value(u"sha256").toString();
        if (!isPlainRelative(path) || (type != u"file" && type != u"link") ||
            !f.value(u"executable").isBool() || !isHexDigest(sha) || m.files.contains(path)) {
            return std::nullopt;
        }
        m.files.insert(path, Entry{type == u"link", f.value(u"executable").toBool(), sha});
    }
    return m;
}

} // namespace

QString fingerprint(QByteArrayView publicKey) {
    return QString::fromLatin1(Sha256::digest(publicKey).toHex());
}

Identity identity(const QString& folder, bool checkValidity) {
    const auto bytes = readInside(folder, QLatin1String(manifestPath));
    const auto manifest = bytes ? parseManifest(*bytes) : std::nullopt;
    if (!manifest) {
        return {};
    }
    Identity out{fingerprint(manifest->publicKey), true};
    if (!checkValidity) {
        return out;
    }
    const auto signature = readInside(folder, QLatin1String(signaturePath));
    if (!signature || !Ed25519::verify(manifest->publicKey, *bytes, *signature)) {
        out.valid = false;
        return out;
    }
    Listing found;
    const Expected expected{&manifest->files, foldersOf(manifest->files)};
    out.valid = !walk(folder, QString(), found, expected) && found == manifest->files;
    return out;
}

std::optional<QString> sign(const QString& folder, QByteArrayView privateKey) {
    const auto publicKey = Ed25519::publicKeyOf(privateKey);
    if (!publicKey) {
        return QStringLiteral("not an Ed25519 private key");
    }
    Listing found;
    if (auto failure = walk(folder, QString(), found)) {
        return failure;
    }
    QJsonArray files;
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        files.append(QJsonObject{{u"path"_qs, it.key()},
                                 {u"type"_qs, it->link ? u"link"_qs : u"file"_qs},
                                 {u"executable"_qs, it->executable},
                                 {u"sha256"_qs, it->sha256}});
    }
    const QByteArray manifest =
        QJsonDocument(QJsonObject{{u"publicKey"_qs, QString::fromLatin1(publicKey->toBase64())},
                                  {u"files"_qs, files}})
            .toJson(QJsonDocument::Indented);
    const auto signature = Ed25519::sign(privateKey, manifest);
    if (!signature) {
        return QStringLiteral("signing failed");
    }
    if (!AtomicFile::makeFolder(folder + QStringLiteral("/share/ostrel"), 0755)) {
        return QStringLiteral("cannot create %1/share/ostrel").arg(folder);
    }
    if (auto e = AtomicFile::write(folder + u'/' + QLatin1String(manifestPath), manifest, 0644)) {
        return e->message;
    }
    if (auto e =
            AtomicFile::write(folder + u'/' + QLatin1String(signaturePath), *signature, 0644)) {
        return e->message;
    }
    return std::nullopt;
}

} // namespace ostrel::CodeSignature
