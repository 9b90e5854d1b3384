#include "OstrelCore/Engine/JsonSkim.h"

#include "OstrelCore/Records/JsonText.h"

#include <QByteArray>
#include <QLatin1String>

#include <array>
#include <cstring>

namespace ostrel {

namespace {

// QJsonDocument refuses deeper nesting; the top level counts as one.
constexpr int nestingLimit = 1024;

using JsonText::hexDigit;
using JsonText::isDigit;
using JsonText::isSpace;
using JsonText::nextSpecial;
using JsonText::unescape;
using JsonText::utf8Length;

} // namespace

class JsonSkim::Reader {
public:
    Reader(QByteArrayView text, std::span<const std::string_view> names, std::vector<Node>& nodes)
        : start_(text.data()), p_(text.data()), end_(text.data() + text.size()), names_(names),
          nodes_(nodes) {}

    bool read() {
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) {
            p_ += 3;
        }
        space();
        if (p_ == end_ || *p_ != '{') {
            return false;
        }
        if (!values()) {
            return false;
        }
        space();
        return p_ == end_;
    }

private:
    struct Frame {
        // The container's node, when kept.
        std::uint32_t node;
        bool object;
        bool keep;
    };

    // Reads the value at p_, a container with everything in it, keeping what the names ask for.
    // Iterative, so that deep nesting needs no deep stack.
    bool values() {
        std::array<Frame, nestingLimit> stack;
        int depth = 0;
        bool keep = true;
        std::int16_t name = -1;
        for (;;) {
            if (p_ == end_) {
                return false;
            }
            const char c = *p_;
            if (c == '{' || c == '[') {
                if (depth == nestingLimit) {
                    return false;
                }
                ++p_;
                const bool object = c == '{';
                stack[depth++] =
                    Frame{keep ? push(object ? Kind::object : Kind::array, name) : 0, object, keep};
                space();
                if (p_ == end_) {
                    return false;
                }
                if (*p_ != (object ? '}' : ']')) {
                    if (!object) {
                        name = -1;
                    } else if (!member(keep, keep, name)) {
                        return false;
                    }
                    continue;
                }
                ++p_;
                close(stack[--depth]);
            } else if (!scalar(keep, name)) {
                return false;
            }

            // After a value: close what ends here, then go on to the next value, if any.
            for (;;) {
                if (depth == 0) {
                    return true;
                }
                const Frame& frame = stack[depth - 1];
                space();
                if (p_ == end_) {
                    return false;
                }
                if (*p_ == ',') {
                    ++p_;
                    space();
                    if (frame.object) {
                        if (!member(frame.keep, keep, name)) {
                            return false;
                        }
                    } else {
                        keep = frame.keep;
                        name = -1;
                    }
                    break;
                }
                if (*p_ != (frame.object ? '}' : ']')) {
                    return false;
                }
                ++p_;
                close(stack[--depth]);
            }
        }
    }

    // A member's name and colon, leaving p_ at its value; whether to keep that value and under
    // which name.
    bool member(bool keepObject, bool& keep, std::int16_t& name) {
        if (p_ == end_ || *p_ != '"') {
            return false;
        }
        ++p_;
        const char* begin = p_;
        bool escaped = false;
        if (!string(escaped)) {
            return false;
        }
        name = keepObject ? nameIndex(begin, p_ - 1, escaped) : -1;
        keep = name >= 0;
        space();
        if (p_ == end_ || *p_ != ':') {
            return false;
        }
        ++p_;
        space();
        return true;
    }

    bool scalar(bool keep, std::int16_t name) {
        const char c = *p_;
        if (c == '"') {
            ++p_;
            const char* begin = p_;
            bool escaped = false;
            if (!string(escaped)) {
                return false;
            }
            if (keep) {
                push(Kind::string, name, begin, p_ - 1, escaped);
            }
            return true;
        }
        if (c == 't' || c == 'f' || c == 'n') {
            const std::string_view word = c == 't' ? "true" : c == 'f' ? "false" : "null";
            if (end_ - p_ < qsizetype(word.size()) ||
                std::memcmp(p_, word.data(), word.size()) != 0) {
                return false;
            }
            p_ += word.size();
            if (keep) {
                push(c == 'n' ? Kind::null : Kind::boolean, name, nullptr, nullptr, c == 't');
            }
            return true;
        }
        const char* begin = p_;
        if (!number()) {
            return false;
        }
        if (keep) {
            push(Kind::number, name, begin, p_);
        }
        return true;
    }

