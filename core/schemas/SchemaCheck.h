#pragma once
// Checking documents against schemas besides the parse: one W3C XML Schema or RELAX NG schema
// compiled once and shared by every thread, or the XML Schemas that each document names itself
// (xsi:schemaLocation, xsi:noNamespaceSchemaLocation on its root element), compiled once per
// distinct set of schemas and shared as well. Schemas are read as DTDs are: local files and the
// XML catalog only, never the network, regular files only. Plain code without widgets.
//
// The schema is checked in the same parse as the document (a compiled schema is only read
// while a document is checked; each check has a validation context of its own). Its errors
// count only when the document loads otherwise: the parser's own verdict and report come
// first and stay as they are.

#include "parse/CheckResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <vector>

struct _xmlParserCtxt;

enum class SchemaLanguage { XmlSchema, RelaxNg };

class SchemaSet {
public:
    struct Compiled;
    struct Hints;

    ~SchemaSet();
    SchemaSet(const SchemaSet&) = delete;
    SchemaSet& operator=(const SchemaSet&) = delete;

    // Compiles the schema in `file`. Null when it cannot be read or does not compile; `error`
    // then holds the first error (the file and line of the schema that holds it, its message).
    // A compile that runs past the time limit (10 s) is stopped at its next allocation, and
    // one model group may hold at most kMaxModelGroupParticles particles: libxml2 compares
    // each alternative of a group with every other one.
    static std::shared_ptr<const SchemaSet> compile(SchemaLanguage language, const QString& file,
                                                    ParseErrorReport* error);
    // The same for one schema made of several documents: for an XML Schema, each document
    // takes part as a document's several schemaLocation hints would (one with no
    // targetNamespace is included, the others imported with their namespace). A RELAX NG
    // schema is one document.
    static std::shared_ptr<const SchemaSet> compile(SchemaLanguage language,
                                                    const QStringList& files,
                                                    ParseErrorReport* error);
    // Each document is checked against the schemas that it names: the XML Schemas of its
    // root element's xsi:schemaLocation and xsi:noNamespaceSchemaLocation, and the XML Schemas
    // and RELAX NG schemas of the xml-model processing instructions before its root element.
    // One that names none is checked as without a schema.
    static std::shared_ptr<const SchemaSet> documentHints();
    // The time a compile may take from now on (0: back to 10 s).
    static void setCompileTimeLimit(std::chrono::milliseconds limit);
    static constexpr int kMaxModelGroupParticles = 5000;

    bool usesHints() const { return hints_ != nullptr; }
    // The schema given to compile (null with hints).
    const Compiled* compiled() const { return compiled_.get(); }
    // With hints: the compiled schema for the locations a document names (namespace, location
    // pairs resolved to addresses), compiled on first use and then shared. Thread-safe.
    std::shared_ptr<const Compiled> forLocations(
        const std::vector<std::pair<QByteArray, QByteArray>>& locations) const;
    // With hints: the RELAX NG schema at `address`, compiled on first use and then shared.
    // Thread-safe.
    std::shared_ptr<const Compiled> forRelaxNg(const QByteArray& address) const;
    // With hints: the targetNamespace of the XML Schema document at `address` (empty when it
    // has none or cannot be read: its compile then tells why), read once. Thread-safe.
    QByteArray targetNamespaceOf(const QByteArray& address) const;

private:
    SchemaSet();
    std::shared_ptr<const Compiled> compiled_;
    std::unique_ptr<Hints> hints_;
};

// The schema error as a usage message: "FILE:LINE: MESSAGE" (no line when not known).
QString SchemaErrorText(const ParseErrorReport& error);

class ParsePipeline;

// True when checks against `set` validate against the document's tree (RELAX NG), which must
// then be kept.
bool SchemaNeedsTree(const SchemaSet* set);

// For the XML check: the schema step of one parse (see ParsePipeline), the first to see its
// events. Created after the other steps joined the chain and before the parse begins (it
// chains the handlers it needs when the document starts), and destroyed before the parser
// context is freed. Does nothing without a schema set.
class SchemaValidation {
public:
    // `set` is checked against (null: nothing is); up to `errorsKept` schema errors are kept.
    // `documentUrl` is the document's address as the parser has it, `shown` how reports name
    // the document.
    SchemaValidation(ParsePipeline& pipeline, const SchemaSet* set, int errorsKept,
                     const QByteArray& documentUrl, const QString& shown);
    ~SchemaValidation();
    SchemaValidation(const SchemaValidation&) = delete;
    SchemaValidation& operator=(const SchemaValidation&) = delete;

    // After a parse that loaded the document: a schema error makes it invalid, with the report
    // of the first schema error (and the later ones as far as errorsKept allows). True
    // when it did.
    bool finish(CheckResult& result);

    // True when the step reads the document's tree: RELAX NG looks at each element's node when
    // it starts, checks some elements whole at their end (with their subtree), and checks the
    // whole tree at the document's end when an entity was referred to twice. A parse that frees
    // finished subtrees must keep them while this is true. An XML Schema needs no tree.
    bool needsTree() const;

    struct State;
    State* state() const { return state_.get(); }

private:
    ParsePipeline& pipeline_;
    std::unique_ptr<State> state_;
};
