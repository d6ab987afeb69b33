// The input list's schema commands: "Start Checking" once more, with every file also checked
// against a schema chosen for the run or against the schemas each document names. Nothing is
// stored: the next plain "Start Checking" checks as before.

#include "FileList.h"
#include "Form1.h"
#include "RunMark.h"
#include "running/WorkerPool.h"
#include "schemas/SchemaCheck.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Restores the plain run when it goes.
class SchemasOfRun {
public:
    SchemasOfRun(std::shared_ptr<const SchemaSet>& slot, std::shared_ptr<const SchemaSet> schemas)
        : slot_(slot) {
        slot_ = std::move(schemas);
    }
    ~SchemasOfRun() { slot_.reset(); }
    SchemasOfRun(const SchemasOfRun&) = delete;
    SchemasOfRun& operator=(const SchemasOfRun&) = delete;

private:
    std::shared_ptr<const SchemaSet>& slot_;
};

}  // namespace

void Form1::startCheckingWith(std::shared_ptr<const SchemaSet> schemas) {
    const SchemasOfRun run(runSchemas_, std::move(schemas));
    PushButton4_Click();
}

void Form1::StartCheckingAgainstSchema() {
    if (checkRunActive_)
        return;  // as a click on "Start Checking" while a run waits in its event pump
    if (ListView1->count() == 0) {
        PushButton4_Click();  // says that there is nothing to check
        return;
    }
    const QStringList chosen = platform().openFileNames(
        this, QStringLiteral("Choose a schema"),
        {QStringLiteral("Schemas (*.xsd, *.rng)|*.xsd;*.rng"),
         QStringLiteral("XML Schema (*.xsd)|*.xsd"), QStringLiteral("RELAX NG (*.rng)|*.rng"),
         QStringLiteral("All Files (*.*)|*.*")});
    if (chosen.isEmpty())
        return;
    if (chosen.size() > 1) {
        platform().showMessage(this, QStringLiteral("Choose one schema to check against."),
                               ApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    const QString file = chosen.front();
    const SchemaLanguage language = file.endsWith(QStringLiteral(".rng"), Qt::CaseInsensitive)
                                        ? SchemaLanguage::RelaxNg
                                        : SchemaLanguage::XmlSchema;
    SetWindowPointer(WindowPointer::Busy);
    ParseErrorReport why;
    std::shared_ptr<const SchemaSet> schema;
    {
        // Compiled on a thread of its own (a large schema takes seconds): the window repaints
        // and answers meanwhile, and takes no second run. The compile ends within its time
        // limit; a window closed meanwhile waits for it before it goes.
        const RunMark mark(checkRunActive_);
        std::atomic<bool> done{false};
        WorkerThread compiler(
            [&] {
                try {
                    schema = SchemaSet::compile(language, file, &why);
                } catch (const std::exception& e) {
                    why.reason = QString::fromUtf8(e.what());
                }
                done = true;
            },
            WorkerStackBytes(1));
        while (!done.load() && PumpEvents())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (unloaded())
        return;  // the window was closed: the program is ending
    SetWindowPointer(WindowPointer::Default);
    if (!schema) {
        platform().showMessage(
            this,
            QStringLiteral("The schema %1 cannot be used:\n%2").arg(file, SchemaErrorText(why)),
            ApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    startCheckingWith(std::move(schema));
}

void Form1::StartCheckingWithOwnSchemas() {
    if (checkRunActive_)
        return;
    startCheckingWith(SchemaSet::documentHints());
}