    // The rest of a string after its opening quote, leaving p_ after the closing one.
    bool string(bool& escaped) {
        for (;;) {
            p_ = nextSpecial(p_, end_);
            if (p_ == end_) {
                return false;
            }
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c == '\\') {
                escaped = true;
                if (end_ - p_ < 2) {
                    return false;
                }
                const char e = p_[1];
                p_ += 2;
                if (e == 'u') {
                    if (end_ - p_ < 4) {
                        return false;
                    }
                    for (int i = 0; i < 4; ++i) {
                        if (hexDigit(p_[i]) < 0) {
                            return false;
                        }
                    }
                    p_ += 4;
                }
                continue;
            }
            const int length = utf8Length(reinterpret_cast<const unsigned char*>(p_),
                                          reinterpret_cast<const unsigned char*>(end_));
            if (length == 0) {
                return false;
            }
            p_ += length;
        }
    }

    // A number as Qt reads one: the loose shape below, then whatever its text-to-number
    // conversion accepts, which refuses "1e400" and "1e-400" but takes "1." and ".5".
    bool number() {
        const char* begin = p_;
        const auto [stop, digitsEnd, whole] = JsonText::numberShape(p_, end_);
        p_ = stop;
        if (p_ == end_) {
            return false;
        }
        // Plain integers of up to 18 digits always fit: the common case needs no conversion.
        const qsizetype digits = digitsEnd - begin - (*begin == '-' ? 1 : 0);
        if (p_ == digitsEnd && digits > 0 && digits <= 18) {
            return true;
        }
        const QByteArray text = QByteArray::fromRawData(begin, p_ - begin);
        bool ok = false;
        if (whole) {
            (void)text.toLongLong(&ok);
        }
        if (!ok) {
            (void)text.toDouble(&ok);
        }
        return ok;
    }

    void space() {
        while (p_ != end_ && isSpace(*p_)) {
            ++p_;
        }
    }

    std::int16_t nameIndex(const char* begin, const char* end, bool escaped) const {
        if (!escaped) {
            const auto length = size_t(end - begin);
            for (size_t i = 0; i < names_.size(); ++i) {
                if (names_[i].size() == length &&
                    std::memcmp(names_[i].data(), begin, length) == 0) {
                    return std::int16_t(i);
                }
            }
            return -1;
        }
        const QString text = unescape(begin, end);
        for (size_t i = 0; i < names_.size(); ++i) {
            if (text == QLatin1String(names_[i].data(), qsizetype(names_[i].size()))) {
                return std::int16_t(i);
            }
        }
        return -1;
    }

    std::uint32_t push(Kind kind, std::int16_t name, const char* begin = nullptr,
                       const char* end = nullptr, bool flag = false) {
        Node node;
        node.kind = kind;
        node.name = name;
        node.flag = flag;
        node.begin = begin ? begin - start_ : 0;
        node.end = end ? end - start_ : 0;
        nodes_.push_back(node);
        nodes_.back().next = std::uint32_t(nodes_.size());
        return std::uint32_t(nodes_.size() - 1);
    }

    void close(const Frame& frame) {
        if (frame.keep) {
            nodes_[frame.node].next = std::uint32_t(nodes_.size());
        }
    }

    const char* const start_;
    const char* p_;
    const char* const end_;
    std::span<const std::string_view> names_;
    std::vector<Node>& nodes_;
};

std::optional<JsonSkim> JsonSkim::object(QByteArrayView text,
                                         std::span<const std::string_view> names) {
    JsonSkim skim(text);
    skim.nodes_.reserve(64);
    Reader reader(text, names, skim.nodes_);
    if (!reader.read()) {
        return std::nullopt;
    }
    return skim;
}

JsonSkim::Value JsonSkim::Value::operator[](std::size_t name) const {
    if (!isObject()) {
        return {};
    }
    const auto& nodes = skim_->nodes_;
    Value found;
    for (std::uint32_t i = index_ + 1; i < nodes[index_].next; i = nodes[i].next) {
        if (nodes[i].name == std::int16_t(name)) {
            found = Value(skim_, i);
        }
    }
    return found;
}

JsonSkim::Elements JsonSkim::Value::elements() const {
    if (!isArray()) {
        return Elements(skim_, 0, 0);
    }
    return Elements(skim_, index_ + 1, node().next);
}

std::optional<QString> JsonSkim::Value::string() const {
    if (!isString()) {
        return std::nullopt;
    }
    const Node& n = node();
    const char* begin = skim_->text_.data() + n.begin;
    const char* end = skim_->text_.data() + n.end;
    if (n.flag) {
        return unescape(begin, end);
    }
    return QString::fromUtf8(begin, end - begin);
}

bool JsonSkim::Value::is(std::string_view text) const {
    if (!isString()) {
        return false;
    }
    const Node& n = node();
    if (n.flag) {
        return *string() == QLatin1String(text.data(), qsizetype(text.size()));
    }
    return n.end - n.begin == qsizetype(text.size()) &&
           std::memcmp(skim_->text_.data() + n.begin, text.data(), text.size()) == 0;
}

} // namespace ostrel
