#include "OstrelCore/Engine/ReadGuard.h"

#include "OstrelCore/Records/OwnFolder.h"
#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/Log.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <atomic>
#include <bit>
#include <csignal>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace ostrel {

namespace {

const char marksName[] = "/read-marks";
const char setAsideName[] = "/set-aside.json";

constexpr char reading = 'R';
constexpr char crashed = 'X';
constexpr qsizetype digestLength = 64;

// The file of the mark of the read under way on this thread: a plain value, which a signal
// handler may read.
thread_local int markFd = -1;

// Places taken, across every guard of the process: two guards over one support folder (an engine
// and the one replacing it) never share a place.
std::atomic<quint64> slotsTaken{0};

int takeSlot() {
    quint64 taken = slotsTaken.load();
    for (;;) {
        if (~taken == 0) {
            return -1;
        }
        const int slot = std::countr_one(taken);
        if (slotsTaken.compare_exchange_weak(taken, taken | (quint64(1) << slot))) {
            return slot;
        }
    }
}

void freeSlot(int slot) {
    slotsTaken.fetch_and(~(quint64(1) << slot));
}

constexpr std::array<int, 5> crashSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
std::array<struct sigaction, NSIG> previousActions{};

void onCrash(int signal, siginfo_t* info, void*) {
    // Only a fault of this thread or a signal this process sent itself (abort) tells that the read
    // brought it down; one sent by another process (kill) merely came during the read.
    // Either way the process is going: nothing that follows (a sanitizer's report and abort)
    // marks the read any more.
    const bool ours = info == nullptr || info->si_code > 0 || info->si_pid == ::getpid();
    if (markFd >= 0 && ours) {
        (void)!::pwrite(markFd, &crashed, 1, 0);
    }
    markFd = -1;
    // Whatever had the signal before (the default action, a sanitizer) has it now.
    ::sigaction(signal, &previousActions[static_cast<size_t>(signal)], nullptr);
    if (info == nullptr || info->si_code <= 0) {
        // Sent, not caused by the instruction that returning runs again: sent once more, it
        // arrives as soon as this handler returns.
        ::raise(signal);
    }
}

void watchCrashes() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : crashSignals) {
            struct sigaction action {};
            action.sa_sigaction = &onCrash;
            action.sa_flags = SA_SIGINFO | SA_ONSTACK;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, &previousActions[static_cast<size_t>(signal)]);
        }
    });
}

// A decoder that recurses too deep crashes on a stack with no room left for the handler: each
// reading thread gets a stack of its own for signals, unless it has one already.
class SignalStack {
public:
    void ensure() {
        if (looked_) {
            return;
        }
        looked_ = true;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) {
            return;
        }
        memory_ = std::make_unique<char[]>(size);
        stack_t stack{};
        stack.ss_sp = memory_.get();
        stack.ss_size = size;
        if (::sigaltstack(&stack, nullptr) != 0) {
            memory_.reset();
        }
    }
    ~SignalStack() {
        if (memory_) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            ::sigaltstack(&off, nullptr);
        }
    }

private:
    static constexpr size_t size = 64 * 1024;
    bool looked_ = false;
    std::unique_ptr<char[]> memory_;
};

thread_local SignalStack signalStack;

} // namespace

