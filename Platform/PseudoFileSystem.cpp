#include "Platform/PseudoFileSystem.h"

#include <QByteArray>
#include <QFile>

#include <sys/vfs.h>

namespace ostrel::PseudoFileSystem {

namespace {

// The magic numbers statfs gives for them (linux/magic.h).
constexpr unsigned long pseudoMagics[] = {
    0x9fa0,     // proc
    0x62656572, // sysfs
    0x27e0eb,   // cgroup
    0x63677270, // cgroup2
    0x1cd1,     // devpts
    0x64626720, // debugfs
    0x74726163, // tracefs
    0x73636673, // securityfs
    0x6165676c, // pstore
    0xcafe4a11, // bpf
    0x62656570, // configfs
    0x65735543, // fusectl
    0x19800202, // mqueue
    0x42494e4d, // binfmt_misc
    0xde5e81e4, // efivarfs
    0x6e736673, // nsfs
    0xf97cff8c, // selinuxfs
};
constexpr unsigned long tmpfsMagic = 0x01021994;

// The mount point field of /proc/self/mountinfo escapes space, tab, newline and backslash.
QByteArray unescape(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out.append(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                         (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return out;
}

// devtmpfs reports tmpfs's magic: only the mount table tells them apart. The type of the mount
// that holds `folder` (the longest mount point above it).
QByteArray mountType(const QByteArray& folder) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray best;
    qsizetype bestLength = -1;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 1 >= fields.size()) {
            continue;
        }
        const QByteArray point = unescape(fields[4]);
        const bool above = point == "/" || folder == point || folder.startsWith(point + '/');
        if (above && point.size() > bestLength) {
            bestLength = point.size();
            best = fields[dash + 1];
        }
    }
    return best;
}

} // namespace

bool holds(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    struct statfs info {};
    if (::statfs(native.constData(), &info) != 0) {
        return false;
    }
    const auto magic = static_cast<unsigned long>(info.f_type);
    for (const unsigned long pseudo : pseudoMagics) {
        if (magic == pseudo) {
            return true;
        }
    }
    return magic == tmpfsMagic && mountType(native) == "devtmpfs";
}

} // namespace ostrel::PseudoFileSystem
