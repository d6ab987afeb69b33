#pragma once
// Random documents with DTDs, for comparing two ways of checking the same bytes: content models
// of every kind (EMPTY, ANY, text only, mixed, sequences and choices, models that are not
// deterministic), elements declared or not, IDs, IDREF(S), defaults, entities holding elements
// and text, internal or external subsets, standalone or not, prefixes, comments, CDATA,
// character references, long runs of children, and now and then a broken tag. Most documents
// are invalid somewhere, which is the point: the errors and their order must agree.

#include <QByteArray>
#include <QString>

#include <cstdint>

class GeneratedDocuments {
public:
    explicit GeneratedDocuments(std::uint32_t start) : random_(start) {}

    // The external subset that the document last made may name as "ext.dtd"; write it beside
    // the document before checking it.
    QByteArray externalSubset() const { return external_; }

    QByteArray next() {
        // Every other document keeps to its DTD but for rare slips, so that valid documents and
        // late errors in long ones are tried as well as early ones.
        lawful_ = chance(2);
        nextId_ = 0;
        undeclared_ = chance(3);  // no DOCTYPE at all: nothing validates, no tree is needed
        makeDtd();
        const bool externalDtd = chance(3);
        const bool standalone = chance(3);
        QByteArray doc = "<?xml version=\"1.0\"";
        if (chance(2))
            doc += standalone ? " standalone=\"yes\"" : " standalone=\"no\"";
        doc += "?>\n";
        if (!undeclared_) {
            doc += "<!DOCTYPE " + (!lawful_ && chance(20) ? QByteArray("other") : name(0));
            if (externalDtd)
                doc += " SYSTEM \"ext.dtd\"";
            if (!externalDtd || chance(2))
                doc += " [\n" + internal_ + "]";
            doc += ">\n";
        }
        QByteArray body;
        element(body, 0, 0, true);
        if (chance(lawful_ ? 60 : 15))  // a broken tag somewhere
            body.insert(pick(static_cast<int>(body.size())), "<broken>");
        return doc + body + (chance(10) ? "<!-- after -->\n" : "\n");
    }

private:
    static constexpr int kNames = 6;

    std::uint32_t nextRandom() {
        random_ = random_ * 1664525u + 1013904223u;
        return random_ >> 8;
    }
    int pick(int n) { return n <= 0 ? 0 : static_cast<int>(nextRandom() % unsigned(n)); }
    bool chance(int oneIn) { return pick(oneIn) == 0; }

    QByteArray name(int i) const {
        return (i % 3 == 2 ? QByteArray("p:") : QByteArray()) + "e" + QByteArray::number(i);
    }

    enum Kind { Anything, Nothing, TextOnly, ElementsOnly };

    QByteArray model(int i) {
        const QByteArray a = name(pick(kNames)), b = name(pick(kNames));
        if (lawful_) {
            QByteArray all;
            for (int k = 0; k < kNames; ++k)
                all += (k > 0 ? "|" : "") + name(k);
            switch (pick(5)) {
                case 0:
                    kinds_[i] = Nothing;
                    return "EMPTY";
                case 1:
                    kinds_[i] = Anything;
                    return "ANY";
                case 2:
                    kinds_[i] = TextOnly;
                    return "(#PCDATA)";
                case 3:
                    kinds_[i] = Anything;
                    return "(#PCDATA|" + all + ")*";
                default:
                    kinds_[i] = ElementsOnly;
                    return "(" + all + ")*";
            }
        }
        switch (pick(11)) {
            case 0:
                return "EMPTY";
            case 1:
                return "ANY";
            case 2:
                return "(#PCDATA)";
            case 3:
                return "(#PCDATA|" + a + "|" + b + ")*";
            case 4:
                return "(" + a + "," + b + "?)*";
            case 5:
                return "(" + a + "|" + b + ")+";
            case 6:
                return "(" + a + "*," + b + ")";
            case 7:
                return "((" + a + "," + b + ")|(" + a + "," + name(pick(kNames)) + "))";
            case 8:
                return "(" + a + ")";
            case 9:
                return "(" + a + "|" + b + ")*";
            default:
                return "(" + a + "?," + b + "*)";
        }
    }

