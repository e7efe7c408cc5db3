// SPDX-License-Identifier: MIT
// The bound on attributes per element (kMaxAttributesPerElement), applied to
// markup before the parser reads it: libxml2 checks a tag's attributes for
// duplicates, and links each new one behind the others, in time that grows
// with the square of their number, and does so while it reads the tag,
// before any callback could stop it.
#pragma once

#include <cstddef>
#include <string>

namespace xmlutil::xmldom {

// Reads markup piece by piece (pieces may cut anything anywhere) and counts
// the attributes of each start tag, namespace declarations included: the
// '=' signs outside quoted values. Comments, CDATA sections, processing
// instructions, end tags and the document type (its internal subset with its
// quoted literals, comments and instructions) are passed over. Text in UTF-16
// or UTF-32 is read by code units of `unitSize` bytes in the given byte
// order; only ASCII matters, everything else reads as an ordinary character.
class AttributeBound {
  public:
    explicit AttributeBound(size_t unitSize = 1, bool bigEndian = false)
        : unitSize_(unitSize), bigEndian_(bigEndian) {}

    // Reads the next `size` bytes. False once a start tag had more than
    // kMaxAttributesPerElement attributes (and from then on).
    bool Scan(const unsigned char* bytes, size_t size);

  private:
    enum class State {
        kText,          // content: waiting for '<'
        kOpen,          // after '<'
        kStartTag,      // inside a start tag, outside a value
        kValue,         // inside a quoted attribute value
        kEndTag,        // inside an end tag
        kBang,          // after "<!", deciding what follows
        kTerminated,    // inside a comment, CDATA section or instruction
        kDoctype,       // inside <!DOCTYPE before its internal subset
        kSubset,        // inside the internal subset
        kSubsetOpen,    // after '<' in the internal subset
        kSubsetBang,    // after "<!" in the internal subset
        kLiteral,       // inside a quoted literal of the document type
        kDoctypeClose,  // after the subset's ']', waiting for '>'
        kDeclaration,   // inside another "<!" construct of the content
    };

    void Step(unsigned c);
    void StepRare(unsigned c);
    void Skip(const char* terminator, State after);
    void SkipTerminated(unsigned c);

    size_t unitSize_;
    bool bigEndian_;
    size_t phase_ = 0;  // bytes of the current code unit seen so far
    unsigned unit_ = 0;
    State state_ = State::kText;
    State after_ = State::kText;   // where a literal or terminated run returns to
    unsigned quote_ = 0;           // the quote a value or literal ends with
    const char* terminator_ = "";  // what ends a terminated run
    size_t matched_ = 0;           // of the terminator, or of "<!" words
    std::string bang_;             // characters after "<!" while deciding
    size_t attributes_ = 0;
    bool exceeded_ = false;
};

}  // namespace xmlutil::xmldom
