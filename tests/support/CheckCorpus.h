#pragma once
// The folder tree that the command line's tests and the window's check, through both.

#include "tests/support/TestFolder.h"

#include <QString>

// A folder tree with valid, invalid and DTD-checked files, and files the scan leaves out (five
// to gather with the extension xml). Returns the tree's folder.
inline QString MakeCheckCorpus(TestFolder& env) {
    env.write("tree/a.xml", "<a/>");
    env.write("tree/b.XML", "<b><c></b>");
    env.write("tree/notes.txt", "not xml, not gathered with --ext xml");
    env.write("tree/~skip.xml", "<a/>");
    env.write("tree/sub/doc.dtd", "<!ELEMENT doc (title)><!ELEMENT title (#PCDATA)>");
    env.write("tree/sub/good.xml", "<!DOCTYPE doc SYSTEM \"doc.dtd\"><doc><title>t</title></doc>");
    env.write("tree/sub/bad.xml", "<!DOCTYPE doc SYSTEM \"doc.dtd\"><doc><para/></doc>");
    env.write("tree/sub/deeper/ns.xml", "<p:a/>");
    env.write("tree/sub/deeper/README", "<x/>");
    return env.path("tree");
}
