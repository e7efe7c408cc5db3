// SPDX-License-Identifier: MIT
// Keeps libxml2 quiet for the lifetime of a scope. libxml2 reports errors
// through per-thread handlers that print to stderr by default, and some
// reports (encoding conversion, saving, XPath compilation, undefined
// prefixes) bypass a parser context's own handler. The guard installs
// handlers that drop every report and restores the previous ones on exit, so
// a host program that set its own handlers gets them back unchanged.
#pragma once

#include <libxml/xmlerror.h>

namespace xmlutil::xmldom {

// Drops a structured error report (usable as a parser's `sax->serror` or an
// XPath context's `error`).
void IgnoreStructuredError(void* context, xmlError* error);

namespace detail {

// This thread's four libxml2 error-handler variables. libxml2 reaches them
// through accessor functions that test for the main thread on every use (a
// silencer made twelve such calls); their addresses never change for a
// thread, so they are looked up once. A silencer surrounds every DOM call
// (building a million elements makes several million of them), so it is
// made inline. The slots sit in ordinary (dynamic-model) thread-local storage,
// so the library can be loaded with dlopen; the build uses TLS descriptors,
// which make each read a load plus one short call where the loader placed the
// block in static TLS.
struct ErrorHandlerSlots {
    xmlStructuredErrorFunc* structured;
    void** structuredContext;
    xmlGenericErrorFunc* generic;
    void** genericContext;
};
extern __thread ErrorHandlerSlots tErrorHandlerSlots;
// Looks this thread's slots up (the first silencer on a thread).
const ErrorHandlerSlots& FindErrorHandlerSlots();
inline const ErrorHandlerSlots& ErrorHandlerSlotsOfThisThread() {
    return tErrorHandlerSlots.structured != nullptr ? tErrorHandlerSlots : FindErrorHandlerSlots();
}
// A generic handler that prints nothing. Passing NULL to
// xmlSetGenericErrorFunc would reinstate the default handler, which prints.
void IgnoreGenericError(void* context, const char* message, ...);

}  // namespace detail

class ErrorSilencer {
  public:
    inline ErrorSilencer();
    inline ~ErrorSilencer();
    ErrorSilencer(const ErrorSilencer&) = delete;
    ErrorSilencer& operator=(const ErrorSilencer&) = delete;

    // True once libxml2 reported running out of memory while this object was
    // installed. libxml2 often carries on after such a report with a partial
    // result (a shorter node-set, a missing node), so callers check it.
    bool OutOfMemory() const { return outOfMemory_; }
    void NoteOutOfMemory() { outOfMemory_ = true; }

    // A structured error handler whose context is an ErrorSilencer: drops the
    // report, noting memory exhaustion. Usable for handlers libxml2 calls
    // instead of the global one (an XPath context's `error`).
    static void Record(void* silencer, xmlError* error);

    // Hands every report that reaches this silencer on to `handler` too (the
    // reports that bypass a parser context's own handler: encoding
    // conversion among them).
    void ForwardTo(xmlStructuredErrorFunc handler, void* context) {
        forward_ = handler;
        forwardContext_ = context;
    }

  private:
    bool outOfMemory_ = false;
    xmlStructuredErrorFunc forward_ = nullptr;
    void* forwardContext_ = nullptr;
    xmlStructuredErrorFunc savedStructured_;
    void* savedStructuredContext_;
    xmlGenericErrorFunc savedGeneric_;
    void* savedGenericContext_;
};

ErrorSilencer::ErrorSilencer() {
    const detail::ErrorHandlerSlots& slots = detail::ErrorHandlerSlotsOfThisThread();
    savedStructured_ = *slots.structured;
    savedStructuredContext_ = *slots.structuredContext;
    savedGeneric_ = *slots.generic;
    savedGenericContext_ = *slots.genericContext;
    // What xmlSetStructuredErrorFunc(this, Record) and
    // xmlSetGenericErrorFunc(nullptr, IgnoreGenericError) store.
    *slots.structured = Record;
    *slots.structuredContext = this;
    *slots.generic = detail::IgnoreGenericError;
    *slots.genericContext = nullptr;
}

ErrorSilencer::~ErrorSilencer() {
    // Assigned directly: the setter functions would turn a saved NULL into
    // libxml2's printing default.
    const detail::ErrorHandlerSlots& slots = detail::tErrorHandlerSlots;
    *slots.structured = savedStructured_;
    *slots.structuredContext = savedStructuredContext_;
    *slots.generic = savedGeneric_;
    *slots.genericContext = savedGenericContext_;
}

}  // namespace xmlutil::xmldom
