#pragma once

#include "Platform/Date.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <bit>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <set>

namespace ostrel {

class JsonWriter;

// What an item is, decided from its file extension.
enum class ShelfItemKind { image, html, pdf, document, video, audio, artifact, file };

inline constexpr std::array<ShelfItemKind, 8> allShelfItemKinds{
    ShelfItemKind::image, ShelfItemKind::html,  ShelfItemKind::pdf,      ShelfItemKind::document,
    ShelfItemKind::video, ShelfItemKind::audio, ShelfItemKind::artifact, ShelfItemKind::file};

using ShelfItemKinds = std::set<ShelfItemKind>;

QString rawValue(ShelfItemKind kind);
std::optional<ShelfItemKind> shelfItemKindFromRaw(const QString& raw);

namespace ShelfItemKindRules {
// Every kind but `file`.
ShelfItemKinds shownByDefault();
// The kind of a file extension given without its dot, in any letter case.
std::optional<ShelfItemKind> forExtension(const QString& ext);
// As above; an extension in `extra` (lower case, no dot) that no kind claims is a `file`.
std::optional<ShelfItemKind> forExtension(const QString& ext, const QSet<QString>& extra);
} // namespace ShelfItemKindRules

// Where an item was found.
enum class Source { scratchpad, transcript, chrome, folder };

inline constexpr std::array<Source, 4> allSources{Source::scratchpad, Source::transcript,
                                                  Source::chrome, Source::folder};

QString rawValue(Source source);
std::optional<Source> sourceFromRaw(const QString& raw);

// A set of sources, iterated in the order of `allSources`. One byte: the store holds one for
// each of its items, and a node of a tree for each source cost more than the rest of the item's
// fixed part.
class Sources {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Source;
        using difference_type = std::ptrdiff_t;
        using pointer = const Source*;
        using reference = Source;

        const_iterator() = default;
        const_iterator(quint8 bits, int at) : bits_(bits), at_(at) { skip(); }
        Source operator*() const { return static_cast<Source>(at_); }
        const_iterator& operator++() {
            ++at_;
            skip();
            return *this;
        }
        const_iterator operator++(int) {
            const const_iterator old = *this;
            ++*this;
            return old;
        }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        void skip() {
            while (at_ < static_cast<int>(allSources.size()) && (bits_ & (1u << at_)) == 0) {
                ++at_;
            }
        }
        quint8 bits_ = 0;
        int at_ = 0;
    };
    using iterator = const_iterator;
    using value_type = Source;

    Sources() = default;
    Sources(std::initializer_list<Source> sources) {
        for (const Source source : sources) {
            insert(source);
        }
    }

    bool contains(Source source) const { return (bits_ & bit(source)) != 0; }
    size_t count(Source source) const { return contains(source) ? 1 : 0; }
    void insert(Source source) { bits_ = static_cast<quint8>(bits_ | bit(source)); }
    size_t erase(Source source) {
        const size_t had = count(source);
        bits_ = static_cast<quint8>(bits_ & ~bit(source));
        return had;
    }
    bool empty() const { return bits_ == 0; }
    size_t size() const { return static_cast<size_t>(std::popcount(bits_)); }
    const_iterator begin() const { return {bits_, 0}; }
    const_iterator end() const { return {bits_, static_cast<int>(allSources.size())}; }

    friend bool operator==(const Sources&, const Sources&) = default;

private:
    static quint8 bit(Source source) { return static_cast<quint8>(1u << static_cast<int>(source)); }
    quint8 bits_ = 0;
};

// One thing on the shelf.
struct ShelfItem {
    QString id;
    ShelfItemKind kind = ShelfItemKind::image;
    // The store's own copy of the bytes; absent for artifacts.
    std::optional<QUrl> fileURL;
    // The web address of a published artifact.
    std::optional<QUrl> remoteURL;
    // Where the capture was found; never touched when the item goes.
    std::optional<QString> sourcePath;
    QString title;
    QString sessionID;
    std::optional<QString> promptID;
    Sources sourceKinds;
    Date createdAt;
    std::optional<Date> seenAt;
    std::optional<qint64> width;
    std::optional<qint64> height;
    std::optional<QString> captureID;

    bool isUnread() const { return !seenAt.has_value(); }

    friend bool operator==(const ShelfItem& a, const ShelfItem& b);

    // Compact JSON with the keys in ascending order, as the index stores it.
    void write(JsonWriter& out) const;
    QJsonObject toJson() const;
    // Fails as a whole on a missing required key, a wrong type or an unknown enumeration text.
    static std::optional<ShelfItem> fromJson(const QJsonValue& value);
};

size_t qHash(const ShelfItem& item, size_t seed = 0);

} // namespace ostrel
