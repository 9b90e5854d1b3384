#pragma once

#include "Platform/Date.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace ostrel {

// Writes compact JSON straight into bytes. The persisted files are large (tens of thousands of
// records) and building a QJsonDocument first costs several times the write itself. Callers
// write object keys in ascending order; debug builds check it.
class JsonWriter {
public:
    JsonWriter() { out_.reserve(1 << 16); }

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(QStringView name);

    void string(QStringView text);
    void number(double value);
    void integer(qint64 value);
    void date(Date value) { number(value.seconds); }
    void url(const QUrl& value);

    // An object of the given entries with their keys in ascending order of their UTF-8 bytes.
    template <typename Map, typename WriteValue>
    void sortedObject(const Map& map, WriteValue writeValue) {
        std::vector<std::pair<QByteArray, typename Map::const_iterator>> entries;
        entries.reserve(static_cast<size_t>(map.size()));
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            entries.emplace_back(it.key().toUtf8(), it);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        beginObject();
        for (const auto& [utf8, it] : entries) {
            key(it.key());
            writeValue(it.value());
        }
        endObject();
    }

    QByteArray take() { return std::move(out_); }

private:
    void separate();
    void quoted(QStringView text);

    struct Level {
        bool first = true;
        bool isObject = false;
        QByteArray lastKey;
    };
    QByteArray out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

} // namespace ostrel
