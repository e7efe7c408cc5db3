// SPDX-License-Identifier: MIT
#include "platform/xmldom/error_guard.h"

#include <libxml/globals.h>

namespace xmlutil::xmldom {
namespace {

// A generic handler that prints nothing. Passing NULL to
// xmlSetGenericErrorFunc would reinstate the default handler, which prints.
void IgnoreGenericError(void* /*context*/, const char* /*message*/, ...) {}

// This thread's four libxml2 error-handler variables. libxml2 reaches them
// through accessor functions that test for the main thread on every use (a
// silencer made twelve such calls); their addresses never change for a
// thread, so they are looked up once. A silencer surrounds every DOM call:
// walking a million children made a million of them.
struct ErrorHandlerSlots {
    xmlStructuredErrorFunc* structured;
    void** structuredContext;
    xmlGenericErrorFunc* generic;
    void** genericContext;
};

// The slots are found once per thread and kept in plain thread-local storage:
// a thread_local with a dynamic initialiser is reached through a call per
// use, and the initial-exec model makes each read a single load (a shared
// library may use a few bytes of the static TLS area the loader reserves).
__attribute__((tls_model("initial-exec"))) thread_local ErrorHandlerSlots tSlots{};

const ErrorHandlerSlots& ThisThreadsSlots() {
    if (tSlots.structured == nullptr) {
        tSlots = ErrorHandlerSlots{&xmlStructuredError, &xmlStructuredErrorContext,
                                   &xmlGenericError, &xmlGenericErrorContext};
    }
    return tSlots;
}

}  // namespace

void IgnoreStructuredError(void* /*context*/, xmlError* /*error*/) {}

void ErrorSilencer::Record(void* silencer, xmlError* error) {
    if (silencer != nullptr && error != nullptr && error->code == XML_ERR_NO_MEMORY) {
        static_cast<ErrorSilencer*>(silencer)->outOfMemory_ = true;
    }
}

ErrorSilencer::ErrorSilencer() {
    const ErrorHandlerSlots& slots = ThisThreadsSlots();
    savedStructured_ = *slots.structured;
    savedStructuredContext_ = *slots.structuredContext;
    savedGeneric_ = *slots.generic;
    savedGenericContext_ = *slots.genericContext;
    // What xmlSetStructuredErrorFunc(this, Record) and
    // xmlSetGenericErrorFunc(nullptr, IgnoreGenericError) store.
    *slots.structured = Record;
    *slots.structuredContext = this;
    *slots.generic = IgnoreGenericError;
    *slots.genericContext = nullptr;
}

ErrorSilencer::~ErrorSilencer() {
    // Assigned directly: the setter functions would turn a saved NULL into
    // libxml2's printing default.
    const ErrorHandlerSlots& slots = ThisThreadsSlots();
    *slots.structured = savedStructured_;
    *slots.structuredContext = savedStructuredContext_;
    *slots.generic = savedGeneric_;
    *slots.genericContext = savedGenericContext_;
}

}  // namespace xmlutil::xmldom
