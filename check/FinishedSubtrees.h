#pragma once
// Inside the XML check only: the document tree is built as the parser reads, and every part of
// it that is finished is freed at once, so that the memory a check takes depends on the DTD, the
// nesting depth and the IDs the document declares, not on the document's size.
//
// When an element ends, the parser's tree builder validates it against its declaration, which
// looks at its children; then its parent takes it (and whatever came before it) as finished,
// and all of that is freed. The parent's own content is then checked here, child by child,
// exactly as the validator would check it at the parent's end (the same content model, the
// same order and text of errors, the same list of children in the report), and the validator
// is told to skip that part when the parent ends. Attributes that an IDREF check at the end of
// the document still needs are kept, with their elements, until the document is freed; IDs are
// kept by name.
//
// Only the document's own parse is touched: the text of an entity, which the parser reads with
// contexts of its own and hands over as a whole, is left as it is.

#include <memory>
#include <vector>

struct _xmlParserCtxt;

class FinishedSubtrees {
public:
    // Routes the end of every element of `context`'s parse through here, for as long as this
    // lives (on this thread). Install it after every other handler that wraps the end of an
    // element: it calls whichever handler was there.
    explicit FinishedSubtrees(_xmlParserCtxt* context);
    ~FinishedSubtrees();
    FinishedSubtrees(const FinishedSubtrees&) = delete;
    FinishedSubtrees& operator=(const FinishedSubtrees&) = delete;

    // For the handler: the element that `context` is ending.
    void endElement(_xmlParserCtxt* context, const unsigned char* localname,
                    const unsigned char* prefix, const unsigned char* uri);
    static FinishedSubtrees* current();

    struct OpenElement;

private:
    using EndHandler = void (*)(void*, const unsigned char*, const unsigned char*,
                                const unsigned char*);

    OpenElement* openElementFor(void* node);
    void release(void* parent);

    FinishedSubtrees* previous_;
    _xmlParserCtxt* context_;
    EndHandler previousEnd_;
    // The open elements whose children were freed in part, outermost first.
    std::vector<std::unique_ptr<OpenElement>> open_;
};
