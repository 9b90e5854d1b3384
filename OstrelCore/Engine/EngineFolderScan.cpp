// Watched-folder scans: a folder the user added (the home folder, even "/") is walked in slices
// that leave the queue to scratchpads, transcripts and commands in between, and the files
// reported changed inside it are offered by the same slices.
#include "OstrelCore/Engine/Engine.h"

#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/PseudoFileSystem.h"

#include <QFile>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

namespace ostrel {

namespace {

// Entries of a folder with their types as the listing gives them; none when it cannot be read.
std::optional<QList<std::pair<QString, unsigned char>>> entries(const QString& folder) {
    DIR* dir = Descriptors::openDir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        return std::nullopt;
    }
    QList<std::pair<QString, unsigned char>> out;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        if (auto exact = FileStat::exactName(name)) {
            out.append({std::move(*exact), entry->d_type});
        } else {
            FileStat::notePassedOver(folder, name);
        }
    }
    ::closedir(dir);
    return out;
}

} // namespace

void Engine::scanFolder(const QString& path, std::optional<double> window) {
    const auto st = FileStat::stat(path);
    if (!st || !st->isDirectory()) {
        return;
    }
    for (FolderScan& scan : scans_) {
        if (scan.root == path) {
            // What it has yet to list it will see as it is now, but a change in a folder it has
            // already passed would be lost: it starts over once, when it is through, looking
            // back as far as either asked.
            scan.again = true;
            scan.window = std::max(scan.window, window.value_or(config_.recentWindow));
            return;
        }
    }
    struct stat top {};
    if (::stat(QFile::encodeName(path).constData(), &top) != 0 ||
        skipsFolder(path, top.st_dev, 0)) {
        return;
    }
    FolderScan scan;
    scan.root = path;
    scan.rootDevice = top.st_dev;
    scan.window = window.value_or(config_.recentWindow);
    scan.cutoff = now_().adding(-scan.window);
    scan.folders.emplace_back(path, top.st_dev);
    scans_.push_back(std::move(scan));
    scheduleScanSlice();
}

void Engine::scheduleScanSlice() {
    if (scanScheduled_) {
        return;
    }
    scanScheduled_ = true;
    queue_->async([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->scanScheduled_ = false;
            self->scanSlice();
        }
    });
}

bool Engine::skipsFolder(const QString& path, dev_t device, dev_t parentDevice) const {
    if (path == supportCanonical_) {
        return true;
    }
    // Pseudo file systems are mounted: only a change of device can lead into one.
    return device != parentDevice && PseudoFileSystem::holds(path);
}

void Engine::scanSlice() {
    if (halting()) {
        dropScanWork();
        return;
    }
    // The files being prepared ahead leave room for so many more.
    const qsizetype admissions =
        std::min(std::max<qsizetype>(1, timing_.sliceAdmissions), ingest_->aheadRoom());
    if (admissions > 0) {
        slice(admissions);
    }
    // With no room the end of a preparation asks for the next slice (drainAhead()).
    if (hasScanWork() && ingest_->aheadRoom() > 0) {
        scheduleScanSlice();
    }
    noteStartThrough();
    noteLookThrough();
}

void Engine::slice(qsizetype admissions) {
    qsizetype budget = std::max<qsizetype>(1, timing_.scanSliceEntries);
    const Batch batch(*this);
    const auto full = [&] { return batch_ && batch_->size() >= admissions; };
    // Files reported changed come first: they are what the user just did.
    while (!folderFiles_.isEmpty() && !full()) {
        const QString path = folderFiles_.takeFirst();
        folderFilesQueued_.remove(path);
        ingestFile(path, Source::folder, std::nullopt, std::nullopt, false);
    }
    while (budget > 0 && !scans_.empty() && !full()) {
        FolderScan& scan = scans_.front();
        if (scan.next >= scan.listed.size()) {
            scan.listed.clear();
            scan.next = 0;
            if (scan.folders.empty() && scan.again) {
                scan.again = false;
                scan.cutoff = now_().adding(-scan.window);
                scan.folders.emplace_back(scan.root, scan.rootDevice);
            }
            if (scan.folders.empty()) {
                scans_.pop_front();
                continue;
            }
            std::tie(scan.folder, scan.device) = std::move(scan.folders.back());
            scan.folders.pop_back();
            scan.listed = entries(scan.folder).value_or(decltype(scan.listed)());
            --budget;
            continue;
        }
        const auto& [name, type] = scan.listed.at(scan.next++);
        --budget;
        if (name.startsWith(u'.') || (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN)) {
            continue;
        }
        const QString child =
            scan.folder == QLatin1String("/") ? u'/' + name : scan.folder + u'/' + name;
        struct stat st {};
        if (::lstat(QFile::encodeName(child).constData(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!skipsFolder(child, st.st_dev, scan.device)) {
                scan.folders.emplace_back(child, st.st_dev);
            }
        } else if (S_ISREG(st.st_mode)) {
            const Date modified = Date::fromTimespec(st.st_mtim);
            if (modified >= scan.cutoff) {
                ingestFile(child, Source::folder, std::nullopt, std::nullopt, true,
                           Stamp{static_cast<qint64>(st.st_size), modified});
            }
        }
    }
}

} // namespace ostrel
