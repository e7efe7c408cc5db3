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

class ErrorSilencer {
  public:
    ErrorSilencer();
    ~ErrorSilencer();
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

  private:
    bool outOfMemory_ = false;
    xmlStructuredErrorFunc savedStructured_;
    void* savedStructuredContext_;
    xmlGenericErrorFunc savedGeneric_;
    void* savedGenericContext_;
};

}  // namespace xmlutil::xmldom