    void makeDtd() {
        QByteArray internal, external;
        for (int i = 0; i < kNames; ++i) {
            QByteArray& into = chance(3) ? external : internal;
            kinds_[i] = Anything;
            if (lawful_ || !chance(8))
                into += "<!ELEMENT " + name(i) + " " + model(i) + ">\n";
            if (chance(2) || (lawful_ && i == 0)) {
                into += "<!ATTLIST " + name(i) +
                        " id ID #IMPLIED ref IDREF #IMPLIED refs IDREFS "
                        "#IMPLIED";
                if (!lawful_ && chance(4))
                    into += " n NMTOKEN #REQUIRED";
                if (chance(3))
                    into += " c CDATA \"d\" t (x|y) \"x\"";
                if (i == 0)
                    into += " xmlns:p CDATA #FIXED \"urn:p\"";
                into += ">\n";
            }
        }
        internal += "<!ENTITY t \"text\">\n<!ENTITY el \"<" + name(pick(kNames)) + "/>\">\n";
        // An element in an entity closes with its own name.
        const QByteArray inner = name(pick(kNames));
        internal += "<!ENTITY mixed \"a<" + inner + " id='m" + QByteArray::number(pick(9)) +
                    "'>b</" + inner + ">\">\n<!ENTITY sp \"&#32;\">\n<!ENTITY nil \"\">\n";
        internal_ = internal;
        external_ = external;
    }

    void attributes(QByteArray& out) {
        if (chance(undeclared_ ? 4 : 30))
            out += " xml:id=\"x" + QByteArray::number(pick(undeclared_ ? 30 : 6)) + "\"";
        if (lawful_ && !chance(40)) {
            if (chance(3))
                out += " id=\"v" + QByteArray::number(nextId_++) + "\"";
            if (nextId_ > 0 && chance(4))
                out += " ref=\"v" + QByteArray::number(pick(nextId_)) + "\"";
            return;
        }
        if (chance(3))
            out += " id=\"i" + QByteArray::number(pick(12)) + "\"";
        if (chance(4))
            out += " ref=\"i" + QByteArray::number(pick(14)) + "\"";
        if (chance(6))
            out += " refs=\" i" + QByteArray::number(pick(12)) + "  i" +
                   QByteArray::number(pick(16)) + " \"";
        if (chance(3))
            out += " n=\"tok\"";
        if (chance(8))
            out += " t=\"z\"";
    }

    void element(QByteArray& out, int index, int depth, bool root) {
        const QByteArray tag = name(index);
        out += "<" + tag;
        if (root)
            out += " xmlns:p=\"urn:p\"";
        attributes(out);
        const Kind kind = lawful_ && !chance(40) ? kinds_[index] : Anything;
        int children = depth >= 4 ? pick(2) : (root && chance(4) ? 400 + pick(300) : pick(7));
        if (kind == Nothing)
            children = 0;
        if (children == 0 && chance(2)) {
            out += "/>";
            return;
        }
        out += ">";
        for (int i = 0; i < children; ++i) {
            if (kind == TextOnly) {
                out += chance(2) ? "text" : "&t;";
                continue;
            }
            if (kind == ElementsOnly) {
                if (chance(4))
                    out += chance(2) ? "\n  " : "<!-- c -->";
                else if (chance(8))
                    out += "&el;";
                else
                    element(out, pick(kNames), depth + 1, false);
                continue;
            }
            switch (pick(14)) {
                case 0:
                    out += "\n  ";
                    break;
                case 1:
                    out += "text";
                    break;
                case 2:
                    out += "<!-- c -->";
                    break;
                case 3:
                    out += "<?pi x?>";
                    break;
                case 4:
                    out += "<![CDATA[ ]]>";
                    break;
                case 5:
                    out += "&#32;";
                    break;
                case 6:
                    out += chance(2) ? "&el;" : "&mixed;";
                    break;
                case 7:
                    out += chance(2) ? "&t;" : (chance(2) ? "&sp;" : "&nil;");
                    break;
                default:
                    element(out, pick(kNames), depth + 1, false);
                    break;
            }
        }
        out += "</" + tag + ">";
    }

    std::uint32_t random_;
    bool lawful_ = false;
    bool undeclared_ = false;
    int nextId_ = 0;
    Kind kinds_[kNames] = {};
    QByteArray internal_;
    QByteArray external_;
};
