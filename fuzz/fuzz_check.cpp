// libFuzzer target: the check of one document, through the same code as the check of a file.
// The document stands in a folder of its own beside a DTD and an entity it may refer to.

#include "fuzz/FuzzInputs.h"
#include "parse/ParserMemory.h"

#include <QDir>
#include <QFile>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>

namespace {

QString gFolder;
QString gDocument;

void removeFolder() {
    QDir(gFolder).removeRecursively();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitXmlChecking();
    // The fuzzer's own memory limit is 2 GB; a tree is stopped well before.
    SetParserMemoryLimit(std::size_t{256} << 20);
    QByteArray folder = QDir::tempPath().toLocal8Bit() + "/brellix-fuzz-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    gFolder = QFile::decodeName(folder);
    gDocument = gFolder + QStringLiteral("/input.xml");
    fuzz::WriteReferencedFiles(gFolder);
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString problem = fuzz::checkProblem(bytes, gDocument);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "broken promise: %s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
