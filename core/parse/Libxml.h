#pragma once
// The one place for what differs between the libxml2 releases the check builds on (2.9.14 to
// 2.15) and for everything it takes from libxml2 beyond its documented interface. Each use
// below says what it relies on and which tests fail when a release changes it; where a release
// offers a public way, that release uses it. Every other file of the check uses only libxml2's
// documented interface (its public functions, the SAX handler, the fields of the parser
// context and its inputs that the public headers describe).
//
// Tested releases: 2.9.14 (Debian 12 and 13) and 2.15.4 (scripts/libxml2-newest).
//
// Parts of the public headers that 2.13 and later mark as deprecated, and where the check reads
// them (the build turns the marks off, see CMakeLists.txt):
// - the parser context's validate, keepBlanks, space, disableSAX, instate, node, nodeTab,
//   nodeNr, nodelen, nodemem, atts, nsTab, and its inputs' buf (the parse steps in parse/ and
//   validity/: whether the document is validated, the element being built, the bytes left);
// - xmlElement::contModel, xmlElementContent's fields, xmlValidBuildContentModel,
//   xmlSnprintfElementContent and the xmlRegExec functions (FinishedSubtrees: the content
//   check of an element whose children were freed, as the validator does it);
// - xmlDoc::refs, xmlID::attr (FinishedSubtrees: IDs kept by name once their element is freed);
// - xmlByteConsumed (the position of an error in the file);
// - xmlThrDefParserInputBufferCreateFilenameDefault (EntityLoader: external inputs read as the
//   document is).

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlversion.h>

#include <cstddef>
#include <vector>

