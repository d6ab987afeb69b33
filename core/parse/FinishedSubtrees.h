#pragma once
// Inside the XML check only: the document tree is built as the parser reads, and every part of
// it that is finished is freed at once, so that the memory a check takes depends on the DTD, the
// nesting depth and the IDs the document declares, not on the document's size.
//
// When an element ends, the parser's tree builder validates it against its declaration, which
// looks at its children. Now and then (after a thousand elements, or a megabyte) the tree is
// folded: every open element gives up its finished children, and all of that is freed. The
// content of an element that gave up children is then checked here, child by child,
// exactly as the validator would check it at the parent's end (the same content model, the
// same order and text of errors, the same list of children in the report), and the validator
// is told to skip that part when the parent ends. Attributes that an IDREF check at the end of
// the document still needs are kept, with their elements, until the document is freed; IDs are
// kept by name.
//
// Only the document's own parse is touched: the text of an entity, which the parser reads with
// contexts of its own and hands over as a whole, is left as it is.
//
// A document without a DOCTYPE builds no tree at all (nothing validates it, and the parser
// itself finds every other error), but for what the tree builder itself would refuse: a run of
// text longer than the parser's limit for one text node is counted as the builder counts it
// and refused by the builder, and an element that carries xml:id (whose uniqueness the builder
// checks) is built, with its content, and freed at its end.

#include <cstddef>
#include <memory>
#include <vector>

#include "parse/ParsePipeline.h"

struct _xmlParserCtxt;

// A step of the parse (see ParsePipeline): it joins the chain of element starts and ends, text,
// comments and processing instructions, for as long as it lives.
class FinishedSubtrees {
public:
    explicit FinishedSubtrees(ParsePipeline& pipeline);
    ~FinishedSubtrees();
    FinishedSubtrees(const FinishedSubtrees&) = delete;
    FinishedSubtrees& operator=(const FinishedSubtrees&) = delete;

    // Folds the tree after every `elements` ended elements (for comparisons: 1 folds at every
    // end; the default is far rarer).
    void setFoldEvery(int elements);

    // From now on every element is built (the document declared a DOCTYPE, which comes before
    // its first element).
    void buildTree() { treeless_ = false; }
    // From now on every element is built and nothing is freed: a check that reads the whole
    // tree starts here (call it before the root element is built, while nothing was freed).
    void keepWholeTree() {
        treeless_ = false;
        keepAll_ = true;
    }

    // For the handlers.
    void endElement(_xmlParserCtxt* context, const unsigned char* localname,
                    const unsigned char* prefix, const unsigned char* uri);
    void startElement(_xmlParserCtxt* context, const unsigned char* localname,
                      const unsigned char* prefix, const unsigned char* uri, int namespaces,
                      const unsigned char** declared, int attributes, int defaulted,
                      const unsigned char** values);
    void text(_xmlParserCtxt* context, const unsigned char* chars, int length, bool cdata);
    // A comment or processing instruction in an element that is not built.
    void otherChild();
    // True when what `context` parses now goes into the tree.
    bool builds(const _xmlParserCtxt* context) const;
    // The step of the parse that `context` belongs to, or null.
    static FinishedSubtrees* of(const void* context) {
        const ParsePipeline* pipeline = ParsePipeline::of(context);
        return pipeline != nullptr ? pipeline->finished : nullptr;
    }

    struct OpenElement;
    struct Next;
    // The steps after this one.
    const Next& next() const { return *next_; }

private:
    OpenElement* openElementFor(void* node);
    std::unique_ptr<OpenElement> openElement(void* node) const;
    // Frees the finished children of every open element.
    void foldPath();

    // What the tree builder would know of an element that is not built.
    struct Unbuilt {
        bool hasChildren = false;
        bool firstIsText = false;
    };
    bool ignorableBlanks(_xmlParserCtxt* context, const unsigned char* chars, int length) const;
    void refuseHugeText(_xmlParserCtxt* context, const unsigned char* chars, int length,
                        bool cdata);
    void endRun() { run_ = Run::None; }

    ParsePipeline& pipeline_;
    _xmlParserCtxt* context_;
    std::unique_ptr<Next> next_;
    bool treeless_ = true;
    bool keepAll_ = false;
    std::vector<Unbuilt> unbuilt_;  // the open elements that are not built, outermost first
    enum class Run { None, Text, Cdata };
    Run run_ = Run::None;  // the kind of the text node the builder would be adding to
    long long runLength_ = 0;
    int foldEvery_;
    long long maxText_ = -1;  // the longest text node the builder takes (-1: not yet known)
    int endedSinceFold_ = 0;
    std::size_t usedAtFold_ = 0;
    // The open elements whose children were freed in part, outermost first.
    std::vector<std::unique_ptr<OpenElement>> open_;
};
