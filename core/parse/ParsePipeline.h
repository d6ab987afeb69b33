#pragma once
// One parse of the check: the steps that take part in it, in the order they see the parser's
// events, and the state of each, reached from every callback through the parser context (its
// _private field, which libxml2 hands on to the contexts it makes for external entities), never
// through state of the thread. What a check needs (how many errors, which schema) is given to
// the steps when the parse is set up.
//
// The steps, in the order an event reaches them (each calls the next one; after the last comes
// libxml2's tree builder, its xmlSAX2* handlers):
//   1. the schema step (schemas/SchemaCheck): XML Schema's validator plugged in front of the
//      handler, or RELAX NG's handlers, set in when the document starts;
//   2. the validity constraints the parser leaves unchecked (validity/ValidityConstraints);
//   3. the start-tag limits, only where the parser's time on a tag is quadratic
//      (parse/StartTagLimits);
//   4. freeing finished subtrees (parse/FinishedSubtrees);
//   5. the check's own handling of declarations and the DOCTYPE (check/XmlCheck: system
//      identifiers escaped and resolved against the right file, validation from the DOCTYPE on).
// Beside the chain: every error of the parse goes to the error capture (parse/XmlErrorCapture),
// and every allocation is counted by the memory budget (parse/ParserMemory; the allocator has
// no context at hand, so it alone finds the budget through the thread).
//
// A C++ exception never unwinds through libxml2's frames: each callback runs its step through
// guard(), which stops the parse and keeps the exception; rethrow() throws it once the parse
// has returned.

#include <libxml/parser.h>

#include <exception>
#include <utility>

class XmlErrorCapture;
class StartTagLimits;
class FinishedSubtrees;
class ValidityConstraints;
class SchemaValidation;

class ParsePipeline {
public:
    // Becomes the pipeline of `context`'s parse until destroyed.
    explicit ParsePipeline(_xmlParserCtxt* context);
    ~ParsePipeline();
    ParsePipeline(const ParsePipeline&) = delete;
    ParsePipeline& operator=(const ParsePipeline&) = delete;

    // The pipeline of the parse that `context` (a parser context a callback got) belongs to;
    // null for a context of no check.
    static ParsePipeline* of(const void* context) {
        return context != nullptr ? static_cast<ParsePipeline*>(
                                        static_cast<const xmlParserCtxt*>(context)->_private)
                                  : nullptr;
    }

    _xmlParserCtxt* context() const { return context_; }

    // The steps of this parse; null where a step does not take part.
    XmlErrorCapture* capture = nullptr;
    StartTagLimits* startTags = nullptr;
    FinishedSubtrees* finished = nullptr;
    ValidityConstraints* validity = nullptr;
    SchemaValidation* schema = nullptr;

    // Runs one step for a callback: an exception it throws stops the parse and is kept (the
    // first one) for rethrow().
    template <class Step>
    void guard(Step&& step) noexcept {
        try {
            std::forward<Step>(step)();
        } catch (...) {
            fail(std::current_exception());
        }
    }
    // Keeps `failure` and stops the parse.
    void fail(std::exception_ptr failure) noexcept;
    // After the parse: throws what a step threw, if anything.
    void rethrow();

private:
    _xmlParserCtxt* context_;
    void* previous_;
    std::exception_ptr failure_;
};

// Puts `hook` into the handler slot `slot` and gives back the handler that was there, or
// `fallback` (libxml2's own) when the slot was empty: the next step of the chain, for `hook` to
// call. Every step joins the chain this way.
template <class Handler>
Handler ChainHandler(Handler& slot, Handler hook, Handler fallback) {
    Handler next = slot != nullptr ? slot : fallback;
    slot = hook;
    return next;
}

// Puts `next` back into `slot` when it still holds `hook` (a step that joined later may have put
// its own back already, or keep it).
template <class Handler>
void UnchainHandler(Handler& slot, Handler hook, Handler next) {
    if (slot == hook)
        slot = next;
}