namespace libxml {

// Structured error handlers take the error as const since 2.12.
#if LIBXML_VERSION >= 21200
using ErrorArg = const xmlError*;
#else
using ErrorArg = xmlError*;
#endif
using ErrorHandler = void (*)(void* data, ErrorArg error);

// Options the check adds to its parse on this release. From 2.13 on, the element depth limit
// is 256 levels and only XML_PARSE_HUGE raises it (to 2048); the entity amplification checks
// hold with it since 2.11, so it lifts only length limits, which the check's memory budget
// bounds. Before, the depth limit is a global that AllowDeepDocuments raises, and
// XML_PARSE_HUGE would let entity bombs through: never used there.
int ParseOptions();
// The deepest nesting the parser accepts on this release.
int MaxElementDepth();
// Once per process, before any parse: raises the depth limit where it is a global (2.9 to 2.12).
void AllowDeepDocuments();

// Tells the XML Schema validator `validator`, plugged into the parse of `ctxt` through
// xmlSchemaSAXPlug, which parser feeds it (null: none). The plug leaves that unset, and the
// validator then takes the line of each element from nowhere: an identity constraint that
// fails (an xs:keyref without its key) is reported at the end of its scope, not at the element
// it is about. It sets xmlSchemaValidCtxt::parserCtxt, a private field whose place is the same
// in 2.9.14 and 2.15 (and which xmlSchemaValidateStream sets itself); test_xmlcheck's
// schemaErrorReportAndOrder (the keyref's line) fails if it moves.
void AttachSchemaParser(xmlSchemaValidCtxtPtr validator, xmlParserCtxtPtr ctxt);

// Once per process, before any XML Schema is compiled: the built-in atomic types whose values
// collapse their blanks (all but string, normalizedString and anySimpleType) are marked as
// needing their value normalized before it is read, and as having facets, so that the types a
// schema derives from them inherit the mark when it is compiled (xmlSchemaType::flags,
// XML_SCHEMAS_TYPE_NORMVALUENEEDED and XML_SCHEMAS_TYPE_HAS_FACETS of schemasInternals.h).
// libxml2 2.9 reads the values of int, long, short, byte, their unsigned kin and the date and
// time types as they stand, blanks and all, unless the type has a pattern or an enumeration:
// "<n> 7 </n>" is no xs:int there. 2.15 skips the blanks itself, and the mark costs it
// nothing but the collapse. test_xmlcheck's schemaVerdictsOfTheCaseSet (the measure cases,
// blanks around values) fails if it changes.
void CollapseBuiltInValues();

// Routes the errors of `ctxt` (and of the contexts it makes for external entities) to
// `handler`: 2.13 and later through xmlCtxtSetErrorHandler, which takes precedence over the
// thread's structured handler; before that they reach the thread's structured handler, which
// the caller sets (nothing is done here).
void RouteContextErrors(xmlParserCtxtPtr ctxt, ErrorHandler handler, void* data);

// Stops the parse of `ctxt` from inside a callback or the allocator: no more of the tree is
// built, nothing more reported. 2.9.14's xmlStopParser frees the input being read, which must
// not happen in the middle of an allocation: there the flags the parser checks between its
// steps are set instead.
void StopParse(xmlParserCtxtPtr ctxt);
// True once the parse of `ctxt` was stopped (by StopParse or by the parser itself).
bool ParseStopped(const xmlParserCtxt* ctxt);

// True while the parser has still to run its final check of the DTD, which it does when the
// root element starts (xmlValidateDtdFinal, from xmlSAX2StartElementNs). The flag that says so
// is libxml2's own: xmlValidCtxt::finishDtd before 2.10, a bit of xmlValidCtxt::flags after.
// tests/test_validity.cpp (unused ENTITY defaults) fails if it moves.
bool DtdFinalCheckPending(const xmlParserCtxt* ctxt);
// Marks that check as done for `ctxt`. 2.9 parses an external parsed entity with a parser
// context of its own, which runs the check again at the entity's first element, outside the
// document's error capture and without a line: the document's context ran it already.
void SkipDtdFinalCheck(xmlParserCtxtPtr ctxt);

// True when the parser reads element content (not the DTD, not an attribute value): where an
// entity reference just read stands. 2.9 says so in ctxt->instate; 2.15 no longer keeps that
// state in the pull parser (taken here as from 2.12, its rework of the parser), and the text
// before the reference
// tells: the nearest "<" or ">" before its "&" is the one of a start tag in an attribute value
// (no "<" may stand in a value) and the end of a tag in content. `nameLength` is the length of
// the entity's name.
bool InContent(const xmlParserCtxt* ctxt, std::size_t nameLength);

// True while `ctxt` parses the replacement text of a general entity. 2.9 parses it with a parser
// context of its own, so the document's context never does; 2.15 parses it in the document's
// context, under a root node of its own that becomes the entity's node list (taken here as from
// 2.12, where xmlParserInput::entity came).
bool InEntityText(const xmlParserCtxt* ctxt);

// Freeing `attr` no longer takes its ID out of the document's table: from 2.12 on (as taken
// here; 2.15 has it) an ID attribute points at its entry (xmlAttr::id), and xmlFreeProp removes
// the entry it points at.
void DetachId(xmlAttrPtr attr);

// 2.15 parses a general entity's text at its first reference only, into the entity's node
// list, and copies that list at every later one without reporting its elements to the handler;
// it parses the text again (reporting it) where the list is empty (taken here as from 2.13,
// xmlCtxtParseEntity; 2.9 reports it at every reference where a validator is plugged in).
constexpr bool kCopiesParsedEntities = LIBXML_VERSION >= 21300;
// For a reference to `entity` about to be expanded: its text is parsed again, and so reported
// again, instead of its node list being copied (the list of the last parse is freed; the
// document holds copies of it). Does nothing where kCopiesParsedEntities is false.
void ParseEntityAgain(xmlEntityPtr entity);

// Whether the parse drops its inputs when it ends (2.15; taken here as from 2.13, where
// xmlCtxtParseDocument came): a place in them must then be taken while the parse runs.
constexpr bool kDropsInputsAtEnd = LIBXML_VERSION >= 21300;

// Whether the validator's final check of the DTD reports ENTITY and ENTITIES defaults that no
// element uses: 2.9.14 does, at the root element, 2.15.4 does not (the releases between are not
// tested; the check hides unused defaults from every release, which costs nothing where the
// validator does not look).
constexpr bool kChecksUnusedEntityDefaults = LIBXML_VERSION < 21500;

// While one lives, the values of the given attribute declarations' defaults are hidden from
// the parser: its final check of the DTD (see DtdFinalCheckPending) reads
// xmlAttribute::defaultValue of every ENTITY and ENTITIES default, used or not.
class HiddenDefaults {
public:
    explicit HiddenDefaults(std::vector<xmlAttributePtr> attributes);
    ~HiddenDefaults();
    HiddenDefaults(const HiddenDefaults&) = delete;
    HiddenDefaults& operator=(const HiddenDefaults&) = delete;

private:
    std::vector<std::pair<xmlAttributePtr, const xmlChar*>> hidden_;
};

// While one lives, the validator takes the content of the element that ends as checked as it
// streamed: xmlValidateOneElement skips the content check while the validation context's
// vstateNr is not zero (the same in every release since 2.9). The check of freed subtrees
// checks that content itself; test_xmlcheck's freedSubtreesChangeNoReport fails if it changes.
class ContentCheckSkipped {
public:
    explicit ContentCheckSkipped(xmlParserCtxtPtr ctxt);
    ~ContentCheckSkipped();
    ContentCheckSkipped(const ContentCheckSkipped&) = delete;
    ContentCheckSkipped& operator=(const ContentCheckSkipped&) = delete;

private:
    xmlParserCtxtPtr ctxt_;
    bool set_ = false;
};

// Builds the error that the validator raises for `node` in the parse of `ctxt` (placed at the
// parser's current input as the validator places it, its message formatted from `message`
// with up to three strings) and hands it to `handler`; the document is then not valid.
void RaiseValidityError(xmlParserCtxtPtr ctxt, xmlNodePtr node, int code, ErrorHandler handler,
                        void* data, const char* message, const xmlChar* str1,
                        const xmlChar* str2 = nullptr, const xmlChar* str3 = nullptr);

// The tree builder refuses to add text to a node past its length limit. A document that builds
// no tree still gets that refusal from the builder itself: a node that already holds `held`
// bytes is set up as the one being added to, and the builder adds `length` more (it compares
// ctxt->nodelen with its limit, in every release since 2.9).
void AddTextAsBuilderWould(xmlParserCtxtPtr ctxt, long long held, const xmlChar* chars, int length,
                           bool cdata, void (*add)(void*, const xmlChar*, int));
// The longest text node the builder accepts with the options of `ctxt`.
long long MaxTextLength(const xmlParserCtxt* ctxt);

// Before 2.14 the tree builder adds a CDATA section that follows another to the same node; from
// 2.14 on each section is a node of its own.
constexpr bool kBuilderMergesCdata = LIBXML_VERSION < 21400;

// Before 2.12 the parser compares each attribute of a start tag with every earlier one, and
// namespace declarations likewise: the time of a start tag grows with the square of its
// attributes. From 2.12 on both are hashed, and the time is linear.
constexpr bool kQuadraticStartTags = LIBXML_VERSION < 21200;

// For the allocator, before 2.12: whether growing `block` to `size` bytes (after a growth to
// `previous` bytes, the last one seen) is a growth of an attribute table of a parser context
// of the check, and to how many attributes it makes room; 0 when it is not. 2.9.14 grows the
// table of attributes (ctxt->atts, five pointers an attribute) by doubling, and at once a
// table of one int an attribute (ctxt->attallocs); an entity's parser context grows its own.
std::size_t AttributeRoom(const xmlParserCtxt* ctxt, const void* block, std::size_t size,
                          std::size_t previous);
// Whether `block` is the namespace table of `ctxt` (two pointers a declaration).
bool IsNamespaceTable(const xmlParserCtxt* ctxt, const void* block);

}  // namespace libxml
