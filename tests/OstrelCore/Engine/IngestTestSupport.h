#pragma once

#include "OstrelCore/Engine/Ingest.h"
#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "TestImages.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace ostrel::test {

// A store in a temporary support folder, an ingest over it and a clock the test moves.
class IngestFixture : public ::testing::Test {
protected:
    static constexpr double launch = 100000.0;

    void SetUp() override {
        clock = Date(launch);
        store = Store::make(QUrl::fromLocalFile(dir.file("support")), [this] { return clock; });
        ingest = std::make_unique<Ingest>(store, 30, [this] { return clock; });
    }

    // A file in the work folder; its canonical path.
    QString writeFile(const QString& name, const QByteArray& bytes) {
        return OstrelPaths::canonical(dir.write(QStringLiteral("work/") + name, bytes));
    }

    static Candidate fileCandidate(const QString& path, Source source,
                                   std::optional<QString> session, double createdAt,
                                   std::optional<QString> slug = QStringLiteral("-u-proj")) {
        Candidate c;
        c.source = source;
        c.payload = Payload::file(QUrl::fromLocalFile(path));
        c.sessionID = std::move(session);
        c.slug = std::move(slug);
        c.createdAt = Date(createdAt);
        return c;
    }

    static Candidate imageBlock(const QByteArray& bytes, const QString& session, double createdAt,
                                std::optional<QString> readPath = std::nullopt,
                                std::optional<QString> captureID = std::nullopt,
                                std::optional<QString> promptID = QStringLiteral("p1")) {
        Candidate c;
        c.source = Source::transcript;
        c.payload = Payload::base64(bytes.toBase64(), QStringLiteral("png"));
        c.sessionID = session;
        c.slug = QStringLiteral("-u-proj");
        c.promptID = std::move(promptID);
        c.createdAt = Date(createdAt);
        c.readPath = std::move(readPath);
        c.captureID = std::move(captureID);
        return c;
    }

    static Candidate artifactCandidate(const QString& id, std::optional<QString> title,
                                       std::optional<QString> path, const QString& session,
                                       double createdAt) {
        Candidate c;
        c.source = Source::transcript;
        c.payload = Payload::artifact(
            ArtifactInfo{id, QUrl(QStringLiteral("https://claude.ai/public/artifacts/") + id),
                         std::move(title), std::move(path)});
        c.sessionID = session;
        c.slug = QStringLiteral("-u-proj");
        c.promptID = QStringLiteral("p1");
        c.createdAt = Date(createdAt);
        return c;
    }

    static QString digest(const QByteArray& bytes) { return Hex::sha256(bytes); }

    static QString composite(const QByteArray& bytes, const QString& captureID) {
        return Hex::sha256(bytes) + u'~' + Hex::sha256(captureID.toUtf8()).left(16);
    }

    QStringList itemFiles() const {
        return QDir(store->itemsDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    ShelfItem item(const QString& id) const { return store->items().value(id); }

    TempDir dir;
    Date clock;
    std::shared_ptr<Store> store;
    std::unique_ptr<Ingest> ingest;
};

inline Ingest::Outcome added(const QString& id) {
    return Ingest::Outcome::added(id);
}
inline Ingest::Outcome merged(const QString& id) {
    return Ingest::Outcome::merged(id);
}
inline Ingest::Outcome rejected(const char* reason) {
    return Ingest::Outcome::rejected(QString::fromUtf8(reason));
}

} // namespace ostrel::test

namespace ostrel {
inline void PrintTo(const Ingest::Outcome& outcome, std::ostream* os) {
    *os << Ingest::Outcome::rawValue(outcome.kind).toStdString() << "("
        << outcome.text.toStdString() << ")";
}
} // namespace ostrel