ReadGuard::ReadGuard(const QString& folder) {
    for (auto& file : files_) {
        file = -1;
    }
    // Another folder mounted over the run's holds another run's marks: neither taken in nor
    // written over.
    if (folder.isEmpty() || !OwnFolder::mayWriteInto(folder)) {
        return;
    }
    load(folder + QLatin1String(setAsideName));
    marks_ = folder + QLatin1String(marksName);
    // Never a link to another folder, whose files would be taken for marks and written over.
    AtomicFile::clearEntry(marks_, AtomicFile::Entry::folder);
    bool added = false;
    for (int slot = 0; slot < slotCount; ++slot) {
        const QString path = marks_ + u'/' + QString::number(slot);
        const auto read = AtomicFile::readRegular(path, recordSize);
        const auto* record = std::get_if<QByteArray>(&read);
        if (record == nullptr) {
            continue;
        }
        const qsizetype end = record->indexOf('\n', digestLength + 2);
        if (record->size() < digestLength + 3 || record->at(0) != crashed ||
            record->at(digestLength + 1) != '\n' || end < 0) {
            // A read's mark, left by a process that ended or still taken by the guard this one
            // replaces, whose reads may go on a while: it stays, so that a crash there is still
            // marked in a file the next start finds.
            continue;
        }
        QFile::remove(path);
        const QString digest = QString::fromLatin1(record->mid(1, digestLength));
        if (setAside_.contains(digest)) {
            continue;
        }
        const QString what =
            QString::fromUtf8(record->mid(digestLength + 2, end - digestLength - 2));
        entries_.append(Entry{digest, what});
        setAside_.insert(digest);
        added = true;
        qCWarning(lcIngest).noquote()
            << QStringLiteral("set aside %1: reading it brought the shelf down; it is not read "
                              "again while it stays the same")
                   .arg(what);
    }
    if (added) {
        while (entries_.size() > setAsideLimit) {
            setAside_.remove(entries_.takeFirst().digest);
        }
        save(folder + QLatin1String(setAsideName));
    }
    if (AtomicFile::makeOwnFolder(marks_)) {
        watchCrashes();
    } else {
        marks_.clear();
    }
}

ReadGuard::~ReadGuard() {
    for (const auto& file : files_) {
        if (file >= 0) {
            ::close(file);
        }
    }
}

int ReadGuard::slotFile(int slot) const {
    int fd = files_[size_t(slot)].load();
    // A file once open is written in the run's folder under any later mount; one is opened only
    // while the path leads there, else the read goes unmarked.
    if (fd < 0 && !marks_.isEmpty()) {
        // Made through the folder looked at, whatever its path leads to by then.
        const Descriptors::Owned folder(OwnFolder::openInto(marks_));
        if (!folder) {
            return -1;
        }
        const QByteArray name = QByteArray::number(slot);
        AtomicFile::clearEntryAt(folder.get(), name, AtomicFile::Entry::file,
                                 marks_ + u'/' + QString::number(slot));
        fd = Descriptors::openAt(folder.get(), name.constData(),
                                 O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        files_[size_t(slot)] = fd;
    }
    return fd;
}

void ReadGuard::load(const QString& path) {
    const auto read = AtomicFile::readRegular(path, setAsideLimit * 2 * recordSize);
    const auto* bytes = std::get_if<QByteArray>(&read);
    if (bytes == nullptr) {
        return;
    }
    for (const QJsonValue& value : QJsonDocument::fromJson(*bytes).array()) {
        const QString digest = value.toObject().value(QLatin1String("digest")).toString();
        if (digest.size() != digestLength || setAside_.contains(digest)) {
            continue;
        }
        entries_.append(Entry{digest, value.toObject().value(QLatin1String("what")).toString()});
        setAside_.insert(digest);
    }
}

void ReadGuard::save(const QString& path) const {
    QJsonArray out;
    for (const Entry& entry : entries_) {
        out.append(QJsonObject{{QStringLiteral("digest"), entry.digest},
                               {QStringLiteral("what"), entry.what}});
    }
    if (const auto error = OwnFolder::writeInto(path, QJsonDocument(out).toJson())) {
        qCWarning(lcIngest).noquote()
            << QStringLiteral("%1 not saved: %2").arg(path, error->message);
    }
}

ReadGuard::Mark::Mark(const ReadGuard* guard, const QString& digest, const QString& what) {
    if (guard == nullptr || guard->marks_.isEmpty() || markFd >= 0) {
        return;
    }
    slot_ = takeSlot();
    if (slot_ < 0) {
        return;
    }
    QByteArray record;
    record.reserve(recordSize);
    record += reading;
    record += digest.toLatin1().left(digestLength);
    record += '\n';
    record += what.toUtf8().left(recordSize - digestLength - 3);
    record += '\n';
    const int fd = guard->slotFile(slot_);
    if (fd < 0 || ::pwrite(fd, record.constData(), size_t(record.size()), 0) != record.size()) {
        freeSlot(slot_);
        slot_ = -1;
        return;
    }
    signalStack.ensure();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    markFd = fd;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (guard->duringRead) {
        guard->duringRead(what);
    }
}

ReadGuard::Mark::~Mark() {
    if (slot_ < 0) {
        return;
    }
    // The mark stays as it is: only a crash mark counts, and the next read writes over it.
    markFd = -1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    freeSlot(slot_);
}

} // namespace ostrel
