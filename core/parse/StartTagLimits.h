#pragma once
// Inside the XML check only: how many attributes and namespace declarations one start tag may
// hold, where the parser needs it (releases before 2.12, see libxml::kQuadraticStartTags).
// libxml2 2.9 compares each attribute of a start tag with every earlier one, and links each
// new attribute node after walking all the earlier ones, so one element of 100,000 attributes
// (a file of 1.1 MB) takes seconds, and ten times as many take minutes; namespace declarations
// likewise. A start tag beyond the limits is refused with a reason that says so: before its
// element is built when it holds up to twice the limit, and while it is being read when it
// holds more (so that a tag of millions of attributes is stopped long before the comparisons),
// also in the text of an entity, which the parser reads with contexts of its own.
//
// Attributes that the DTD supplies by default are not limited: their number is declared, not
// read from a tag, and the document's own DTD is checked as it is.

#include "parse/ParsePipeline.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

struct _xmlParserCtxt;
struct _xmlSAXHandler;

// Before 2.12 (libxml::kQuadraticStartTags) 20,000 attributes on one tag take the parser half a
// second and 100,000 take twenty: the limit stands where the time passes about a second. From
// 2.12 on the parser's work is linear and no limit applies.
constexpr int kMaxAttributesPerStartTag = 25000;
constexpr int kMaxNamespacesPerStartTag = 25000;

// A step of the parse (see ParsePipeline): while it lives, the checks of start tags apply to
// the pipeline's parse. It joins the chain of the element starts, attribute declarations and
// entity look-ups; a start tag within the limits goes on to the next step.
class StartTagLimits {
public:
    explicit StartTagLimits(ParsePipeline& pipeline);
    ~StartTagLimits();
    StartTagLimits(const StartTagLimits&) = delete;
    StartTagLimits& operator=(const StartTagLimits&) = delete;

    // The limits of the parse that `context` belongs to, or null.
    static StartTagLimits* of(const void* context) {
        const ParsePipeline* pipeline = ParsePipeline::of(context);
        return pipeline != nullptr ? pipeline->startTags : nullptr;
    }

    // A context that parses the text of an external entity, from when its input opens until
    // the input closes (the context is freed only after its inputs).
    void watchEntityContext(_xmlParserCtxt* context);
    void forgetEntityContext(_xmlParserCtxt* context);
    // An internal entity declared with `content` as its text: a reference to it is refused
    // when a start tag of its text holds more namespace declarations than a tag is let hold
    // while it is read (a start tag lies whole in one entity's text).
    void noteEntity(const unsigned char* name, const unsigned char* content);

    // For the allocator: false when `block` is the attribute or namespace table of the parse
    // and growing it to `size` bytes means a start tag far beyond the limits; the parse is then
    // stopped with the reason (and the growth must be refused).
    bool mayGrow(const void* block, std::size_t size);

    struct Next;

private:
    friend struct StartTagHooks;
    // Records the refusal and stops the parse.
    void refuse(_xmlParserCtxt* at, const QString& reason);

    ParsePipeline& pipeline_;
    _xmlParserCtxt* context_;
    std::unique_ptr<Next> next_;  // the steps after this one
    std::size_t lastGrowth_ = 0;  // the size of the last block that grew
    std::vector<_xmlParserCtxt*> entityContexts_;
    QList<QByteArray> crowdedEntities_;  // entities with too many declarations in one tag
    QHash<QByteArray, int> defaults_;    // the attribute defaults declared for each element name
    int mostDefaults_ = 0;               // the most of them for one element name
    bool refused_ = false;
};
