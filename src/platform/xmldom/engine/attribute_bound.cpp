// SPDX-License-Identifier: MIT
#include "platform/xmldom/engine/attribute_bound.h"

#include <algorithm>
#include <cstring>

#include "xmlutil/load_limits.h"

namespace xmlutil::xmldom {
namespace {

bool IsQuote(unsigned c) {
    return c == '"' || c == '\'';
}

bool IsSpace(unsigned c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether `text` begins with `word` (both possibly cut short).
bool StartsWith(const std::string& text, const char* word) {
    return std::strncmp(text.c_str(), word, text.size()) == 0;
}

// The bytes a start tag's state changes on, outside its values.
struct TagMarks {
    bool marks[256] = {};
    constexpr TagMarks() {
        marks[static_cast<unsigned char>('"')] = true;
        marks[static_cast<unsigned char>('\'')] = true;
        marks[static_cast<unsigned char>('=')] = true;
        marks[static_cast<unsigned char>('>')] = true;
    }
};
constexpr TagMarks kTagMarks;

// Where the next byte at or after `at` that the scan must look at lies,
// passing over what cannot change its state (text, values, names and spaces
// in tags) a whole run at a time; `size` when there is none in `bytes`.
size_t NextMark(const unsigned char* bytes, size_t at, size_t size, char wanted, bool inTag) {
    if (inTag) {
        while (at < size && !kTagMarks.marks[bytes[at]]) ++at;
        return at;
    }
    const void* found = std::memchr(bytes + at, wanted, size - at);
    return found == nullptr ? size
                            : static_cast<size_t>(static_cast<const unsigned char*>(found) - bytes);
}

// Where the markup after a tag begins (the tag starting just after its '<',
// at `at`), when the tag is an end tag or a start tag too short to hold more
// attributes than the bound allows: each takes four bytes at least (a name,
// '=' and two quotes), and a tag ends before the next '<', which no
// attribute value may hold. `size` when the tag may be longer, or is no tag.
// Should a value hold a '<' after all, the parser stops there, before
// anything the scan passed over.
size_t MarkupAfterShortTag(const unsigned char* bytes, size_t at, size_t size) {
    const unsigned char c = bytes[at];
    if (c == '!' || c == '?') return size;
    const size_t window = c == '/' ? size - at : std::min(size - at, 4 * kMaxAttributesPerElement);
    const void* next = std::memchr(bytes + at, '<', window);
    return next == nullptr ? size
                           : static_cast<size_t>(static_cast<const unsigned char*>(next) - bytes);
}

}  // namespace

// The states nearly every byte is read in, apart so that this stays small
// enough to be inlined into the scan; the others in StepRare.
inline void AttributeBound::Step(unsigned c) {
    switch (state_) {
        case State::kText:
            if (c == '<') state_ = State::kOpen;
            return;
        case State::kStartTag:
            if (IsQuote(c)) {
                quote_ = c;
                state_ = State::kValue;
            } else if (c == '=') {
                exceeded_ = ++attributes_ > kMaxAttributesPerElement;
            } else if (c == '>') {
                state_ = State::kText;
            }
            return;
        case State::kValue:
            if (c == quote_) state_ = State::kStartTag;
            return;
        case State::kEndTag:
            if (c == '>') state_ = State::kText;
            return;
        default:
            StepRare(c);
            return;
    }
}

bool AttributeBound::Scan(const unsigned char* bytes, size_t size) {
    if (exceeded_) return false;
    if (unitSize_ == 1) {
        for (size_t i = 0; i < size && !exceeded_; ++i) {
            // Text, values and tags are nearly all of a document: only the
            // bytes that end them need a step.
            switch (state_) {
                case State::kText:
                    i = NextMark(bytes, i, size, '<', false);
                    break;
                case State::kValue:
                    i = NextMark(bytes, i, size, static_cast<char>(quote_), false);
                    break;
                case State::kEndTag:
                    i = NextMark(bytes, i, size, '>', false);
                    break;
                case State::kStartTag:
                    i = NextMark(bytes, i, size, '\0', true);
                    break;
                case State::kOpen: {
                    const size_t next = MarkupAfterShortTag(bytes, i, size);
                    if (next == size) break;
                    i = next;  // its '<' read: the loop goes on after it
                    continue;
                }
                default:
                    break;
            }
            if (i == size) break;
            Step(bytes[i]);
        }
        return !exceeded_;
    }
    for (size_t i = 0; i < size && !exceeded_; ++i) {
        const unsigned byte = bytes[i];
        unit_ = bigEndian_ ? (unit_ << 8) | byte : unit_ | (byte << (8 * phase_));
        if (++phase_ < unitSize_) continue;
        Step(unit_ < 0x80 ? unit_ : 0x80);  // only ASCII is markup
        unit_ = 0;
        phase_ = 0;
    }
    return !exceeded_;
}

void AttributeBound::Skip(const char* terminator, State after) {
    terminator_ = terminator;
    after_ = after;
    matched_ = 0;
    state_ = State::kTerminated;
}

// Matches the terminator ("-->", "]]>", "?>") as characters come; a repeated
// first character ("--->", "]]]>") keeps what matched so far.
void AttributeBound::SkipTerminated(unsigned c) {
    const auto expected = static_cast<unsigned char>(terminator_[matched_]);
    if (c == expected) {
        if (terminator_[++matched_] == '\0') state_ = after_;
        return;
    }
    const auto first = static_cast<unsigned char>(terminator_[0]);
    const bool doubled = matched_ == 2 && terminator_[1] == terminator_[0];
    if (!(doubled && c == first)) matched_ = c == first ? 1 : 0;
}

void AttributeBound::StepRare(unsigned c) {
    switch (state_) {
        case State::kText:
        case State::kStartTag:
        case State::kValue:
        case State::kEndTag:
            Step(c);
            return;
        case State::kOpen:
            if (c == '!') {
                bang_.clear();
                state_ = State::kBang;
            } else if (c == '?') {
                Skip("?>", State::kText);
            } else if (c == '/') {
                state_ = State::kEndTag;
            } else {
                attributes_ = 0;
                state_ = State::kStartTag;
            }
            return;
        case State::kBang:
            bang_.push_back(static_cast<char>(c));
            if (bang_ == "--") {
                Skip("-->", State::kText);
            } else if (bang_ == "[CDATA[") {
                Skip("]]>", State::kText);
            } else if (bang_ == "DOCTYPE") {
                state_ = State::kDoctype;
            } else if (!StartsWith(bang_, "--") && !StartsWith(bang_, "[CDATA[") &&
                       !StartsWith(bang_, "DOCTYPE")) {
                state_ = State::kDeclaration;  // not well-formed: the parser stops there
            }
            return;
        case State::kTerminated:
            SkipTerminated(c);
            return;
        case State::kDoctype:
        case State::kDeclaration:
            if (IsQuote(c)) {
                quote_ = c;
                after_ = state_;
                state_ = State::kLiteral;
            } else if (c == '[' && state_ == State::kDoctype) {
                state_ = State::kSubset;
            } else if (c == '>') {
                state_ = State::kText;
            }
            return;
        case State::kSubset:
            if (IsQuote(c)) {
                quote_ = c;
                after_ = State::kSubset;
                state_ = State::kLiteral;
            } else if (c == '<') {
                state_ = State::kSubsetOpen;
            } else if (c == ']') {
                state_ = State::kDoctypeClose;
            }
            return;
        case State::kSubsetOpen:
            if (c == '?') {
                Skip("?>", State::kSubset);
            } else if (c == '!') {
                state_ = State::kSubsetBang;
            } else {
                state_ = State::kSubset;
                Step(c);
            }
            return;
        case State::kSubsetBang:
            // A comment, or a declaration read on as part of the subset.
            if (c == '-') {
                Skip("-->", State::kSubset);
            } else {
                state_ = State::kSubset;
                Step(c);
            }
            return;
        case State::kLiteral:
            if (c == quote_) state_ = after_;
            return;
        case State::kDoctypeClose:
            if (c == '>') {
                state_ = State::kText;
            } else if (!IsSpace(c)) {
                state_ = State::kSubset;  // not well-formed: the parser stops there
            }
            return;
    }
}

}  // namespace xmlutil::xmldom
